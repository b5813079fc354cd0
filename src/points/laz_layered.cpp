#include "points/laz_layered.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "core/point_filter.h"
#include "points/las_header.h"
#include "points/laz_arithmetic.h"
#include "points/laz_median.h"

namespace kestranov {

namespace {

// The point14 item's layers, in the order of their byte counts and bytes.
enum Point14Layer {
    returns_xy_layer,
    z_layer,
    classification_layer,
    flags_layer,
    intensity_layer,
    scan_angle_layer,
    user_data_layer,
    point_source_layer,
    gps_time_layer,
    point14_layers,
};

// The raw first point is a LAS 1.4 record of format 6: its fields at these offsets.
constexpr std::size_t point14_bytes = 30;
constexpr std::size_t returns_at = 14, channel_at = 15, classification_at = 16;

// How many layer byte counts an item of version 3 has; 0 for an item no
// layered chunk holds.
std::size_t layer_count(const LazItem& item)
{
    switch (item.type) {
        case LazItem::point14:
            return point14_layers;
        case LazItem::rgb14:
            return 1;
        case LazItem::rgbnir14:
            return 2;  // the colours, then the near infrared
        case LazItem::byte14:
            return item.size;  // one layer per extra byte
        case LazItem::wavepacket14:
            return 1;
        default:
            return 0;
    }
}

struct Layer {
    const unsigned char* begin = nullptr;
    const unsigned char* end = nullptr;
    bool empty() const { return begin == end; }
};

// Where the first point and the point14 item's layers lie in the chunk.
// The other items' layers are only counted, so that the bytes add up.
LazChunkStatus locate_layers(const unsigned char* begin, const unsigned char* end, const std::vector<LazItem>& items,
                             std::size_t count, std::array<Layer, point14_layers>& layers)
{
    if (items.empty() || items[0].type != LazItem::point14 || items[0].size != point14_bytes)
        return LazChunkStatus::damaged;
    std::size_t record = 0, counts = 0;
    for (const LazItem& item : items) {
        if (item.version != 3 || layer_count(item) == 0) return LazChunkStatus::damaged;
        record += item.size;
        counts += layer_count(item);
    }
    const auto available = static_cast<std::size_t>(end - begin);
    if (available < record + 4) return LazChunkStatus::ends_early;
    if (little_endian<std::uint32_t>(begin + record) != count) return LazChunkStatus::miscounted;
    const unsigned char* sizes = begin + record + 4;
    if (static_cast<std::size_t>(end - sizes) < 4 * counts) return LazChunkStatus::ends_early;
    const unsigned char* at = sizes + 4 * counts;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < counts; ++i) {
        const std::uint32_t bytes = little_endian<std::uint32_t>(sizes + 4 * i);
        if (i < point14_layers) layers[i] = {at + total, nullptr};
        total += bytes;
        if (total > static_cast<std::uint64_t>(end - at)) return LazChunkStatus::ends_early;
        if (i < point14_layers) layers[i].end = at + total;
    }
    // The chunk table says where the next chunk starts: bytes left over mean
    // that the counts or the table are wrong.
    if (total != static_cast<std::uint64_t>(end - at)) return LazChunkStatus::damaged;
    return LazChunkStatus::ok;
}

// The context of X and Y: returns (r of n) folded into six classes.
constexpr std::uint8_t return_map[16][16] = {
    {0, 1, 2, 3, 4, 5, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5}, {1, 0, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {2, 1, 2, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3}, {3, 3, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, {5, 3, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {3, 3, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4}, {4, 3, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4}, {5, 3, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4, 4}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5},
};

// The context of Z: how deep the return is in its pulse (n - r), up to 7.
std::uint32_t return_level(std::uint32_t n, std::uint32_t r)
{
    const std::uint32_t depth = n > r ? n - r : r - n;
    return depth < 7 ? depth : 7;
}

// Corrections as a k-bit count allows: an even k below the cap.
std::uint32_t k_context(std::uint32_t k, std::uint32_t cap) { return k < cap ? (k & ~1u) : cap; }

// The models of one scanner channel, made when its first point comes.
// Models only some return counts or classes need are made on first use,
// as the encoder made them.
struct ChannelModels {
    ChannelModels() : changed_values(8, ArithmeticModel(128)) {}

    std::vector<ArithmeticModel> changed_values;  // by the last point's return class and GPS time change
    ArithmeticModel scanner_channel{3};
    std::array<std::unique_ptr<ArithmeticModel>, 16> number_of_returns, return_number;
    ArithmeticModel return_number_gps_same{13};
    IntegerDecompressor dx{32, 2}, dy{32, 22}, z{32, 20};
    std::array<std::unique_ptr<ArithmeticModel>, 64> classification;
};

ArithmeticModel& made(std::unique_ptr<ArithmeticModel>& m, std::uint32_t symbols)
{
    if (!m) m = std::make_unique<ArithmeticModel>(symbols);
    return *m;
}

// What a channel remembers of its last point: every prediction starts there.
struct Channel {
    std::unique_ptr<ChannelModels> models;  // none until the channel's first point
    std::int32_t x = 0, y = 0, z = 0;
    std::uint32_t return_number = 0, number_of_returns = 0, classification = 0;
    bool gps_time_changed = false;
    std::array<RunningMedian5, 12> dx_median, dy_median;
    std::array<std::int32_t, 8> last_z{};

    // Starts the channel from `last`, the point before its first one.
    void start(const Channel& last)
    {
        models = std::make_unique<ChannelModels>();
        x = last.x, y = last.y, z = last.z;
        return_number = last.return_number, number_of_returns = last.number_of_returns;
        classification = last.classification;
        gps_time_changed = false;
        dx_median = {}, dy_median = {};
        last_z.fill(z);
    }
};

std::int32_t wrapping_add(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// The arithmetic streams of the layers a run decodes. They live in the
// chunk's decoding loop, not in the decoder: as members they went through
// memory at every symbol (a store and a load on the path from one symbol
// to the next), as locals they stay in registers.
struct LayerStreams {
    ArithmeticDecoder xy, z, classification;
    bool overran() const { return xy.overran() || z.overran() || classification.overran(); }
};

// The point14 item's decoder over the layers a run needs.
class Point14Decoder {
public:
    // The layers' streams start with the second point: a chunk of one
    // point may leave them empty.
    void start(const std::array<Layer, point14_layers>& layers, const LazNeeds& needs, LayerStreams& s)
    {
        z_changes_ = !layers[z_layer].empty();
        classification_changes_ = needs.classification && !layers[classification_layer].empty();
        s.xy.init(layers[returns_xy_layer].begin, layers[returns_xy_layer].end);
        if (z_changes_) s.z.init(layers[z_layer].begin, layers[z_layer].end);
        if (classification_changes_)
            s.classification.init(layers[classification_layer].begin, layers[classification_layer].end);
    }

    LazPoint first(const unsigned char* record, const LazNeeds& needs)
    {
        Channel first;
        first.x = little_endian<std::int32_t>(record);
        first.y = little_endian<std::int32_t>(record + 4);
        first.z = little_endian<std::int32_t>(record + 8);
        first.return_number = record[returns_at] & 0x0F;
        first.number_of_returns = record[returns_at] >> 4;
        first.classification = needs.classification ? record[classification_at] : 0;
        current_ = (record[channel_at] >> 4) & 3;
        channels_[current_].start(first);
        return point_of(channels_[current_]);
    }

    // Decodes the next point into `out`, but for its Z, which the next
    // call or finish() writes there: the Z layer is a stream of its own,
    // and the halves of a point's Z are decoded between the symbols of the
    // next point's X and Y, so that the processor works on both streams at
    // once where each alone waits on its last symbol.
    [[gnu::always_inline]] void next(LayerStreams& s, LazPoint& out);
    // Writes the last point's Z.
    void finish(ArithmeticDecoder& z)
    {
        if (!pending_.out) return;
        pending_.channel->models->z.decompress_k(z, pending_.context);
        decode_pending_z(z);
    }

private:
    static LazPoint point_of(const Channel& c)
    {
        return {c.x,
                c.y,
                c.z,
                static_cast<std::uint8_t>(c.classification),
                static_cast<std::uint8_t>(c.return_number),
                static_cast<std::uint8_t>(c.number_of_returns)};
    }

    static std::uint32_t decode_returns(ArithmeticDecoder& xy, Channel& c, std::uint32_t changed,
                                        bool gps_time_changed);

    // The Z after its k.
    void decode_pending_z(ArithmeticDecoder& z)
    {
        Channel& c = *pending_.channel;
        c.z = c.models->z.decompress_rest(z, c.last_z[pending_.level]);
        c.last_z[pending_.level] = c.z;
        pending_.out->z = c.z;
        pending_.out = nullptr;
    }

    // A point whose Z is still to decode: its channel, the Z's contexts
    // and where the point went.
    struct PendingZ {
        Channel* channel = nullptr;
        std::uint32_t level = 0, context = 0;
        LazPoint* out = nullptr;  // none pending
    };

    PendingZ pending_;
    bool z_changes_ = false, classification_changes_ = false;
    std::array<Channel, 4> channels_;
    std::uint32_t current_ = 0;
};

// Decodes the point's return number and number of returns from which of
// them changed; leaves them in `c`.
std::uint32_t Point14Decoder::decode_returns(ArithmeticDecoder& xy, Channel& c, std::uint32_t changed,
                                             bool gps_time_changed)
{
    ChannelModels& m = *c.models;
    if (changed & (1u << 2)) {
        c.number_of_returns = xy.decode_symbol(made(m.number_of_returns[c.number_of_returns], 16));
    }
    if ((changed & 3) == 3) {
        // A jump of more than one: its own model when a new pulse began,
        // otherwise a step of 2 to 14 further.
        if (gps_time_changed) {
            c.return_number = xy.decode_symbol(made(m.return_number[c.return_number], 16));
        } else {
            c.return_number = (c.return_number + xy.decode_symbol(m.return_number_gps_same) + 2) & 15;
        }
    } else {
        // The same, the next or the one before: a step looked up, not
        // branched to, as returns alternate in no order a predictor learns.
        constexpr std::uint32_t step = 0xF10;  // 0, +1, -1 (mod 16) in nibbles
        c.return_number = (c.return_number + (step >> (4 * (changed & 3)))) & 15;
    }
    return c.return_number;
}

inline void Point14Decoder::next(LayerStreams& s, LazPoint& out)
{
    Channel* c = &channels_[current_];
    // Which fields changed, in the context of the last point's returns
    // (single, first, last, intermediate) and whether its GPS time changed.
    const std::uint32_t last_class = (c->return_number == 1 ? 1u : 0u) +
                                     (c->return_number >= c->number_of_returns ? 2u : 0u) +
                                     (c->gps_time_changed ? 4u : 0u);
    const std::uint32_t changed = s.xy.decode_symbol(c->models->changed_values[last_class]);
    if (changed & (1u << 6)) {
        // A channel starts from the last point whole.
        finish(s.z);
        const std::uint32_t channel = (current_ + s.xy.decode_symbol(c->models->scanner_channel) + 1) & 3;
        if (!channels_[channel].models) channels_[channel].start(*c);
        current_ = channel;
        c = &channels_[channel];
    }
    if (pending_.out) pending_.channel->models->z.decompress_k(s.z, pending_.context);
    ChannelModels& m = *c->models;
    // The GPS time's change is a bit of this layer: the contexts below need
    // nothing from the GPS time layer itself.
    const bool gps_time_changed = (changed & (1u << 4)) != 0;
    const std::uint32_t r = decode_returns(s.xy, *c, changed, gps_time_changed);
    const std::uint32_t n = c->number_of_returns;
    const std::uint32_t single = n == 1 ? 1 : 0;

    const std::uint32_t median = (static_cast<std::uint32_t>(return_map[n][r]) << 1) | (gps_time_changed ? 1 : 0);
    m.dx.decompress_k(s.xy, single);
    if (pending_.out) decode_pending_z(s.z);
    const std::int32_t dx = m.dx.decompress_rest(s.xy, c->dx_median[median].get());
    c->x = wrapping_add(c->x, dx);
    c->dx_median[median].add(dx);
    const std::int32_t dy = m.dy.decompress(s.xy, c->dy_median[median].get(), single + k_context(m.dx.k(), 20));
    c->y = wrapping_add(c->y, dy);
    c->dy_median[median].add(dy);

    if (classification_changes_) {
        const std::uint32_t single_return = r == 1 && r >= n ? 1 : 0;
        const std::uint32_t context = (narrow_class(static_cast<std::uint8_t>(c->classification)) << 1) + single_return;
        c->classification = s.classification.decode_symbol(made(m.classification[context], 256));
    }
    c->gps_time_changed = gps_time_changed;
    out = point_of(*c);
    if (z_changes_) {
        const std::uint32_t k = (m.dx.k() + m.dy.k()) / 2;
        pending_ = {c, return_level(n, r), single + k_context(k, 18), &out};
    }
}

}  // namespace

LazChunkStatus decode_layered_chunk(const unsigned char* begin, const unsigned char* end,
                                    const std::vector<LazItem>& items, std::size_t count, const LazNeeds& needs,
                                    LazPoint* out)
{
    if (count == 0) return begin == end ? LazChunkStatus::ok : LazChunkStatus::damaged;
    if (count > 0xFFFFFFFFu) return LazChunkStatus::damaged;  // the chunk's own count has 32 bits
    std::array<Layer, point14_layers> layers;
    if (const LazChunkStatus s = locate_layers(begin, end, items, count, layers); s != LazChunkStatus::ok) return s;
    Point14Decoder decoder;
    out[0] = decoder.first(begin, needs);
    if (count == 1) return LazChunkStatus::ok;
    LayerStreams streams;
    decoder.start(layers, needs, streams);
    for (std::size_t i = 1; i < count; ++i) decoder.next(streams, out[i]);
    decoder.finish(streams.z);
    return streams.overran() ? LazChunkStatus::ends_early : LazChunkStatus::ok;
}

}  // namespace kestranov
