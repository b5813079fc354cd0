#include "points/las_header.h"

#include <charconv>
#include <cmath>

#include "points/read_error.h"

namespace kestranov {

namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& why)
{
    throw ReadError{.fault = ReadFault::refused, .path = path, .reason = why};
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
    const bool waveforms = h.version_minor >= 3 && h.header_size >= las_waveform_header && n >= las_waveform_header;
    h.waveform_start = waveforms ? little_endian<std::uint64_t>(b + 227) : 0;
    const bool extended = h.version_minor >= 4 && h.header_size >= 247 && n >= 247;
    h.evlr_start = extended ? little_endian<std::uint64_t>(b + 235) : 0;
    h.evlr_count = extended ? little_endian<std::uint32_t>(b + 243) : 0;
    // Max X, min X, max Y, min Y, max Z, min Z.
    for (int a = 0; a < 3; ++a) {
        h.max[a] = little_endian<double>(b + 179 + 16 * a);
        h.min[a] = little_endian<double>(b + 187 + 16 * a);
    }
    return h;
}

// Later versions may move the fields read here; 0.9 and earlier differ.
void check_version(const LasHeader& h, const std::string& path)
{
    if (h.version_major != 1 || h.version_minor > 4)
        refuse(path, "its LAS version " + std::to_string(h.version_major) + "." + std::to_string(h.version_minor) +
                         " is none of 1.0 to 1.4");
}

void check_layout(const LasHeader& h, std::uint64_t file_size, const std::string& path)
{
    const std::string size = " (the file has " + std::to_string(file_size) + " bytes)";
    if (h.header_size < las_legacy_header || h.header_size > file_size)
        refuse(path, "its LAS header size of " + std::to_string(h.header_size) + " bytes is impossible" + size);
    const std::string points = "its offset to the LAS points, " + std::to_string(h.offset_to_points) + ",";
    if (h.offset_to_points < h.header_size)
        refuse(path, points + " is below its header size of " + std::to_string(h.header_size) + " bytes");
    if (h.offset_to_points > file_size) refuse(path, points + " lies beyond the end of the file" + size);
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
    check_version(h, path);
    check_layout(h, file_size, path);
    check_points(h, path);
    return h;
}

bool las_compressed(const unsigned char* b, std::size_t n)
{
    return n > 104 && std::memcmp(b, "LASF", 4) == 0 && (b[104] & 0xC0) != 0;
}

bool las_uncompressed(const unsigned char* b, std::size_t n)
{
    return n > 104 && std::memcmp(b, "LASF", 4) == 0 && (b[104] & 0xC0) == 0;
}

namespace {

// A fact of the header that the reading depends on, as a message shows it.
struct HeaderFact {
    const char* name;
    std::string now, first;
};

// Shortest digits that read back as `v`, without an exponent for the
// usual magnitudes of scales and offsets.
std::string shown(double v)
{
    char text[64];
    const double a = std::fabs(v);
    const auto format = a == 0.0 || (a >= 1e-9 && a < 1e16) ? std::chars_format::fixed : std::chars_format::general;
    return std::string(text, std::to_chars(text, text + sizeof text, v, format).ptr);
}

// The second reading against the header of the first: a header rewritten in
// place with its date put back would otherwise read as other points, or as a
// cut file.
void check_same_header(const LasHeader& h, const LasHeader& first, const std::string& path)
{
    const HeaderFact facts[] = {
        {"offset to the points", std::to_string(h.offset_to_points), std::to_string(first.offset_to_points)},
        {"point data format", std::to_string(h.format), std::to_string(first.format)},
        {"record length", std::to_string(h.record_length), std::to_string(first.record_length)},
        {"point count", std::to_string(h.count), std::to_string(first.count)},
        {"X scale factor", shown(h.scale[0]), shown(first.scale[0])},
        {"Y scale factor", shown(h.scale[1]), shown(first.scale[1])},
        {"Z scale factor", shown(h.scale[2]), shown(first.scale[2])},
        {"X offset", shown(h.offset[0]), shown(first.offset[0])},
        {"Y offset", shown(h.offset[1]), shown(first.offset[1])},
        {"Z offset", shown(h.offset[2]), shown(first.offset[2])}};
    for (const HeaderFact& f : facts)
        if (f.now != f.first)
            throw ReadError{
                .fault = ReadFault::las_header_changed, .path = path, .field = f.name, .now = f.now, .first = f.first};
}

}  // namespace

LasHeader read_las_header(InputFile& f, const std::string& path, std::optional<LasHeader>& first)
{
    unsigned char head[las_largest_header];
    const long n = f.read(reinterpret_cast<char*>(head), sizeof head);
    if (n < 0) throw ReadError{.fault = ReadFault::cannot_be_read, .path = path};
    const auto file_size = static_cast<std::uint64_t>(f.identity().size);
    const LasHeader h = parse_las_header(head, static_cast<std::size_t>(n), file_size, path);
    if (first) check_same_header(h, *first, path);
    if (!first) first = h;
    return h;
}

}  // namespace kestranov
