#include "points/laz_items_v2.h"

#include <cstring>
#include <memory>
#include <optional>

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

// Inlined into the loop over a chunk's points below, with the integer
// decompressor: the decoder's state then stays in registers from one
// symbol to the next instead of going through memory at every call.
[[gnu::always_inline]] inline void Point10Decoder::decode(ArithmeticDecoder& dec, LazPoint& out)
{
    // Bits 5 to 0 say which of flags, intensity, classification, scan
    // angle, user data and point source changed.
    const std::uint32_t changed = dec.decode_symbol(changed_values_);
    std::uint32_t r = flags_ & 7, n = (flags_ >> 3) & 7;
    std::uint32_t m = return_context[n][r], l = return_level[n][r];
    if (changed != 0) {
        if (changed & 32) {
            flags_ = static_cast<std::uint8_t>(dec.decode_symbol(model_after(flag_models_, flags_)));
            r = flags_ & 7;
            n = (flags_ >> 3) & 7;
            m = return_context[n][r];
            l = return_level[n][r];
        }
        if (changed & 16) {
            intensity_ = static_cast<std::uint16_t>(intensity_ic_.decompress(dec, last_intensity_[m], m < 3 ? m : 3));
            last_intensity_[m] = intensity_;
        } else {
            intensity_ = last_intensity_[m];
        }
        if (changed & 8) {
            classification_ =
                static_cast<std::uint8_t>(dec.decode_symbol(model_after(classification_models_, classification_)));
        }
        if (changed & 4) {
            const std::uint32_t v = dec.decode_symbol(scan_angle_models_[(flags_ >> 6) & 1]);
            scan_angle_ = static_cast<std::uint8_t>(v + scan_angle_);
        }
        if (changed & 2) {
            user_data_ = static_cast<std::uint8_t>(dec.decode_symbol(model_after(user_data_models_, user_data_)));
        }
        if (changed & 1) {
            point_source_ = static_cast<std::uint16_t>(point_source_ic_.decompress(dec, point_source_));
        }
    }

    const std::uint32_t single = n == 1;
    std::int32_t diff = dx_ic_.decompress(dec, x_diff_[m].get(), single);
    x_ = wrapping_add(x_, diff);
    x_diff_[m].add(diff);

    diff = dy_ic_.decompress(dec, y_diff_[m].get(), single + k_context(dx_ic_.k(), 20));
    y_ = wrapping_add(y_, diff);
    y_diff_[m].add(diff);

    const std::uint32_t k = (dx_ic_.k() + dy_ic_.k()) / 2;
    z_ = z_ic_.decompress(dec, last_height_[l], single + k_context(k, 18));
    last_height_[l] = z_;

    out = point();
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
void GpsTime11Decoder::read_full(ArithmeticDecoder& dec)
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

[[gnu::always_inline]] inline void Rgb12Skipper::skip(ArithmeticDecoder& dec)
{
    // Bits 0 and 1: red's low and high byte changed; 6: green and blue
    // differ from red, and then bits 2 to 5 say which of their bytes
    // changed, coded green low, blue low, green high, blue high.
    const std::uint32_t used = dec.decode_symbol(byte_used_);
    if (used & 1) dec.decode_symbol(diff_models_[0]);
    if (used & 2) dec.decode_symbol(diff_models_[1]);
    if ((used & 64) == 0) return;
    if (used & 4) dec.decode_symbol(diff_models_[2]);
    if (used & 16) dec.decode_symbol(diff_models_[4]);
    if (used & 8) dec.decode_symbol(diff_models_[3]);
    if (used & 32) dec.decode_symbol(diff_models_[5]);
}

BytesSkipper::BytesSkipper(std::size_t count) : models_(count, ArithmeticModel(256)) {}

void BytesSkipper::reset()
{
    for (ArithmeticModel& m : models_) m.reset();
}

void BytesSkipper::skip(ArithmeticDecoder& dec)
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

// The points after the first, the item decoders fixed at compile time so
// that the formats without time or colour pay no test per point for them.
template <bool Time, bool Rgb>
void decode_points(PointwiseItems& p, ArithmeticDecoder& dec, std::size_t count, LazPoint* out)
{
    for (std::size_t i = 1; i < count; ++i) {
        p.point.decode(dec, out[i]);
        if constexpr (Time) p.time->decode(dec);
        if constexpr (Rgb) p.rgb->skip(dec);
        if (p.bytes) p.bytes->skip(dec);
    }
}

}  // namespace

LazChunkStatus decode_pointwise_chunk(const unsigned char* begin, const unsigned char* end,
                                      const std::vector<LazItem>& items, std::size_t count, LazPoint* out)
{
    auto p = std::make_unique<PointwiseItems>();
    if (!plan_items(items, *p)) return LazChunkStatus::damaged;
    if (count == 0) return LazChunkStatus::ok;
    if (static_cast<std::size_t>(end - begin) < p->record_length) return LazChunkStatus::ends_early;
    p->point.init(begin);
    if (p->time) p->time->init(begin + p->time_at);
    if (p->rgb) p->rgb->reset();
    if (p->bytes) p->bytes->reset();
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

}  // namespace kestranov
