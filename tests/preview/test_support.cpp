#include "test_support.h"

#include "preview/bitmap_font.h"

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

namespace {

// A pixel of the labels' ink: the map is left of the legend, and neither the
// ramp, the frame nor the nodata swatch is this dark.
bool dark(Rgb8 p) { return p.r < 60 && p.g < 60 && p.b < 60; }

struct InkBox {
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive; empty when x1 < x0
};

template <class Ink>
InkBox ink_box(int x_from, int x_to, int y_from, int y_to, const Ink& ink)
{
    InkBox b{x_to, y_to, -1, -1};
    for (int y = y_from; y < y_to; ++y)
        for (int x = x_from; x < x_to; ++x)
            if (ink(x, y)) b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
    return b;
}

}  // namespace

bool shows_text(const Png& png, int x_from, const std::string& text)
{
    RgbImage drawn(text_width(text, 2) + 2, text_height(2) + 2);
    draw_text(drawn, 1, 1, text, 2, {0, 0, 0});
    const InkBox want =
        ink_box(0, drawn.width(), 0, drawn.height(), [&](int x, int y) { return dark(drawn.get(x, y)); });
    // Each run of rows holding ink is one line of the legend.
    for (int y = 0; y < png.height;) {
        const auto row_inked = [&](int row) {
            for (int x = x_from; x < png.width; ++x)
                if (dark(png.at(x, row))) return true;
            return false;
        };
        if (!row_inked(y)) {
            ++y;
            continue;
        }
        int end = y;
        while (end < png.height && row_inked(end)) ++end;
        const InkBox got = ink_box(x_from, png.width, y, end, [&](int x, int r) { return dark(png.at(x, r)); });
        bool same = got.x1 - got.x0 == want.x1 - want.x0 && got.y1 - got.y0 == want.y1 - want.y0;
        for (int dy = 0; same && dy <= want.y1 - want.y0; ++dy)
            for (int dx = 0; same && dx <= want.x1 - want.x0; ++dx)
                same = dark(png.at(got.x0 + dx, got.y0 + dy)) == dark(drawn.get(want.x0 + dx, want.y0 + dy));
        if (same) return true;
        y = end;
    }
    return false;
}

RunResult run_cli(const std::vector<std::string>& args, const fs::path& workdir, const std::string& shell)
{
    return run_program(KESTRANOV_PREVIEW_EXE, args, workdir, shell);
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args, const fs::path& workdir,
                      const std::string& shell)
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
    cmd += shell_quoted(program);
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
