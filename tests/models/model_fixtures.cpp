#include "model_fixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "core/model_files.h"
#include "files.h"

namespace kestranov::models::testing {

namespace {

std::string printf_lf(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lf", v);
    return buf;
}

void write_raw(const fs::path& raw, std::size_t rows, std::size_t cols, double cellsize,
               const std::vector<std::int64_t>& scaled, int bytes)
{
    if (scaled.size() != rows * cols) throw std::invalid_argument("write_raw: wrong number of cells");
    std::string data;
    for (std::int64_t v : scaled) {
        std::uint32_t u;
        if (bytes == raster16_bytes) {
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
                  "nodata_value %s\r\n",
                  static_cast<int>(cols), static_cast<int>(rows), fixture_xll, fixture_yll, cellsize,
                  std::string(asc_nodata_text).c_str());
    s += buf;
    const double nodata = std::stod(std::string(asc_nodata_text));
    for (double v : z) s += printf_lf(std::isnan(v) ? nodata : v) + "\t";
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
    // The layout the program writes: six numbers, three empty lines, then
    // the corners of the cloud widened by descriptor_margin (here a cloud
    // whose lower left corner is the one asc_text gives).
    std::snprintf(buf, sizeof buf,
                  "%lld\r\n%lld\r\n%d\r\n%lld\r\n%lld\r\n%lf\r\n\r\n\r\n\r\n\tUTM Coordinates :\r\n"
                  "\t\tX min : %lf Y min : %lf \r\n\t\tX max : %lf Y max : %lf \r\n\r\n"
                  "\tlast return [Provisional MT generation] \r\n",
                  static_cast<long long>(rows), static_cast<long long>(cols), bytes, static_cast<long long>(zmin),
                  static_cast<long long>(zmax), cellsize, fixture_xll - descriptor_margin,
                  fixture_yll - descriptor_margin,
                  fixture_xll + static_cast<double>(cols) * cellsize + descriptor_margin,
                  fixture_yll + static_cast<double>(rows) * cellsize + descriptor_margin);
    return buf;
}

void write_raw16(const fs::path& raw, std::size_t rows, std::size_t cols, double cellsize,
                 const std::vector<std::int64_t>& scaled)
{
    write_raw(raw, rows, cols, cellsize, scaled, raster16_bytes);
}

void write_raw32(const fs::path& raw, std::size_t rows, std::size_t cols, double cellsize,
                 const std::vector<std::int64_t>& scaled)
{
    write_raw(raw, rows, cols, cellsize, scaled, raster32_bytes);
}

}  // namespace kestranov::models::testing
