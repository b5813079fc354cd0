#include "points/laz_format.h"

#include <cstring>

#include "points/las_header.h"
#include "points/laz_arithmetic.h"

namespace kestranov {

namespace {

constexpr std::size_t vlr_head = 34;  // the fields before the item list
constexpr std::size_t vlr_item = 6;

using Why = RefusalReason;

// The items LASzip lists for a point format, extra bytes aside, with their
// sizes; formats 6 to 8 in the layered version 3 (or 4, the same decoding).
struct FormatItems {
    std::uint16_t types[3];
    std::uint16_t sizes[3];
    int count;
};

constexpr FormatItems format_items[] = {
    {{LazItem::point10}, {20}, 1},
    {{LazItem::point10, LazItem::gpstime11}, {20, 8}, 2},
    {{LazItem::point10, LazItem::rgb12}, {20, 6}, 2},
    {{LazItem::point10, LazItem::gpstime11, LazItem::rgb12}, {20, 8, 6}, 3},
    {},
    {},
    {{LazItem::point14}, {30}, 1},
    {{LazItem::point14, LazItem::rgb14}, {30, 6}, 2},
    {{LazItem::point14, LazItem::rgbnir14}, {30, 8}, 2},
};

bool version_read(const LazItem& item, bool layered)
{
    return layered ? item.version == 3 || item.version == 4 : item.version == 2;
}

}  // namespace

LaszipVlr parse_laszip_vlr(const unsigned char* p, std::size_t n, Refusal& why)
{
    why = {};
    LaszipVlr v;
    if (n < vlr_head + vlr_item) {
        why = {Why::laszip_vlr_short, {n, vlr_head + vlr_item}};
        return v;
    }
    v.compressor = little_endian<std::uint16_t>(p);
    v.coder = little_endian<std::uint16_t>(p + 2);
    v.version_major = p[4];
    v.version_minor = p[5];
    v.version_revision = little_endian<std::uint16_t>(p + 6);
    v.options = little_endian<std::uint32_t>(p + 8);
    v.chunk_size = little_endian<std::uint32_t>(p + 12);
    v.special_evlrs = little_endian<std::int64_t>(p + 16);
    v.special_evlrs_offset = little_endian<std::int64_t>(p + 24);
    const std::uint16_t items = little_endian<std::uint16_t>(p + 32);
    if (items == 0 || n != vlr_head + vlr_item * items) {
        why = {Why::laszip_vlr_item_count, {items, n, vlr_head}};
        return v;
    }
    v.items.resize(items);
    for (std::size_t i = 0; i < items; ++i) {
        const unsigned char* q = p + vlr_head + vlr_item * i;
        v.items[i] = {little_endian<std::uint16_t>(q), little_endian<std::uint16_t>(q + 2),
                      little_endian<std::uint16_t>(q + 4)};
    }
    if (v.coder != 0) why = {Why::laszip_coder, {v.coder}};
    return v;
}

Refusal check_laz_items(const LaszipVlr& vlr, int point_format, std::size_t record_length)
{
    const auto format = static_cast<std::uint64_t>(point_format);
    if (point_format == 4 || point_format == 5 || point_format == 9 || point_format == 10)
        return {Why::laz_waveforms, {format}};
    if (point_format < 0 || point_format > 10) return {Why::laz_point_format, {format}};
    const bool layered = point_format >= 6;
    if (vlr.compressor == 0) return {Why::laz_uncompressed};
    if (vlr.compressor == 1) return {Why::laz_pointwise};
    if (vlr.compressor != (layered ? 3 : 2))
        return {layered ? Why::laz_compressor_for_layers : Why::laz_compressor_for_chunks, {vlr.compressor, format}};
    if (vlr.chunk_size == 0) return {Why::laz_chunks_of_none};

    const FormatItems& want = format_items[point_format];
    std::size_t sum = 0;
    for (const LazItem& item : vlr.items) sum += item.size;
    const std::size_t listed = vlr.items.size();
    bool shape = listed == static_cast<std::size_t>(want.count) || listed == static_cast<std::size_t>(want.count) + 1;
    for (int i = 0; shape && i < want.count && static_cast<std::size_t>(i) < listed; ++i)
        shape = vlr.items[i].type == want.types[i] && vlr.items[i].size == want.sizes[i];
    if (shape && listed > static_cast<std::size_t>(want.count)) {
        const LazItem& extra = vlr.items.back();
        shape = extra.type == (layered ? LazItem::byte14 : LazItem::byte) && extra.size > 0;
    }
    if (!shape) return {Why::laz_items_unlike_format, {format}, vlr.items};
    if (sum != record_length) return {Why::laz_items_sum, {sum, record_length}, vlr.items};
    for (const LazItem& item : vlr.items) {
        if (version_read(item, layered)) continue;
        return {!layered && item.version == 1 ? Why::laz_items_of_laszip1 : Why::laz_item_version, {}, {item}};
    }
    return {};
}

std::vector<LazChunk> decode_chunk_table(const unsigned char* table, const unsigned char* end, std::uint32_t chunks,
                                         const LaszipVlr& vlr, std::uint64_t first_chunk, std::uint64_t total_points,
                                         Refusal& why, bool* ends_early)
{
    why = {};
    if (ends_early) *ends_early = false;
    std::vector<LazChunk> out;
    const bool variable = vlr.variable_chunks();
    if (!variable) {
        // Divided first: a 64-bit count near its top must not wrap.
        const std::uint64_t expected =
            vlr.chunk_size == 0 ? 0 : total_points / vlr.chunk_size + (total_points % vlr.chunk_size != 0);
        if (chunks != expected) {
            why = {Why::laz_table_count_fixed, {chunks, total_points, vlr.chunk_size, expected}};
            return {};
        }
    } else if (chunks > total_points) {
        why = {Why::laz_table_count_variable, {chunks, total_points}};
        return {};
    }
    if (chunks == 0) return out;

    // Each entry is the chunk's point count (variable chunks only) and its
    // byte count, each predicted by the entry before.
    ArithmeticDecoder dec;
    dec.init(table, end);
    IntegerDecompressor ic(32, 2);
    std::uint32_t points = 0, bytes = 0;
    std::uint64_t offset = first_chunk, points_left = total_points;
    // Offsets beyond 2^62 are in no file; keeping below it keeps the sums exact.
    constexpr std::uint64_t offset_limit = std::uint64_t{1} << 62;
    out.reserve(chunks < (1u << 20) ? chunks : (1u << 20));
    for (std::uint32_t i = 0; i < chunks; ++i) {
        if (variable) points = static_cast<std::uint32_t>(ic.decompress(dec, static_cast<std::int32_t>(points), 0));
        bytes = static_cast<std::uint32_t>(ic.decompress(dec, static_cast<std::int32_t>(bytes), 1));
        if (dec.overran()) {
            why = {Why::laz_table_ends_within, {i + 1, chunks}};
            if (ends_early) *ends_early = true;
            return {};
        }
        const std::uint64_t n =
            variable ? points : (points_left < vlr.chunk_size ? points_left : std::uint64_t{vlr.chunk_size});
        if (n > points_left || (variable && n == 0)) {
            why = {Why::laz_table_chunk_points, {i + 1, n, points_left, total_points}};
            return {};
        }
        if (bytes == 0 || offset > offset_limit) {
            why = {Why::laz_table_chunk_bytes, {i + 1, bytes, offset}};
            return {};
        }
        out.push_back({offset, bytes, n});
        offset += bytes;
        points_left -= n;
    }
    if (points_left != 0) {
        why = {Why::laz_table_points_held, {total_points - points_left, total_points}};
        return {};
    }
    return out;
}

}  // namespace kestranov
