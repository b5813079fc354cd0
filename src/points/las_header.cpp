#include "points/las_header.h"

#include <cmath>

#include "core/fatal.h"

namespace kestranov {

namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& why)
{
    fail("\n\n\tFile " + path + ": " + why + "\n");
}

LasHeader fields(const unsigned char* b, std::size_t n)
{
    LasHeader h{};
    h.version_major = b[24];
    h.version_minor = b[25];
    h.header_size = little_endian<std::uint16_t>(b + 94);
    h.offset_to_points = little_endian<std::uint32_t>(b + 96);
    h.vlr_count = little_endian<std::uint32_t>(b + 100);
    h.format = b[104];
    h.record_length = little_endian<std::uint16_t>(b + 105);
    const bool wide_count = h.version_major == 1 && h.version_minor >= 4 && h.header_size >= 255 && n >= 255;
    h.count = wide_count ? little_endian<std::uint64_t>(b + 247) : little_endian<std::uint32_t>(b + 107);
    for (int a = 0; a < 3; ++a) {
        h.scale[a] = little_endian<double>(b + 131 + 8 * a);
        h.offset[a] = little_endian<double>(b + 155 + 8 * a);
    }
    return h;
}

void check_layout(const LasHeader& h, std::uint64_t file_size, const std::string& path)
{
    const std::string size = " (the file has " + std::to_string(file_size) + " bytes)";
    if (h.header_size < las_legacy_header || h.header_size > file_size)
        refuse(path, "its LAS header size of " + std::to_string(h.header_size) + " bytes is impossible" + size);
    if (h.offset_to_points < h.header_size || h.offset_to_points > file_size)
        refuse(path, "its offset to the LAS points, " + std::to_string(h.offset_to_points) +
                         ", lies outside the points' part of the file" + size);
}

void check_points(const LasHeader& h, const std::string& path)
{
    if (h.point_format() > 10)
        refuse(path, "its LAS point data format " + std::to_string(h.point_format()) + " is none of 0 to 10");
    if (h.record_length < 12)
        refuse(path, "its LAS point records of " + std::to_string(h.record_length) +
                         " bytes are shorter than the 12 bytes of X, Y and Z");
    for (int a = 0; a < 3; ++a) {
        const std::string axis(1, "XYZ"[a]);
        if (!std::isfinite(h.scale[a]) || h.scale[a] == 0.0)
            refuse(path,
                   "its LAS scale factor for " + axis + " is " + (h.scale[a] == 0.0 ? "0" : "not a finite number"));
        if (!std::isfinite(h.offset[a])) refuse(path, "its LAS offset for " + axis + " is not a finite number");
    }
}

}  // namespace

LasHeader parse_las_header(const unsigned char* b, std::size_t n, std::uint64_t file_size, const std::string& path)
{
    if (n >= 4 && std::memcmp(b, "LASF", 4) != 0) refuse(path, "not a LAS file: it does not begin with \"LASF\"");
    if (n < las_legacy_header)
        refuse(path, "too short for a LAS file: " + std::to_string(n) + " bytes, where the header alone takes " +
                         std::to_string(las_legacy_header));
    const LasHeader h = fields(b, n);
    check_layout(h, file_size, path);
    check_points(h, path);
    return h;
}

}  // namespace kestranov
