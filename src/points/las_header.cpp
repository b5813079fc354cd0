#include "points/las_header.h"

#include <charconv>
#include <cmath>

#include "points/read_error.h"

namespace kestranov {

namespace {

using Why = RefusalReason;

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
        refuse(path, {Why::las_version, {h.version_major, h.version_minor}});
}

void check_layout(const LasHeader& h, std::uint64_t file_size, const std::string& path)
{
    if (h.header_size < las_legacy_header || h.header_size > file_size)
        refuse(path, {Why::las_header_size, {h.header_size, file_size}});
    if (h.offset_to_points < h.header_size)
        refuse(path, {Why::las_points_below_header, {h.offset_to_points, h.header_size}});
    if (h.offset_to_points > file_size) refuse(path, {Why::las_points_beyond_end, {h.offset_to_points, file_size}});
}

void check_points(const LasHeader& h, const std::string& path)
{
    if (h.point_format() > 10) refuse(path, {Why::las_point_format, {std::uint64_t(h.point_format())}});
    if (h.record_length < 12) refuse(path, {Why::las_records_below_xyz, {h.record_length}});
    for (std::uint64_t a = 0; a < 3; ++a) {
        if (h.scale[a] == 0.0) refuse(path, {Why::las_scale_zero, {a}});
        if (!std::isfinite(h.scale[a])) refuse(path, {Why::las_scale_not_finite, {a}});
        if (!std::isfinite(h.offset[a])) refuse(path, {Why::las_offset_not_finite, {a}});
    }
}

}  // namespace

LasHeader parse_las_header(const unsigned char* b, std::size_t n, std::uint64_t file_size, const std::string& path)
{
    if (n >= 4 && std::memcmp(b, "LASF", 4) != 0) refuse(path, {Why::not_las});
    if (n < las_legacy_header) refuse(path, {Why::too_short_for_las, {n, las_legacy_header}});
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

// A fact of the header that the reading depends on, in its shortest exact
// digits.
struct HeaderFact {
    LasHeaderField field;
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
    using F = LasHeaderField;
    const HeaderFact facts[] = {
        {F::offset_to_points, std::to_string(h.offset_to_points), std::to_string(first.offset_to_points)},
        {F::point_data_format, std::to_string(h.format), std::to_string(first.format)},
        {F::record_length, std::to_string(h.record_length), std::to_string(first.record_length)},
        {F::point_count, std::to_string(h.count), std::to_string(first.count)},
        {F::x_scale, shown(h.scale[0]), shown(first.scale[0])},
        {F::y_scale, shown(h.scale[1]), shown(first.scale[1])},
        {F::z_scale, shown(h.scale[2]), shown(first.scale[2])},
        {F::x_offset, shown(h.offset[0]), shown(first.offset[0])},
        {F::y_offset, shown(h.offset[1]), shown(first.offset[1])},
        {F::z_offset, shown(h.offset[2]), shown(first.offset[2])}};
    for (const HeaderFact& f : facts)
        if (f.now != f.first)
            throw ReadError{
                .fault = ReadFault::las_header_changed, .path = path, .field = f.field, .now = f.now, .first = f.first};
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
