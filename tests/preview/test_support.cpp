#include "test_support.h"

#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestranov::preview::testing {

std::optional<Png> read_png(const fs::path& file)
{
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, file.c_str())) return std::nullopt;
    Png out;
    out.width = static_cast<int>(img.width);
    out.height = static_cast<int>(img.height);
    out.rgb8 = img.format == PNG_FORMAT_RGB;
    img.format = PNG_FORMAT_RGB;
    out.rgb.resize(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, out.rgb.data(), 0, nullptr)) {
        png_image_free(&img);
        return std::nullopt;
    }
    return out;
}

RunResult run_cli(const std::vector<std::string>& args, const fs::path& workdir, const std::string& shell)
{
    // Captured beside, not inside, workdir so that listings of workdir stay exact.
    fs::path out_file = workdir;
    out_file += ".stdout";
    fs::path err_file = workdir;
    err_file += ".stderr";
    // Appended piecewise: GCC 12 warns spuriously about "literal" + std::string&&.
    std::string cmd = "cd ";
    cmd += shell_quoted(workdir.string());
    cmd += " && ";
    cmd += shell;
    cmd += " exec ";
    cmd += shell_quoted(KESTRANOV_PREVIEW_EXE);
    for (const std::string& a : args) {
        cmd += ' ';
        cmd += shell_quoted(a);
    }
    cmd += " >";
    cmd += shell_quoted(out_file.string());
    cmd += " 2>";
    cmd += shell_quoted(err_file.string());
    RunResult r;
    const int raw = std::system(cmd.c_str());
    r.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
    r.out = read_file(out_file);
    r.err = read_file(err_file);
    std::error_code ec;
    fs::remove(out_file, ec);
    fs::remove(err_file, ec);
    return r;
}

}  // namespace kestranov::preview::testing
