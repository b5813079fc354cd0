#pragma once
// Helpers shared by the viewer's tests: writing grids in kestranov's exact output
// formats, reading PNGs back, and running the built binary.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "files.h"
#include "image.h"

namespace kestranov::preview::testing {

namespace fs = std::filesystem;

using ::TempDir;

// <name>_lidar.asc as kestranov writes it: CR LF header, every value "%lf" plus a
// TAB, all on one line. NaN cells are written as the nodata value.
std::string asc_text(std::size_t rows, std::size_t cols, double cellsize, const std::vector<double>& z);
void write_asc(const fs::path& file, std::size_t rows, std::size_t cols, double cellsize, const std::vector<double>& z);

// The .txt descriptor (CR LF lines, then trailing notes the viewer must ignore).
std::string descriptor_text(std::int64_t rows, std::int64_t cols, int bytes, std::int64_t zmin, std::int64_t zmax,
                            double cellsize);

// Writes image + descriptor; `scaled` holds the integer elevations. The 16-bit
// variant stores each value modulo 65536; the descriptor's min/max are computed.
void write_raw16(const fs::path& raw, std::size_t rows, std::size_t cols, double cellsize,
                 const std::vector<std::int64_t>& scaled);
void write_raw32(const fs::path& raw, std::size_t rows, std::size_t cols, double cellsize,
                 const std::vector<std::int64_t>& scaled);

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

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};
// Runs the built kestranov-preview with `args` from inside `workdir`, after
// the shell command `shell` ("ulimit -f 1;" for a file-size limit).
RunResult run_cli(const std::vector<std::string>& args, const fs::path& workdir, const std::string& shell = "");

}  // namespace kestranov::preview::testing
