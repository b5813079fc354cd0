#include "points/laz_chunk.h"

#include <memory>
#include <optional>

#include "points/laz_items_v2.h"
#include "points/laz_layered.h"

namespace kestranov {

namespace {

// What an encoder writes to close a stream that coded nothing: LASzip's
// writes three bytes; four leaves room for any encoder's rounding.
constexpr std::size_t empty_stream_bytes = 4;

// The item decoders of one point-wise chunk, in record order: POINT10,
// then GPS time, RGB and extra bytes when the format has them.
struct PointwiseItems {
    Point10Decoder point;
    std::optional<GpsTime11Decoder> time;
    std::optional<Rgb12Decoder> rgb;
    std::optional<BytesDecoder> bytes;
    std::size_t time_at = 0, rgb_at = 0, bytes_at = 0;  // offsets in the raw first record
    std::size_t record_length = 0;
};

// The list is the one check_laz_items accepts; anything else is damage.
bool plan_items(const std::vector<LazItem>& items, PointwiseItems& p)
{
    if (items.empty() || items[0].type != LazItem::point10 || items[0].size != 20) return false;
    std::size_t at = 20;
    for (std::size_t i = 1; i < items.size(); ++i) {
        const LazItem& item = items[i];
        if (item.type == LazItem::gpstime11 && item.size == 8 && !p.time && !p.rgb && !p.bytes) {
            p.time.emplace();
            p.time_at = at;
        } else if (item.type == LazItem::rgb12 && item.size == 6 && !p.rgb && !p.bytes) {
            p.rgb.emplace();
            p.rgb_at = at;
        } else if (item.type == LazItem::byte && item.size > 0 && !p.bytes) {
            p.bytes.emplace(item.size);
            p.bytes_at = at;
        } else {
            return false;
        }
        at += item.size;
    }
    p.record_length = at;
    return true;
}

// The points after the first, the item decoders fixed at compile time so
// that the formats without time or colour pay no test per point for them.
template <bool Time, bool Rgb>
void decode_points(PointwiseItems& p, ArithmeticDecoder& dec, std::size_t count, LazPoint* out)
{
    for (std::size_t i = 1; i < count; ++i) {
        p.point.decode(dec, out[i]);
        if constexpr (Time) p.time->decode(dec);
        if constexpr (Rgb) p.rgb->decode(dec);
        if (p.bytes) p.bytes->decode(dec);
    }
}

LazChunkStatus decode_pointwise_chunk(const unsigned char* begin, const unsigned char* end,
                                      const std::vector<LazItem>& items, std::size_t count, LazPoint* out)
{
    auto p = std::make_unique<PointwiseItems>();
    if (!plan_items(items, *p)) return LazChunkStatus::damaged;
    if (count == 0) return LazChunkStatus::ok;
    if (static_cast<std::size_t>(end - begin) < p->record_length) return LazChunkStatus::ends_early;
    p->point.init(begin);
    if (p->time) p->time->init(begin + p->time_at);
    if (p->rgb) p->rgb->init(begin + p->rgb_at);
    if (p->bytes) p->bytes->init(begin + p->bytes_at);
    out[0] = p->point.point();
    // A chunk of one point ends with the closing bytes of an arithmetic
    // stream that coded nothing (a writer may leave them out): anything
    // longer holds further points that the count leaves out.
    if (count == 1)
        return static_cast<std::size_t>(end - begin) - p->record_length <= empty_stream_bytes
                   ? LazChunkStatus::ok
                   : LazChunkStatus::miscounted;

    ArithmeticDecoder dec;
    dec.init(begin + p->record_length, end);
    if (p->time && p->rgb) {
        decode_points<true, true>(*p, dec, count, out);
    } else if (p->time) {
        decode_points<true, false>(*p, dec, count, out);
    } else if (p->rgb) {
        decode_points<false, true>(*p, dec, count, out);
    } else {
        decode_points<false, false>(*p, dec, count, out);
    }
    if (dec.overran()) return LazChunkStatus::ends_early;
    // The encoder ends a chunk with the very bytes the decoder reads last:
    // bytes left over belong to points the count leaves out (a header's
    // count lowered, as LAS would hold whole records after its points).
    return dec.position() == end ? LazChunkStatus::ok : LazChunkStatus::miscounted;
}

}  // namespace

LazChunkStatus decode_laz_chunk(const unsigned char* begin, const unsigned char* end, const std::vector<LazItem>& items,
                                std::size_t count, const LazNeeds& needs, LazPoint* out)
{
    if (items.empty()) return LazChunkStatus::damaged;
    if (items[0].type == LazItem::point14) return decode_layered_chunk(begin, end, items, count, needs, out);
    return decode_pointwise_chunk(begin, end, items, count, out);
}

}  // namespace kestranov
