#include "points/las_reader.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "points/las_axis.h"
#include "points/las_header.h"
#include "points/read_error.h"

namespace kestranov {

namespace {

constexpr std::size_t las_block = 128 << 10;

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
            throw ReadError{.fault = ReadFault::beyond_double,
                            .path = batch.path(),
                            .record = batch.records() + static_cast<long long>(r) + 1};
    }
}

// The attributes a filter decides by, of `n` records of `length` bytes
// from `p`. Point formats 0 to 5 keep the return number in bits 0-2 of byte
// 14, the number of returns in bits 3-5 and the classification in the low 5
// bits of byte 15 (the flags above it); 6 to 10 keep them in bits 0-3 and
// 4-7 of byte 14, and the whole of byte 16.
void read_attributes(const unsigned char* p, std::size_t length, std::size_t n, int point_format, PointAttributes* out)
{
    const bool wide = point_format > 5;
    for (std::size_t r = 0; r < n; ++r) {
        const unsigned char* record = p + r * length;
        const unsigned returns = record[14];
        PointAttributes& a = out[r];
        a.classification = wide ? record[16] : narrow_class(record[15]);
        a.return_number = static_cast<std::uint8_t>(wide ? returns & 0x0Fu : returns & 7u);
        a.number_of_returns = static_cast<std::uint8_t>(wide ? returns >> 4 : (returns >> 3) & 7u);
    }
}

// Records too short for the bytes read_attributes reads: the reading
// needs only X, Y and Z unless it filters.
void check_attributes_held(const LasHeader& h, const std::string& path)
{
    const std::size_t needed = h.point_format() <= 5 ? 16 : 17;
    if (h.record_length < needed)
        throw ReadError{
            .fault = ReadFault::las_records_too_short, .path = path, .bytes = h.record_length, .needed = needed};
}

// LAS 1.0 to 1.2 end with their points, and so does 1.3 without waveform
// data inside the file (1.4 may add extended variable-length records):
// whole records beyond the count mean a header that disagrees with its
// file, as a count left at 0 would drop every point without a word. Bytes
// short of a record are left alone.
void check_nothing_after(const LasHeader& h, std::uint64_t file_size, const std::string& path)
{
    const bool ends_with_points = h.version_minor <= 2 || (h.version_minor == 3 && h.waveform_start == 0);
    const std::uint64_t whole = (file_size - h.offset_to_points) / h.record_length;
    if (ends_with_points && whole > h.count)
        throw ReadError{.fault = ReadFault::las_records_after_points,
                        .path = path,
                        .record = static_cast<long long>(whole - h.count),
                        .expected = h.count};
}

// The header of `f`, checked, and the file positioned at its points; the
// first reading also takes the file's CRS.
LasHeader read_header(InputFile& f, const std::string& path, FirstReading& first)
{
    const bool first_reading = !first.las;
    const LasHeader h = read_las_header(f, path, first.las);
    check_nothing_after(h, static_cast<std::uint64_t>(f.identity().size), path);
    if (first_reading) first.crs = read_las_crs(f, h);
    if (!f.seek(h.offset_to_points)) throw ReadError{.fault = ReadFault::cannot_be_read, .path = path};
    return h;
}

}  // namespace

InputEnd read_las(InputFile& f, RecordBatch& batch, const ReadingOptions& /*options*/, const ReadingSeams& seams,
                  FirstReading& first)
{
    const LasHeader h = read_header(f, batch.path(), first);
    const LasAxis x(h.scale[0], h.offset[0]), y(h.scale[1], h.offset[1]), z(h.scale[2], h.offset[2]);

    std::unique_ptr<PointAttributes[]> attributes;
    if (batch.filtering()) {
        check_attributes_held(h, batch.path());
        attributes.reset(new PointAttributes[point_batch]);
    }

    const std::size_t length = h.record_length;
    // Blocks that stay in the second-level cache while they are decoded.
    const std::size_t per_block = std::max<std::size_t>(1, std::min(seams.block_size, las_block) / length);
    std::unique_ptr<char[]> block(new char[per_block * length]);
    for (std::uint64_t left = h.count; left > 0;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, per_block));
        const long got = f.read(block.get(), want * length);
        if (got < 0) throw ReadError{.fault = ReadFault::cannot_be_read, .path = batch.path()};
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
            if (attributes) {
                read_attributes(p + done * length, length, n, h.point_format(), attributes.get());
                batch.added(n, attributes.get());
            } else {
                batch.added(n);
            }
            done += n;
        }
        left -= records;
        if (records < want) return {InputEnd::Kind::cut, h.count};
    }
    return {};
}

}  // namespace kestranov
