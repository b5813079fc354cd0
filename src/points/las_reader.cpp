#include "points/las_reader.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "core/fatal.h"
#include "points/text_reader.h"

namespace kestranov {

namespace {

constexpr std::size_t legacy_header = 227;   // the public header block of LAS 1.0 to 1.2
constexpr std::size_t largest_header = 375;  // that of LAS 1.4
constexpr std::size_t las_block = 128 << 10;
constexpr std::int64_t exact_integers = std::int64_t{1} << 53;
constexpr double powers_of_ten[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

template <class T>
T little_endian(const unsigned char* p)
{
    T value;
    std::memcpy(&value, p, sizeof value);  // x86-64 and every LAS file are little-endian
    return value;
}

struct LasHeader {
    std::uint16_t header_size;
    std::uint32_t offset_to_points;
    std::uint8_t format;
    std::uint16_t record_length;
    std::uint64_t count;
    double scale[3], offset[3];
};

[[noreturn]] void refuse(const std::string& path, const std::string& why)
{
    fail("\n\n\tFile " + path + ": " + why + "\n");
}

// The header fields the reading needs, checked against what any LAS file
// holds and against the file's size.
LasHeader parse_header(const unsigned char* b, std::size_t n, std::uint64_t file_size, const std::string& path)
{
    if (n >= 4 && std::memcmp(b, "LASF", 4) != 0) refuse(path, "not a LAS file: it does not begin with \"LASF\"");
    if (n < legacy_header)
        refuse(path, "too short for a LAS file: " + std::to_string(n) + " bytes, where the header alone takes " +
                         std::to_string(legacy_header));
    LasHeader h{};
    h.header_size = little_endian<std::uint16_t>(b + 94);
    h.offset_to_points = little_endian<std::uint32_t>(b + 96);
    h.format = b[104];
    h.record_length = little_endian<std::uint16_t>(b + 105);
    const bool wide_count = b[24] == 1 && b[25] >= 4 && h.header_size >= 255 && n >= 255;
    h.count = wide_count ? little_endian<std::uint64_t>(b + 247) : little_endian<std::uint32_t>(b + 107);
    for (int a = 0; a < 3; ++a) {
        h.scale[a] = little_endian<double>(b + 131 + 8 * a);
        h.offset[a] = little_endian<double>(b + 155 + 8 * a);
    }
    const std::string size = " (the file has " + std::to_string(file_size) + " bytes)";
    if (h.header_size < legacy_header || h.header_size > file_size)
        refuse(path, "its LAS header size of " + std::to_string(h.header_size) + " bytes is impossible" + size);
    if (h.offset_to_points < h.header_size || h.offset_to_points > file_size)
        refuse(path, "its offset to the LAS points, " + std::to_string(h.offset_to_points) +
                         ", lies outside the points' part of the file" + size);
    if (h.format & 0xC0)
        fail("\n\n\tFile " + path +
             " is compressed LAS (LAZ): decompress it to LAS first, for example with laszip or pdal translate\n");
    if (h.format > 10) refuse(path, "its LAS point data format " + std::to_string(h.format) + " is none of 0 to 10");
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
    return h;
}

// m x 10^-k as text, then converted exactly: for the few values whose
// integer goes beyond 2^53, where one division would round twice.
double exact_decimal(std::int64_t m, int k)
{
    std::string digits = std::to_string(m < 0 ? -static_cast<std::uint64_t>(m) : static_cast<std::uint64_t>(m));
    if (digits.size() <= static_cast<std::size_t>(k))
        digits.insert(0, static_cast<std::size_t>(k) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(k), 1, '.');
    if (m < 0) digits.insert(0, 1, '-');
    double v = 0.0;
    std::from_chars(digits.data(), digits.data() + digits.size(), v);
    return v;
}

// The range of `n` records as two corner points, from the smallest and
// largest integers of each axis: a quick value grows with its integer.
void decode_range(const unsigned char* p, std::size_t length, std::size_t n, const LasAxis& x, const LasAxis& y,
                  const LasAxis& z, Point& low, Point& high)
{
    std::int32_t lo[3], hi[3];
    for (int a = 0; a < 3; ++a) lo[a] = hi[a] = little_endian<std::int32_t>(p + 4 * a);
    for (std::size_t r = 0; r < n; ++r, p += length)
        for (int a = 0; a < 3; ++a) {
            const auto v = little_endian<std::int32_t>(p + 4 * a);
            lo[a] = std::min(lo[a], v);
            hi[a] = std::max(hi[a], v);
        }
    low = {x.quick_value(lo[0]), y.quick_value(lo[1]), z.quick_value(lo[2])};
    high = {x.quick_value(hi[0]), y.quick_value(hi[1]), z.quick_value(hi[2])};
}

// `n` records of `length` bytes from `p`: the loop without a test per value
// when every axis is quick, as for the usual scales of 0.01 or 0.001.
void decode(const unsigned char* p, std::size_t length, std::size_t n, const LasAxis& x, const LasAxis& y,
            const LasAxis& z, Point* out, const RecordBatch& batch)
{
    if (x.quick() && y.quick() && z.quick()) {
        for (std::size_t r = 0; r < n; ++r, p += length)
            out[r] = {x.quick_value(little_endian<std::int32_t>(p)), y.quick_value(little_endian<std::int32_t>(p + 4)),
                      z.quick_value(little_endian<std::int32_t>(p + 8))};
        return;
    }
    // A finite scale and offset can still make a value beyond a double
    // (a scale of 1e300): refused as a text number beyond a double is.
    for (std::size_t r = 0; r < n; ++r, p += length) {
        out[r] = {x.value(little_endian<std::int32_t>(p)), y.value(little_endian<std::int32_t>(p + 4)),
                  z.value(little_endian<std::int32_t>(p + 8))};
        if (!std::isfinite(out[r].x) || !std::isfinite(out[r].y) || !std::isfinite(out[r].z))
            fail("\n\n\tFile " + batch.path() + ", point " + std::to_string(batch.records() + r + 1) +
                 ": its scaled coordinates are beyond the range of a double\n");
    }
}

[[noreturn]] void cut_short(const RecordBatch& batch, std::uint64_t count)
{
    fail("\n\n\tFile " + batch.path() + " ends after " + std::to_string(batch.records()) +
         " points, where its LAS header announces " + std::to_string(count) + ": point " +
         std::to_string(batch.records() + 1) + " is missing (the file was cut, for example by an interrupted copy)\n");
}

}  // namespace

LasAxis::LasAxis(double scale, double offset) : scale_(scale), offset_(offset)
{
    for (int k = 0; k < 16; ++k) {
        if (scale != 1.0 / powers_of_ten[k]) continue;
        const double units = std::nearbyint(offset * powers_of_ten[k]);
        if (!(std::fabs(units) < static_cast<double>(exact_integers))) return;
        if (units / powers_of_ten[k] != offset) return;
        decimal_ = true, k_ = k, divisor_ = powers_of_ten[k], units_ = units;
        quick_ = std::fabs(units) < static_cast<double>(exact_integers - (std::int64_t{1} << 32));
        return;
    }
}

double LasAxis::value(std::int32_t i) const
{
    if (quick_) return quick_value(i);
    if (decimal_) {
        const std::int64_t m = i + static_cast<std::int64_t>(units_);
        // Both exact in a double: one correctly rounded division.
        if (m > -exact_integers && m < exact_integers) return static_cast<double>(m) / divisor_;
        return exact_decimal(m, k_);
    }
    const double product = static_cast<double>(i) * scale_;
    return product + offset_;
}

void read_las(InputFile& f, RecordBatch& batch)
{
    unsigned char head[largest_header];
    const long n = f.read(reinterpret_cast<char*>(head), sizeof head);
    if (n < 0) fail("\n\n\tFile " + batch.path() + " cannot be read\n");
    const LasHeader h =
        parse_header(head, static_cast<std::size_t>(n), static_cast<std::uint64_t>(f.identity().size), batch.path());
    if (!f.seek(h.offset_to_points)) fail("\n\n\tFile " + batch.path() + " cannot be read\n");
    const LasAxis x(h.scale[0], h.offset[0]), y(h.scale[1], h.offset[1]), z(h.scale[2], h.offset[2]);

    const std::size_t length = h.record_length;
    // Blocks that stay in the second-level cache while they are decoded.
    const std::size_t per_block = std::max<std::size_t>(1, std::min(point_block_size(), las_block) / length);
    std::unique_ptr<char[]> block(new char[per_block * length]);
    for (std::uint64_t left = h.count; left > 0;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, per_block));
        const long got = f.read(block.get(), want * length);
        if (got < 0) fail("\n\n\tFile " + batch.path() + " cannot be read\n");
        const std::size_t records = static_cast<std::size_t>(got) / length;
        const auto* p = reinterpret_cast<const unsigned char*>(block.get());
        const bool ranges = batch.extents_only() && x.quick() && y.quick() && z.quick();
        for (std::size_t done = 0; ranges && done < records;) {
            const std::size_t n = std::min(records - done, point_batch);
            Point low, high;
            decode_range(p + done * length, length, n, x, y, z, low, high);
            batch.added_range(n, low, high);
            done += n;
        }
        for (std::size_t done = 0; !ranges && done < records;) {
            std::size_t n = records - done;
            Point* out = batch.room(n);
            decode(p + done * length, length, n, x, y, z, out, batch);
            batch.added(n);
            done += n;
        }
        left -= records;
        if (records < want) cut_short(batch, h.count);
    }
}

}  // namespace kestranov
