#pragma once
// Helpers shared by the viewer's tests: writing grids in kestranov's exact output
// formats, reading PNGs back, and running the built binary.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "files.h"
#include "model_fixtures.h"
#include "preview/image.h"

namespace kestranov::preview::testing {

namespace fs = std::filesystem;

using ::TempDir;

// The model fixtures of the readers' tests.
using namespace kestranov::models::testing;

struct Png {
    int width = 0;
    int height = 0;
    bool rgb8 = false;  // stored as 8-bit RGB without alpha
    std::vector<std::uint8_t> rgb;
    Rgb8 at(int x, int y) const
    {
        const std::size_t i =
            (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};
// Independent of the writer: uses libpng's reading side.
std::optional<Png> read_png(const fs::path& file);

// Whether a line of dark ink at or right of column `x_from` is exactly
// `text` as the legend's font draws it at scale 2 (the whole line: "max 5"
// is not "max 5 m").
bool shows_text(const Png& png, int x_from, const std::string& text);

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};
// Runs `program` with `args` from inside `workdir`, after the shell command
// `shell` ("ulimit -f 1;" for a file-size limit); run_cli runs the built
// kestranov-preview.
RunResult run_program(const std::string& program, const std::vector<std::string>& args, const fs::path& workdir,
                      const std::string& shell = "");
RunResult run_cli(const std::vector<std::string>& args, const fs::path& workdir, const std::string& shell = "");

}  // namespace kestranov::preview::testing
