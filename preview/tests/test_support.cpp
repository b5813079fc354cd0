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

namespace {

std::string printf_lf(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lf", v);
    return buf;
}

std::string sh_quote(const std::string& s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

void write_raw(const fs::path& raw, std::size_t rows, std::size_t cols, double cellsize,
               const std::vector<std::int64_t>& scaled, int bytes)
{
    if (scaled.size() != rows * cols) throw std::invalid_argument("write_raw: wrong number of cells");
    std::string data;
    for (std::int64_t v : scaled) {
        std::uint32_t u;
        if (bytes == 2) {
            std::int64_t m = v % 65536;
            if (m < 0) m += 65536;
            u = static_cast<std::uint32_t>(m);
        } else {
            u = static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
        }
        for (int b = 0; b < bytes; ++b) data.push_back(static_cast<char>((u >> (8 * b)) & 0xFF));
    }
    write_file(raw, data);
    const auto [lo, hi] = std::minmax_element(scaled.begin(), scaled.end());
    fs::path txt = raw;
    txt.replace_extension(".txt");
    write_file(txt, descriptor_text(static_cast<std::int64_t>(rows), static_cast<std::int64_t>(cols), bytes, *lo, *hi,
                                    cellsize));
}

}  // namespace

std::string asc_text(std::size_t rows, std::size_t cols, double cellsize, const std::vector<double>& z)
{
    if (z.size() != rows * cols) throw std::invalid_argument("asc_text: wrong number of cells");
    char buf[256];
    std::string s;
    std::snprintf(buf, sizeof buf,
                  "ncols %d\r\nnrows %d\r\nxllcorner %lf\r\nyllcorner %lf\r\ncellsize %lf\r\n"
                  "nodata_value -9999.9999\r\n",
                  static_cast<int>(cols), static_cast<int>(rows), 512000.0, 5401000.0, cellsize);
    s += buf;
    for (double v : z) s += printf_lf(std::isnan(v) ? -9999.9999 : v) + "\t";
    return s;
}

void write_asc(const fs::path& file, std::size_t rows, std::size_t cols, double cellsize, const std::vector<double>& z)
{
    write_file(file, asc_text(rows, cols, cellsize, z));
}

std::string descriptor_text(std::int64_t rows, std::int64_t cols, int bytes, std::int64_t zmin, std::int64_t zmax,
                            double cellsize)
{
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "%lld\r\n%lld\r\n%d\r\n%lld\r\n%lld\r\n%lf\r\n\r\n\r\n"
                  "UTM zone 33 north, lower left corner 512000.000000 5401000.000000\r\n"
                  "last returns\r\n",
                  static_cast<long long>(rows), static_cast<long long>(cols), bytes, static_cast<long long>(zmin),
                  static_cast<long long>(zmax), cellsize);
    return buf;
}

void write_raw16(const fs::path& raw, std::size_t rows, std::size_t cols, double cellsize,
                 const std::vector<std::int64_t>& scaled)
{
    write_raw(raw, rows, cols, cellsize, scaled, 2);
}

void write_raw32(const fs::path& raw, std::size_t rows, std::size_t cols, double cellsize,
                 const std::vector<std::int64_t>& scaled)
{
    write_raw(raw, rows, cols, cellsize, scaled, 4);
}

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
    cmd += sh_quote(workdir.string());
    cmd += " && ";
    cmd += shell;
    cmd += " exec ";
    cmd += sh_quote(KESTRANOV_PREVIEW_EXE);
    for (const std::string& a : args) {
        cmd += ' ';
        cmd += sh_quote(a);
    }
    cmd += " >";
    cmd += sh_quote(out_file.string());
    cmd += " 2>";
    cmd += sh_quote(err_file.string());
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
