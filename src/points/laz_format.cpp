#include "points/laz_format.h"

#include <cstring>

#include "points/las_header.h"
#include "points/laz_arithmetic.h"

namespace kestranov {

namespace {

constexpr std::size_t vlr_head = 34;  // the fields before the item list
constexpr std::size_t vlr_item = 6;

const char* const recompress = "recompress it with a current LASzip, for example with laszip or pdal translate";
const char* const decompress = "decompress it to LAS first, for example with laszip or pdal translate";

const char* item_name(std::uint16_t type)
{
    switch (type) {
        case LazItem::point10:
            return "POINT10";
        case LazItem::gpstime11:
            return "GPSTIME11";
        case LazItem::rgb12:
            return "RGB12";
        case LazItem::byte:
            return "BYTE";
        case LazItem::point14:
            return "POINT14";
        case LazItem::rgb14:
            return "RGB14";
        case LazItem::rgbnir14:
            return "RGBNIR14";
        case LazItem::byte14:
            return "BYTE14";
        case LazItem::wavepacket13:
            return "WAVEPACKET13";
        case LazItem::wavepacket14:
            return "WAVEPACKET14";
        default:
            return nullptr;
    }
}

std::string item_text(const LazItem& item)
{
    const char* name = item_name(item.type);
    return std::string(name ? name : "item of type " + std::to_string(item.type)) + " (" + std::to_string(item.size) +
           " bytes, version " + std::to_string(item.version) + ")";
}

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

LaszipVlr parse_laszip_vlr(const unsigned char* p, std::size_t n, std::string& why)
{
    why.clear();
    LaszipVlr v;
    if (n < vlr_head + vlr_item) {
        why = "has " + std::to_string(n) + " bytes, fewer than the " + std::to_string(vlr_head + vlr_item) +
              " of one item";
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
        why = "lists " + std::to_string(items) + " items in " + std::to_string(n) + " bytes, where " +
              std::to_string(vlr_head) + " bytes and 6 per item are needed";
        return v;
    }
    v.items.resize(items);
    for (std::size_t i = 0; i < items; ++i) {
        const unsigned char* q = p + vlr_head + vlr_item * i;
        v.items[i] = {little_endian<std::uint16_t>(q), little_endian<std::uint16_t>(q + 2),
                      little_endian<std::uint16_t>(q + 4)};
    }
    if (v.coder != 0) why = "names coder " + std::to_string(v.coder) + ", where 0 (arithmetic) is the only one";
    return v;
}

std::string check_laz_items(const LaszipVlr& vlr, int point_format, std::size_t record_length)
{
    const std::string format = "point format " + std::to_string(point_format);
    if (point_format == 4 || point_format == 5 || point_format == 9 || point_format == 10)
        return "its LAZ " + format + " carries waveform packets, which this program does not decompress: " + decompress;
    if (point_format < 0 || point_format > 10) return "its LAZ " + format + " is none of 0 to 10";
    const bool layered = point_format >= 6;
    if (vlr.compressor == 0)
        return "its LASzip VLR says the points are not compressed (compressor 0), yet the header says LAZ";
    if (vlr.compressor == 1)
        return "its points are compressed without chunks (LASzip compressor 1, from LASzip before 2.0), which "
               "this program does not read: " +
               std::string(recompress);
    if (vlr.compressor != (layered ? 3 : 2))
        return "its LASzip VLR names compressor " + std::to_string(vlr.compressor) + " for " + format +
               ", where LASzip writes " + (layered ? "3 (layered chunks)" : "2 (chunks)");
    if (vlr.chunk_size == 0) return "its LASzip VLR gives chunks of 0 points";

    const FormatItems& want = format_items[point_format];
    std::size_t sum = 0;
    for (const LazItem& item : vlr.items) sum += item.size;
    const std::string list = [&] {
        std::string s;
        for (const LazItem& item : vlr.items) s += (s.empty() ? "" : ", ") + item_text(item);
        return s;
    }();
    const std::size_t listed = vlr.items.size();
    bool shape = listed == static_cast<std::size_t>(want.count) || listed == static_cast<std::size_t>(want.count) + 1;
    for (int i = 0; shape && i < want.count && static_cast<std::size_t>(i) < listed; ++i)
        shape = vlr.items[i].type == want.types[i] && vlr.items[i].size == want.sizes[i];
    if (shape && listed > static_cast<std::size_t>(want.count)) {
        const LazItem& extra = vlr.items.back();
        shape = extra.type == (layered ? LazItem::byte14 : LazItem::byte) && extra.size > 0;
    }
    if (!shape) return "its LASzip VLR lists " + list + ", which is not what LASzip writes for " + format;
    if (sum != record_length)
        return "its LASzip VLR's items (" + list + ") add up to " + std::to_string(sum) +
               " bytes, where its point records have " + std::to_string(record_length);
    for (const LazItem& item : vlr.items) {
        if (version_read(item, layered)) continue;
        if (!layered && item.version == 1)
            return "its points were compressed by LASzip 1 (" + item_text(item) +
                   "), which this program does not read: " + recompress;
        return "its LASzip VLR lists " + item_text(item) + ", a version this program does not read: " + recompress;
    }
    return {};
}

std::string counted(std::uint64_t n, const char* noun) { return std::to_string(n) + " " + noun + (n == 1 ? "" : "s"); }

std::vector<LazChunk> decode_chunk_table(const unsigned char* table, const unsigned char* end, std::uint32_t chunks,
                                         const LaszipVlr& vlr, std::uint64_t first_chunk, std::uint64_t total_points,
                                         std::string& why, bool* ends_early)
{
    why.clear();
    if (ends_early) *ends_early = false;
    std::vector<LazChunk> out;
    const bool variable = vlr.variable_chunks();
    if (!variable) {
        // Divided first: a 64-bit count near its top must not wrap.
        const std::uint64_t expected =
            vlr.chunk_size == 0 ? 0 : total_points / vlr.chunk_size + (total_points % vlr.chunk_size != 0);
        if (chunks != expected) {
            why = "its LAZ chunk table lists " + counted(chunks, "chunk") + ", where " +
                  counted(total_points, "point") + " in chunks of " + std::to_string(vlr.chunk_size) + " make " +
                  std::to_string(expected);
            return {};
        }
    } else if (chunks > total_points) {
        why = "its LAZ chunk table lists " + counted(chunks, "chunk") + " for " + counted(total_points, "point");
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
            why = "its LAZ chunk table ends within chunk " + std::to_string(i + 1) + " of " + std::to_string(chunks);
            if (ends_early) *ends_early = true;
            return {};
        }
        const std::uint64_t n =
            variable ? points : (points_left < vlr.chunk_size ? points_left : std::uint64_t{vlr.chunk_size});
        if (n > points_left || (variable && n == 0)) {
            why = "its LAZ chunk table gives chunk " + std::to_string(i + 1) + " " + counted(n, "point") + ", where " +
                  std::to_string(points_left) + " are left of the header's " + std::to_string(total_points);
            return {};
        }
        if (bytes == 0 || offset > offset_limit) {
            why = "its LAZ chunk table gives chunk " + std::to_string(i + 1) + " " + std::to_string(bytes) +
                  " bytes at offset " + std::to_string(offset);
            return {};
        }
        out.push_back({offset, bytes, n});
        offset += bytes;
        points_left -= n;
    }
    if (points_left != 0) {
        why = "its LAZ chunk table's chunks hold " + counted(total_points - points_left, "point") +
              ", where the header says " + std::to_string(total_points);
        return {};
    }
    return out;
}

}  // namespace kestranov
