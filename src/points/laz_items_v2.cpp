#include "points/laz_items_v2.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <type_traits>

#include "core/point_filter.h"
#include "points/las_header.h"

namespace kestranov {

namespace {

// The context of a return r of n: first of one, first of two and so on.
// Files that number from 0 or swap the two fields get contexts of their own
// rather than sharing those of well-formed returns.
constexpr std::uint8_t return_context[8][8] = {
    {15, 14, 13, 12, 11, 10, 9, 8},  {14, 0, 1, 3, 6, 10, 10, 9},    {13, 1, 2, 4, 7, 11, 11, 10},
    {12, 3, 4, 5, 8, 12, 12, 11},    {11, 6, 7, 8, 9, 13, 13, 12},   {10, 10, 11, 12, 13, 14, 14, 13},
    {9, 10, 11, 12, 13, 14, 15, 14}, {8, 9, 10, 11, 12, 13, 14, 15},
};

// How far a return lies from the last of its pulse: the heights of returns
// at the same distance predict one another.
constexpr std::uint8_t return_level[8][8] = {
    {0, 1, 2, 3, 4, 5, 6, 7}, {1, 0, 1, 2, 3, 4, 5, 6}, {2, 1, 0, 1, 2, 3, 4, 5}, {3, 2, 1, 0, 1, 2, 3, 4},
    {4, 3, 2, 1, 0, 1, 2, 3}, {5, 4, 3, 2, 1, 0, 1, 2}, {6, 5, 4, 3, 2, 1, 0, 1}, {7, 6, 5, 4, 3, 2, 1, 0},
};

std::int32_t wrapping_add(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t wrapping_mul(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// The k of a coordinate as a context: even values only, capped.
std::uint32_t k_context(std::uint32_t k, std::uint32_t cap) { return k < cap ? (k & ~1u) : cap; }

// GPS time multiples: 1 to 499 times the last difference, 500 for more,
// -1 to -10 below; then "unchanged", "the full value" and the switches to
// the three other sequences.
constexpr std::int32_t time_multi = 500;
constexpr std::int32_t time_multi_minus = -10;
constexpr std::uint32_t time_unchanged = time_multi - time_multi_minus + 1;
constexpr std::uint32_t time_code_full = time_multi - time_multi_minus + 2;
constexpr std::uint32_t time_symbols = time_multi - time_multi_minus + 6;

}  // namespace

Point10Decoder::Point10Decoder() = default;

ArithmeticModel& Point10Decoder::model_after(ByteModels& models, std::uint8_t before)
{
    if (!models[before]) models[before] = std::make_unique<ArithmeticModel>(256);
    return *models[before];
}

void Point10Decoder::init(const unsigned char* raw)
{
    for (int i = 0; i < 16; ++i) {
        x_diff_[i] = RunningMedian5();
        y_diff_[i] = RunningMedian5();
        last_intensity_[i] = 0;
        last_height_[i / 2] = 0;
    }
    changed_values_.reset();
    intensity_ic_.reset();
    scan_angle_models_[0].reset();
    scan_angle_models_[1].reset();
    point_source_ic_.reset();
    for (ByteModels* models : {&flag_models_, &classification_models_, &user_data_models_}) {
        for (auto& m : *models) {
            if (m) m->reset();
        }
    }
    dx_ic_.reset();
    dy_ic_.reset();
    z_ic_.reset();

    x_ = little_endian<std::int32_t>(raw);
    y_ = little_endian<std::int32_t>(raw + 4);
    z_ = little_endian<std::int32_t>(raw + 8);
    intensity_ = 0;  // the first intensity is not a prediction
    flags_ = raw[14];
    classification_ = raw[15];
    scan_angle_ = raw[16];
    user_data_ = raw[17];
    point_source_ = little_endian<std::uint16_t>(raw + 18);
}

LazPoint Point10Decoder::point() const
{
    return {x_,
            y_,
            z_,
            narrow_class(classification_),
            static_cast<std::uint8_t>(flags_ & 7),
            static_cast<std::uint8_t>((flags_ >> 3) & 7)};
}

// The steps below are inlined into the loops over a chunk's points, with
// the integer decompressor: the decoder's state then stays in registers
// from one symbol to the next instead of going through memory at every
// call.

[[gnu::always_inline]] inline void Point10Decoder::decode_changes(ArithmeticDecoder& dec)
{
    // Bits 5 to 0 say which of flags, intensity, classification, scan
    // angle, user data and point source changed.
    changed_ = dec.decode_likely(changed_values_);
    if (changed_ & 32) flags_ = static_cast<std::uint8_t>(dec.decode_symbol(model_after(flag_models_, flags_)));
    const std::uint32_t r = flags_ & 7, n = (flags_ >> 3) & 7;
    context_ = return_context[n][r];
    level_ = return_level[n][r];
    single_ = n == 1;
    if (changed_ & 16) intensity_ic_.decompress_k(dec, context_ < 3 ? context_ : 3);
}

[[gnu::always_inline]] inline void Point10Decoder::decode_attributes(ArithmeticDecoder& dec)
{
    if (changed_ & 16) {
        intensity_ = static_cast<std::uint16_t>(intensity_ic_.decompress_rest(dec, last_intensity_[context_]));
        last_intensity_[context_] = intensity_;
    } else {
        intensity_ = last_intensity_[context_];
    }
    if ((changed_ & 15) == 0) return;
    if (changed_ & 8) {
        classification_ =
            static_cast<std::uint8_t>(dec.decode_symbol(model_after(classification_models_, classification_)));
    }
    if (changed_ & 4) {
        const std::uint32_t v = dec.decode_symbol(scan_angle_models_[(flags_ >> 6) & 1]);
        scan_angle_ = static_cast<std::uint8_t>(v + scan_angle_);
    }
    if (changed_ & 2) {
        user_data_ = static_cast<std::uint8_t>(dec.decode_symbol(model_after(user_data_models_, user_data_)));
    }
    if (changed_ & 1) point_source_ = static_cast<std::uint16_t>(point_source_ic_.decompress(dec, point_source_));
}

[[gnu::always_inline]] inline void Point10Decoder::decode_x_k(ArithmeticDecoder& dec)
{
    dx_ic_.decompress_k(dec, single_);
}

[[gnu::always_inline]] inline void Point10Decoder::decode_x(ArithmeticDecoder& dec)
{
    const std::int32_t diff = dx_ic_.decompress_rest(dec, x_diff_[context_].get());
    x_ = wrapping_add(x_, diff);
    x_diff_[context_].add(diff);
}

[[gnu::always_inline]] inline void Point10Decoder::decode_y_k(ArithmeticDecoder& dec)
{
    dy_ic_.decompress_k(dec, single_ + k_context(dx_ic_.k(), 20));
}

[[gnu::always_inline]] inline void Point10Decoder::decode_y(ArithmeticDecoder& dec)
{
    const std::int32_t diff = dy_ic_.decompress_rest(dec, y_diff_[context_].get());
    y_ = wrapping_add(y_, diff);
    y_diff_[context_].add(diff);
}

[[gnu::always_inline]] inline void Point10Decoder::decode_z_k(ArithmeticDecoder& dec)
{
    const std::uint32_t k = (dx_ic_.k() + dy_ic_.k()) / 2;
    z_ic_.decompress_k(dec, single_ + k_context(k, 18));
}

[[gnu::always_inline]] inline void Point10Decoder::decode_z(ArithmeticDecoder& dec, LazPoint& out)
{
    z_ = z_ic_.decompress_rest(dec, last_height_[level_]);
    last_height_[level_] = z_;
    out = point();
}

[[gnu::always_inline]] inline void Point10Decoder::decode(ArithmeticDecoder& dec, LazPoint& out)
{
    decode_changes(dec);
    decode_attributes(dec);
    decode_x_k(dec);
    decode_x(dec);
    decode_y_k(dec);
    decode_y(dec);
    decode_z_k(dec);
    decode_z(dec, out);
}

GpsTime11Decoder::GpsTime11Decoder() : multi_model_(time_symbols) {}

void GpsTime11Decoder::init(const unsigned char* raw)
{
    last_ = next_ = 0;
    for (int i = 0; i < 4; ++i) {
        last_time_[i] = 0;
        last_diff_[i] = 0;
        extreme_count_[i] = 0;
    }
    last_time_[0] = little_endian<std::uint64_t>(raw);
    multi_model_.reset();
    zero_diff_model_.reset();
    time_ic_.reset();
}

// A time too far from the last for 32 bits: its high half predicted from
// the current sequence's, its low half raw, as the start of a new sequence.
[[gnu::always_inline]] inline void GpsTime11Decoder::read_full(ArithmeticDecoder& dec)
{
    next_ = (next_ + 1) & 3;
    const auto high =
        static_cast<std::uint32_t>(time_ic_.decompress(dec, static_cast<std::int32_t>(last_time_[last_] >> 32), 8));
    last_time_[next_] = (static_cast<std::uint64_t>(high) << 32) | dec.read_int();
    last_ = next_;
    last_diff_[last_] = 0;
    extreme_count_[last_] = 0;
}

[[gnu::always_inline]] inline void GpsTime11Decoder::decode(ArithmeticDecoder& dec)
{
    // The encoder switches sequence at most once per point; the bound keeps
    // damaged bytes from switching for ever.
    for (int switches = 0; switches < 4; ++switches) {
        if (last_diff_[last_] == 0) {
            const std::uint32_t multi = dec.decode_symbol(zero_diff_model_);
            if (multi == 1) {
                last_diff_[last_] = time_ic_.decompress(dec, 0, 0);
                last_time_[last_] += static_cast<std::uint64_t>(static_cast<std::int64_t>(last_diff_[last_]));
                extreme_count_[last_] = 0;
            } else if (multi == 2) {
                read_full(dec);
            } else if (multi > 2) {
                last_ = (last_ + multi - 2) & 3;
                continue;
            }
            return;
        }
        const std::uint32_t multi = dec.decode_symbol(multi_model_);
        if (multi == time_code_full) {
            read_full(dec);
            return;
        }
        if (multi > time_code_full) {
            last_ = (last_ + multi - time_code_full) & 3;
            continue;
        }
        if (multi >= time_unchanged) return;
        std::int32_t diff;
        const std::int32_t last_diff = last_diff_[last_];
        bool extreme = false;
        if (multi == 1) {
            diff = time_ic_.decompress(dec, last_diff, 1);
        } else if (multi == 0) {
            diff = time_ic_.decompress(dec, 0, 7);
            extreme = true;
        } else if (multi < static_cast<std::uint32_t>(time_multi)) {
            diff =
                time_ic_.decompress(dec, wrapping_mul(static_cast<std::int32_t>(multi), last_diff), multi < 10 ? 2 : 3);
        } else if (multi == static_cast<std::uint32_t>(time_multi)) {
            diff = time_ic_.decompress(dec, wrapping_mul(time_multi, last_diff), 4);
            extreme = true;
        } else {
            const std::int32_t below = time_multi - static_cast<std::int32_t>(multi);
            if (below > time_multi_minus) {
                diff = time_ic_.decompress(dec, wrapping_mul(below, last_diff), 5);
            } else {
                diff = time_ic_.decompress(dec, wrapping_mul(time_multi_minus, last_diff), 6);
                extreme = true;
            }
        }
        if (multi == 1) {
            extreme_count_[last_] = 0;
        } else if (extreme && ++extreme_count_[last_] > 3) {
            // A run of jumps beyond the multiples: the new step is the jump.
            last_diff_[last_] = diff;
            extreme_count_[last_] = 0;
        }
        last_time_[last_] += static_cast<std::uint64_t>(static_cast<std::int64_t>(diff));
        return;
    }
}

Rgb12Skipper::Rgb12Skipper() = default;

void Rgb12Skipper::reset()
{
    byte_used_.reset();
    for (ArithmeticModel& m : diff_models_) m.reset();
}

[[gnu::always_inline]] inline void Rgb12Skipper::skip_red(ArithmeticDecoder& dec)
{
    // Bits 0 and 1: red's low and high byte changed; 6: green and blue
    // differ from red, and then bits 2 to 5 say which of their bytes
    // changed, coded green low, blue low, green high, blue high.
    used_ = dec.decode_likely(byte_used_);
    if (used_ & 1) dec.decode_symbol(diff_models_[0]);
    if (used_ & 2) dec.decode_symbol(diff_models_[1]);
}

[[gnu::always_inline]] inline void Rgb12Skipper::skip_green_blue(ArithmeticDecoder& dec)
{
    if ((used_ & 64) == 0) return;
    if (used_ & 4) dec.decode_symbol(diff_models_[2]);
    if (used_ & 16) dec.decode_symbol(diff_models_[4]);
    if (used_ & 8) dec.decode_symbol(diff_models_[3]);
    if (used_ & 32) dec.decode_symbol(diff_models_[5]);
}

[[gnu::always_inline]] inline void Rgb12Skipper::skip(ArithmeticDecoder& dec)
{
    skip_red(dec);
    skip_green_blue(dec);
}

BytesSkipper::BytesSkipper(std::size_t count) : models_(count, ArithmeticModel(256)) {}

void BytesSkipper::reset()
{
    for (ArithmeticModel& m : models_) m.reset();
}

[[gnu::always_inline]] inline void BytesSkipper::skip(ArithmeticDecoder& dec)
{
    for (ArithmeticModel& m : models_) dec.decode_symbol(m);
}

namespace {

// What an encoder writes to close a stream that coded nothing: LASzip's
// writes three bytes; four leaves room for any encoder's rounding.
constexpr std::size_t empty_stream_bytes = 4;

// The item decoders of one point-wise chunk, in record order: POINT10,
// then GPS time, RGB and extra bytes when the format has them.
struct PointwiseItems {
    Point10Decoder point;
    std::optional<GpsTime11Decoder> time;
    std::optional<Rgb12Skipper> rgb;
    std::optional<BytesSkipper> bytes;
    std::size_t time_at = 0;  // its offset in the raw first record
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
        } else if (item.type == LazItem::byte && item.size > 0 && !p.bytes) {
            p.bytes.emplace(item.size);
        } else {
            return false;
        }
        at += item.size;
    }
    p.record_length = at;
    return true;
}

// One chunk under way: its item decoders, its arithmetic stream and where
// its points go.
struct PointwiseChunk {
    PointwiseItems items;
    ArithmeticDecoder dec;
    const unsigned char* end = nullptr;
    std::size_t count = 0;
    LazPoint* out = nullptr;
};

// The points [from, count) of a chunk, the item decoders fixed at compile
// time so that the formats without time or colour pay no test per point
// for them.
template <bool Time, bool Rgb>
[[gnu::always_inline]] inline void decode_point(PointwiseItems& p, ArithmeticDecoder& dec, LazPoint& out)
{
    p.point.decode(dec, out);
    if constexpr (Time) p.time->decode(dec);
    if constexpr (Rgb) p.rgb->skip(dec);
    if (p.bytes) p.bytes->skip(dec);
}

// The loops decode with a copy of the chunk's decoder that no function out
// of line ever sees: the compiler then keeps its state in registers, where
// the chunk's own would go through memory at every symbol (the stores of
// the models' counts might change it, for all the compiler knows).
template <bool Time, bool Rgb>
void decode_points(PointwiseChunk& c, std::size_t from)
{
    ArithmeticDecoder dec = c.dec;
    for (std::size_t i = from; i < c.count; ++i) decode_point<Time, Rgb>(c.items, dec, c.out[i]);
    c.dec = dec;
}

// Two chunks point by point: each symbol waits on the one before it in its
// own stream (a division, two look-ups, a product), so that one stream
// leaves most of the processor idle; the other's symbols fill that time.
template <bool Time, bool Rgb>
void decode_points_paired(PointwiseChunk& a, PointwiseChunk& b)
{
    const std::size_t both = std::min(a.count, b.count);
    PointwiseItems &p = a.items, &q = b.items;
    ArithmeticDecoder d = a.dec, e = b.dec;
    for (std::size_t i = 1; i < both; ++i) {
        // Step by step, so that the other stream's symbols are near enough
        // in the instructions for the processor to start them while one
        // waits.
        p.point.decode_changes(d);
        q.point.decode_changes(e);
        p.point.decode_attributes(d);
        q.point.decode_attributes(e);
        p.point.decode_x_k(d);
        q.point.decode_x_k(e);
        p.point.decode_x(d);
        q.point.decode_x(e);
        p.point.decode_y_k(d);
        q.point.decode_y_k(e);
        p.point.decode_y(d);
        q.point.decode_y(e);
        p.point.decode_z_k(d);
        q.point.decode_z_k(e);
        p.point.decode_z(d, a.out[i]);
        q.point.decode_z(e, b.out[i]);
        if constexpr (Time) {
            p.time->decode(d);
            q.time->decode(e);
        }
        if constexpr (Rgb) {
            p.rgb->skip_red(d);
            q.rgb->skip_red(e);
            p.rgb->skip_green_blue(d);
            q.rgb->skip_green_blue(e);
        }
        if (p.bytes) {
            p.bytes->skip(d);
            q.bytes->skip(e);
        }
    }
    a.dec = d;
    b.dec = e;
    decode_points<Time, Rgb>(a, both);
    decode_points<Time, Rgb>(b, both);
}

// Calls f with the items' time and colour as compile-time flags.
template <class F>
void with_item_set(const PointwiseItems& p, F f)
{
    if (p.time && p.rgb) {
        f(std::true_type{}, std::true_type{});
    } else if (p.time) {
        f(std::true_type{}, std::false_type{});
    } else if (p.rgb) {
        f(std::false_type{}, std::true_type{});
    } else {
        f(std::false_type{}, std::false_type{});
    }
}

// Sets the chunk up from its first point: its status if that is all there
// is to it (or it is damaged), none if its stream holds points to decode.
std::optional<LazChunkStatus> start_chunk(PointwiseChunk& c, const unsigned char* begin, const unsigned char* end,
                                          const std::vector<LazItem>& items, std::size_t count, LazPoint* out)
{
    PointwiseItems& p = c.items;
    if (!plan_items(items, p)) return LazChunkStatus::damaged;
    if (count == 0) return LazChunkStatus::ok;
    if (static_cast<std::size_t>(end - begin) < p.record_length) return LazChunkStatus::ends_early;
    p.point.init(begin);
    if (p.time) p.time->init(begin + p.time_at);
    if (p.rgb) p.rgb->reset();
    if (p.bytes) p.bytes->reset();
    out[0] = p.point.point();
    // A chunk of one point ends with the closing bytes of an arithmetic
    // stream that coded nothing (a writer may leave them out): anything
    // longer holds further points that the count leaves out.
    if (count == 1)
        return static_cast<std::size_t>(end - begin) - p.record_length <= empty_stream_bytes
                   ? LazChunkStatus::ok
                   : LazChunkStatus::miscounted;
    c.dec.init(begin + p.record_length, end);
    c.end = end;
    c.count = count;
    c.out = out;
    return std::nullopt;
}

LazChunkStatus finish_chunk(const PointwiseChunk& c)
{
    if (c.dec.overran()) return LazChunkStatus::ends_early;
    // The encoder ends a chunk with the very bytes the decoder reads last:
    // bytes left over belong to points the count leaves out (a header's
    // count lowered, as LAS would hold whole records after its points).
    return c.dec.position() == c.end ? LazChunkStatus::ok : LazChunkStatus::miscounted;
}

}  // namespace

LazChunkStatus decode_pointwise_chunk(const unsigned char* begin, const unsigned char* end,
                                      const std::vector<LazItem>& items, std::size_t count, LazPoint* out)
{
    auto c = std::make_unique<PointwiseChunk>();
    if (const auto status = start_chunk(*c, begin, end, items, count, out)) return *status;
    with_item_set(c->items, [&](auto time, auto rgb) { decode_points<time(), rgb()>(*c, 1); });
    return finish_chunk(*c);
}

void decode_pointwise_chunks(LazChunkJob& a, LazChunkJob& b, const std::vector<LazItem>& items)
{
    auto c = std::make_unique<PointwiseChunk[]>(2);
    const std::optional<LazChunkStatus> done[2] = {start_chunk(c[0], a.begin, a.end, items, a.count, a.out),
                                                   start_chunk(c[1], b.begin, b.end, items, b.count, b.out)};
    if (!done[0] && !done[1]) {
        with_item_set(c[0].items, [&](auto time, auto rgb) { decode_points_paired<time(), rgb()>(c[0], c[1]); });
    } else {
        for (int k = 0; k < 2; ++k) {
            if (!done[k])
                with_item_set(c[k].items, [&](auto time, auto rgb) { decode_points<time(), rgb()>(c[k], 1); });
        }
    }
    a.status = done[0] ? *done[0] : finish_chunk(c[0]);
    b.status = done[1] ? *done[1] : finish_chunk(c[1]);
}

}  // namespace kestranov
