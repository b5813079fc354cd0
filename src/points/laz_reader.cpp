#include "points/laz_reader.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "points/las_axis.h"
#include "points/las_crs.h"
#include "points/las_vlrs.h"
#include "points/laz_decoding.h"
#include "points/laz_format.h"
#include "points/read_error.h"

namespace kestranov {

namespace {

constexpr std::uint16_t laszip_record_id = 22204;
constexpr std::string_view laszip_user_id = "laszip encoded";
// An entry of the chunk table takes two or three bytes in practice; a
// table given this much is never cut short by the bytes read for it.
constexpr std::uint64_t table_bytes_per_chunk = 32, table_slack = 64;
// Every point of a chunk but the first costs at least one symbol of a
// 64-symbol model, whose likeliest symbol still costs more than 1/400 of a
// bit: no encoder puts more points than this in a byte.
constexpr std::uint64_t most_points_per_byte = 4096;

using Why = RefusalReason;

[[noreturn]] void unreadable(const std::string& path)
{
    throw ReadError{.fault = ReadFault::cannot_be_read, .path = path};
}

// Every read below stays within the size the file had when it was opened:
// a read that comes back short means the file was cut or replaced since.
[[noreturn]] void shrank(const std::string& path) { throw ReadError{.fault = ReadFault::replaced, .path = path}; }

// `n` bytes from byte `at`, which the file's size says it holds.
void read_at(InputFile& f, std::uint64_t at, unsigned char* p, std::size_t n, const std::string& path)
{
    if (!f.seek(at)) unreadable(path);
    const long got = f.read(reinterpret_cast<char*>(p), n);
    if (got < 0) unreadable(path);
    if (static_cast<std::size_t>(got) != n) shrank(path);
}

// The LASzip VLR among the variable-length records before the points.
LaszipVlr find_laszip_vlr(InputFile& f, const LasHeader& h, const std::string& path)
{
    std::optional<LasVlr> found;
    walk_vlrs(
        h,
        [&](std::uint64_t at, unsigned char* p, std::size_t n) {
            read_at(f, at, p, n, path);
            return true;
        },
        [&](const LasVlr& v) {
            if (v.is(laszip_user_id, laszip_record_id)) found = v;
            return !found;
        });
    if (!found) refuse(path, {Why::no_laszip_vlr});
    const auto length = static_cast<std::size_t>(found->length);
    if (found->at + length > h.offset_to_points) refuse(path, {Why::laszip_vlr_into_points, {length}});
    std::vector<unsigned char> payload(length);
    read_at(f, found->at, payload.data(), length, path);
    Refusal why;
    LaszipVlr vlr = parse_laszip_vlr(payload.data(), length, why);
    if (why) refuse(path, std::move(why));
    return vlr;
}

// A file that ends before its chunk table: nothing says where its chunks
// are, so none of its points can be found.
[[noreturn]] void table_cut(const std::string& path, std::uint64_t file_size, std::uint64_t table)
{
    throw ReadError{.fault = ReadFault::laz_table_beyond_end, .path = path, .bytes = file_size, .at = table};
}

// A table whose entries run on past the file's end: it was cut there, or
// its entries are damaged (the two look alike, as the table ends the file).
[[noreturn]] void table_short(const std::string& path, std::uint64_t table)
{
    throw ReadError{.fault = ReadFault::laz_table_cut, .path = path, .at = table};
}

// Where the chunk table starts: the 8 bytes at the start of the points
// give it, or, from a writer that could not go back to write them (-1
// there), the file's last 8 bytes do.
std::uint64_t chunk_table_place(InputFile& f, const LasHeader& h, std::uint64_t file_size, const std::string& path)
{
    const std::uint64_t first_chunk = std::uint64_t{h.offset_to_points} + 8;
    if (file_size < first_chunk) table_cut(path, file_size, h.offset_to_points);
    unsigned char p[8];
    read_at(f, h.offset_to_points, p, 8, path);
    auto at = little_endian<std::int64_t>(p);
    if (at == -1 && file_size >= first_chunk + 8) {
        read_at(f, file_size - 8, p, 8, path);
        at = little_endian<std::int64_t>(p);
        // Those bytes are the table's pointer only if the file still ends
        // where its writer ended it.
        if (at < 0 || static_cast<std::uint64_t>(at) < first_chunk || static_cast<std::uint64_t>(at) + 16 > file_size)
            throw ReadError{
                .fault = ReadFault::laz_table_pointer_lost, .path = path, .bytes = file_size, .pointer = at};
    }
    if (at < 0 || static_cast<std::uint64_t>(at) < first_chunk)
        refuse(path, {Why::laz_table_pointer_early, {static_cast<std::uint64_t>(at), file_size}});
    const auto table = static_cast<std::uint64_t>(at);
    if (table >= file_size) table_cut(path, file_size, table);
    if (table + 8 > file_size) table_short(path, table);
    return table;
}

std::vector<LazChunk> read_chunk_table(InputFile& f, const LasHeader& h, const LaszipVlr& vlr, std::uint64_t table,
                                       std::uint64_t file_size, const std::string& path)
{
    unsigned char head[8];
    read_at(f, table, head, 8, path);
    const auto version = little_endian<std::uint32_t>(head);
    const auto count = little_endian<std::uint32_t>(head + 4);
    if (version != 0) refuse(path, {Why::laz_table_version, {version}});
    // Each chunk begins with its first point whole.
    const std::uint64_t first_chunk = std::uint64_t{h.offset_to_points} + 8;
    const std::uint64_t room = (table - first_chunk) / h.record_length;
    if (count > room) refuse(path, {Why::laz_table_count_room, {count, table - first_chunk, room, h.record_length}});
    const std::uint64_t to_end = file_size - table - 8;
    const std::uint64_t n = std::min(to_end, table_slack + table_bytes_per_chunk * count);
    std::vector<unsigned char> entries(static_cast<std::size_t>(n));
    read_at(f, table + 8, entries.data(), entries.size(), path);
    Refusal why;
    bool ends_early = false;
    std::vector<LazChunk> chunks = decode_chunk_table(entries.data(), entries.data() + entries.size(), count, vlr,
                                                      first_chunk, h.count, why, &ends_early);
    if (n == to_end && ends_early) table_short(path, table);
    if (why) refuse(path, std::move(why));
    for (std::size_t k = 0; k < chunks.size(); ++k)
        if (chunks[k].points > most_points_per_byte * chunks[k].bytes)
            refuse(path, {Why::laz_table_chunk_dense, {k + 1, chunks[k].points, chunks[k].bytes}});
    // Writers put the table right after the last chunk: chunks that end
    // elsewhere come from a damaged table (or from a table written again
    // after a cut), and would be read from bytes that are no chunk.
    const std::uint64_t ends = chunks.empty() ? first_chunk : chunks.back().offset + chunks.back().bytes;
    if (ends != table) refuse(path, {Why::laz_table_chunks_span, {ends - first_chunk, table - first_chunk}});
    return chunks;
}

struct Axes {
    LasAxis x, y, z;
    bool quick() const { return x.quick() && y.quick() && z.quick(); }
};

using HeaderBounds = FirstReading::HeaderBounds;

// The bounds of the integers of `n` points, joined to `b`.
void join_bounds(const LazPoint* p, std::size_t n, HeaderBounds& b)
{
    std::int32_t lo[3] = {b.low[0], b.low[1], b.low[2]}, hi[3] = {b.high[0], b.high[1], b.high[2]};
    for (std::size_t k = 0; k < n; ++k) {
        lo[0] = std::min(lo[0], p[k].x), hi[0] = std::max(hi[0], p[k].x);
        lo[1] = std::min(lo[1], p[k].y), hi[1] = std::max(hi[1], p[k].y);
        lo[2] = std::min(lo[2], p[k].z), hi[2] = std::max(hi[2], p[k].z);
    }
    for (int i = 0; i < 3; ++i) b.low[i] = lo[i], b.high[i] = hi[i];
}

// The point of the integers `v` (X, Y, Z) on quick axes.
Point corner(const Axes& a, const std::int32_t (&v)[3])
{
    return {a.x.quick_value(v[0]), a.y.quick_value(v[1]), a.z.quick_value(v[2])};
}

// The range of `n` points as two corner points, from the smallest and
// largest integers of each axis: a quick value grows with its integer.
void hand_on_range(const LazPoint* p, std::size_t n, const Axes& a, RecordBatch& batch)
{
    HeaderBounds b{{p->x, p->y, p->z}, {p->x, p->y, p->z}};
    join_bounds(p + 1, n - 1, b);
    batch.added_range(n, corner(a, b.low), corner(a, b.high));
}

void convert(const LazPoint* p, std::size_t n, const Axes& a, Point* out, const RecordBatch& batch)
{
    if (a.quick()) {
        for (std::size_t k = 0; k < n; ++k)
            out[k] = {a.x.quick_value(p[k].x), a.y.quick_value(p[k].y), a.z.quick_value(p[k].z)};
        return;
    }
    // As for LAS: a finite scale and offset can still make a value beyond a double.
    for (std::size_t k = 0; k < n; ++k) {
        out[k] = {a.x.value(p[k].x), a.y.value(p[k].y), a.z.value(p[k].z)};
        if (!std::isfinite(out[k].x) || !std::isfinite(out[k].y) || !std::isfinite(out[k].z))
            throw ReadError{.fault = ReadFault::beyond_double,
                            .path = batch.path(),
                            .record = batch.records() + static_cast<long long>(k) + 1};
    }
}

// `attributes`: room for a batch of them when the batch filters, else null.
void hand_on(const LazPoint* p, std::size_t n, const Axes& a, RecordBatch& batch, PointAttributes* attributes)
{
    for (std::size_t done = 0; done < n;) {
        std::size_t m = std::min(n - done, point_batch);
        if (batch.extents_only() && a.quick()) {
            hand_on_range(p + done, m, a, batch);
        } else {
            Point* out = batch.room(m);
            convert(p + done, m, a, out, batch);
            if (attributes) {
                for (std::size_t k = 0; k < m; ++k)
                    attributes[k] = {p[done + k].classification, p[done + k].return_number,
                                     p[done + k].number_of_returns};
                batch.added(m, attributes);
            } else {
                batch.added(m);
            }
        }
        done += m;
    }
}

void check_decoded(const LazChunkWork& w, std::size_t k, std::size_t chunks, const RecordBatch& batch)
{
    if (w.status == LazChunkStatus::ok) return;
    const Why why = w.status == LazChunkStatus::ends_early   ? Why::laz_chunk_ends_early
                    : w.status == LazChunkStatus::miscounted ? Why::laz_chunk_miscounted
                                                             : Why::laz_chunk_damaged;
    const auto first = static_cast<std::uint64_t>(batch.records()) + 1;
    refuse(batch.path(), {why, {k + 1, chunks, first, first + w.count - 1}});
}

// The chunks read in file order, decoded on the threads, handed on in file
// order. The chunk table has placed every chunk inside the file. `bounds`:
// where the points' integer bounds are gathered, or null.
void read_chunks(InputFile& f, const std::vector<LazChunk>& chunks, const LasHeader& h,
                 const std::vector<LazItem>& items, RecordBatch& batch, const ReadingOptions& options,
                 const ReadingSeams& seams, HeaderBounds* bounds)
{
    const Axes axes{{h.scale[0], h.offset[0]}, {h.scale[1], h.offset[1]}, {h.scale[2], h.offset[2]}};
    LazChunkSize largest;
    for (const LazChunk& c : chunks) {
        largest.bytes = std::max(largest.bytes, static_cast<std::size_t>(c.bytes));
        largest.points = std::max(largest.points, static_cast<std::size_t>(c.points));
    }
    LazDecoding decoding(items, options, seams, largest);
    std::unique_ptr<PointAttributes[]> attributes(batch.filtering() ? new PointAttributes[point_batch] : nullptr);
    std::size_t next = 0;
    for (std::size_t taken = 0; taken < chunks.size(); ++taken) {
        for (; next < chunks.size() && decoding.has_room(); ++next) {
            const LazChunk& c = chunks[next];
            unsigned char* bytes = decoding.load(static_cast<std::size_t>(c.bytes), static_cast<std::size_t>(c.points));
            read_at(f, c.offset, bytes, static_cast<std::size_t>(c.bytes), batch.path());
            decoding.submit();
        }
        const LazChunkWork& w = decoding.oldest();
        check_decoded(w, taken, chunks.size(), batch);
        if (bounds) join_bounds(w.points.get(), w.count, *bounds);
        hand_on(w.points.get(), w.count, axes, batch, attributes.get());
        decoding.release();
    }
}

// The header's bounds as those of the file's integers, where a reading of
// the range may take them: every axis quick (a value then grows with its
// integer, so the corners of the integers' bounds are those of the points)
// and bounds that are integers of 32 bits.
std::optional<HeaderBounds> bounds_in_header(const LasHeader& h, const RecordBatch& batch)
{
    if (!batch.header_will_do() || h.count == 0) return {};
    HeaderBounds b;
    for (int i = 0; i < 3; ++i) {
        const LasAxis axis(h.scale[i], h.offset[i]);
        const std::optional<std::int32_t> low = axis.quick_integer(h.min[i]), high = axis.quick_integer(h.max[i]);
        if (!low || !high || *low > *high) return {};
        b.low[i] = *low, b.high[i] = *high;
    }
    return b;
}

// The header's bounds handed on as the range of all its records, in the
// runs a decoded file would give, so that the progress lines are the same.
void hand_on_bounds(const LasHeader& h, const HeaderBounds& b, RecordBatch& batch)
{
    const Axes a{{h.scale[0], h.offset[0]}, {h.scale[1], h.offset[1]}, {h.scale[2], h.offset[2]}};
    const Point low = corner(a, b.low), high = corner(a, b.high);
    for (std::uint64_t done = 0; done < h.count;) {
        const std::uint64_t n = std::min<std::uint64_t>(h.count - done, point_batch);
        batch.added_range(static_cast<std::size_t>(n), low, high);
        done += n;
    }
}

// The points of a LAZ file whose header has been read. The first reading of
// a range may take it from the header (the chunk table is still checked);
// the second reading then finds whether it was right.
void read_laz_points(InputFile& f, const LasHeader& h, RecordBatch& batch, const ReadingOptions& options,
                     const ReadingSeams& seams, FirstReading& first, bool second)
{
    const std::string& path = batch.path();
    const auto file_size = static_cast<std::uint64_t>(f.identity().size);
    const LaszipVlr vlr = find_laszip_vlr(f, h, path);
    if (Refusal why = check_laz_items(vlr, h.point_format(), h.record_length)) refuse(path, std::move(why));
    // A file of no point ends with its points' start, or holds a table of
    // no chunk; chunks there mean a count that disagrees with the file.
    if (h.count == 0 && file_size <= std::uint64_t{h.offset_to_points} + 8) return;
    const std::uint64_t table = chunk_table_place(f, h, file_size, path);
    const std::vector<LazChunk> chunks = read_chunk_table(f, h, vlr, table, file_size, path);
    if (!second) {
        first.header_bounds = bounds_in_header(h, batch);
        if (first.header_bounds) return hand_on_bounds(h, *first.header_bounds, batch);
    }
    if (chunks.empty()) return;
    if (!first.header_bounds) return read_chunks(f, chunks, h, vlr.items, batch, options, seams, nullptr);
    // The points' own bounds, from their first point on.
    HeaderBounds found{{INT32_MAX, INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MIN, INT32_MIN}};
    read_chunks(f, chunks, h, vlr.items, batch, options, seams, &found);
    HeaderBounds& b = *first.header_bounds;
    b.held = std::equal(b.low, b.low + 3, found.low) && std::equal(b.high, b.high + 3, found.high);
}

}  // namespace

InputEnd read_laz(InputFile& f, RecordBatch& batch, const ReadingOptions& options, const ReadingSeams& seams,
                  FirstReading& first)
{
    const bool second = first.las.has_value();
    const LasHeader h = read_las_header(f, batch.path(), first.las);
    if (!second) {
        first.crs = read_las_crs(f, h);
        first.header_bounds.reset();
        read_laz_points(f, h, batch, options, seams, first, false);
        return {};
    }
    // A first reading that decoded found no fault in these bytes, and
    // decoding is the same every time: a fault now is a file rewritten in
    // place since (its size and date put back), and is told as such. A
    // read error stays one.
    if (first.header_bounds) {
        read_laz_points(f, h, batch, options, seams, first, true);
        return {};
    }
    try {
        read_laz_points(f, h, batch, options, seams, first, true);
    } catch (const ReadError& e) {
        if (e.fault == ReadFault::cannot_be_read || e.file_changed()) throw;
        throw ReadError{.fault = ReadFault::reads_otherwise, .path = batch.path()};
    }
    return {};
}

}  // namespace kestranov
