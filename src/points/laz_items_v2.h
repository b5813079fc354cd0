// The point-wise items of LAZ point formats 0 to 5 (LASzip's version 2):
// after a chunk's first point, stored raw, every point is coded item after
// item in one arithmetic stream, each field predicted from the points
// before. One stream carries every item: the symbols of the items a run
// does not need (colours, extra bytes) must be decoded too, to keep it in
// step, but their values are not rebuilt. Only POINT10 hands its fields on.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "points/laz_arithmetic.h"
#include "points/laz_chunk.h"
#include "points/laz_median.h"

namespace kestranov {

// Decodes the `count` points of the point-wise chunk [begin, end) into
// `out[0..count)`; `items` is the LASzip VLR's list, of version 2, POINT10
// first. Never reads outside [begin, end).
LazChunkStatus decode_pointwise_chunk(const unsigned char* begin, const unsigned char* end,
                                      const std::vector<LazItem>& items, std::size_t count, LazPoint* out);
// Two such chunks of one file decoded at once, their symbols interleaved,
// each into its job's points with its own status.
void decode_pointwise_chunks(LazChunkJob& a, LazChunkJob& b, const std::vector<LazItem>& items);

// The 20 bytes of formats 0-5: X, Y, Z, intensity, return and flag bits,
// classification, scan angle, user data and point source.
class Point10Decoder {
public:
    Point10Decoder();
    // Starts a chunk from its first point's raw 20 bytes.
    void init(const unsigned char* raw);
    void decode(ArithmeticDecoder& dec, LazPoint& out);
    // decode in its steps, for a caller that alternates two streams: the
    // changes and the intensity's k, the other attributes, then X, Y and Z,
    // each its k then the rest.
    void decode_changes(ArithmeticDecoder& dec);
    void decode_attributes(ArithmeticDecoder& dec);
    void decode_x_k(ArithmeticDecoder& dec);
    void decode_x(ArithmeticDecoder& dec);
    void decode_y_k(ArithmeticDecoder& dec);
    void decode_y(ArithmeticDecoder& dec);
    void decode_z_k(ArithmeticDecoder& dec);
    void decode_z(ArithmeticDecoder& dec, LazPoint& out);
    // The fields of the last point, as LazPoint has them.
    LazPoint point() const;

private:
    // A model per value of the byte before it, made when first needed.
    using ByteModels = std::array<std::unique_ptr<ArithmeticModel>, 256>;
    static ArithmeticModel& model_after(ByteModels& models, std::uint8_t before);

    std::int32_t x_ = 0, y_ = 0, z_ = 0;
    std::uint16_t intensity_ = 0, point_source_ = 0;
    std::uint8_t flags_ = 0, classification_ = 0, scan_angle_ = 0, user_data_ = 0;
    // The point under way: its changes, return context, height level and
    // whether it is a pulse's only return.
    std::uint32_t changed_ = 0, context_ = 0, level_ = 0, single_ = 0;
    RunningMedian5 x_diff_[16], y_diff_[16];
    std::uint16_t last_intensity_[16] = {};
    std::int32_t last_height_[8] = {};

    ArithmeticModel changed_values_{64};
    ArithmeticModel scan_angle_models_[2] = {ArithmeticModel(256), ArithmeticModel(256)};
    ByteModels flag_models_, classification_models_, user_data_models_;
    IntegerDecompressor intensity_ic_{16, 4}, point_source_ic_{16}, dx_ic_{32, 2}, dy_ic_{32, 22}, z_ic_{32, 20};
};

// The GPS time: a double's bits, coded as differences in up to four
// sequences (lines flown interleaved), predicted as multiples of the last
// difference of the current sequence.
class GpsTime11Decoder {
public:
    GpsTime11Decoder();
    void init(const unsigned char* raw);
    void decode(ArithmeticDecoder& dec);
    std::uint64_t bits() const { return last_time_[last_]; }

private:
    void read_full(ArithmeticDecoder& dec);

    std::uint64_t last_time_[4] = {};
    std::int32_t last_diff_[4] = {};
    std::int32_t extreme_count_[4] = {};
    std::uint32_t last_ = 0, next_ = 0;
    ArithmeticModel multi_model_, zero_diff_model_{6};
    IntegerDecompressor time_ic_{32, 9};
};

// Red, green and blue, which no run uses: only their symbols are decoded,
// to keep the stream in step. Which models a point's colour is coded with
// follows from its first symbol alone, never from the colours before (they
// only shift the bytes the symbols correct), so the colours themselves are
// never rebuilt.
class Rgb12Skipper {
public:
    Rgb12Skipper();
    // Fresh models, as every chunk starts.
    void reset();
    void skip(ArithmeticDecoder& dec);
    // skip in two steps, for a caller that alternates two streams.
    void skip_red(ArithmeticDecoder& dec);
    void skip_green_blue(ArithmeticDecoder& dec);

private:
    std::uint32_t used_ = 0;  // the bytes that changed, of the colour under way
    ArithmeticModel byte_used_{128};
    ArithmeticModel diff_models_[6] = {ArithmeticModel(256), ArithmeticModel(256), ArithmeticModel(256),
                                       ArithmeticModel(256), ArithmeticModel(256), ArithmeticModel(256)};
};

// Extra bytes, which no run uses either: each byte is coded as its change
// in a model of its own, and only those symbols are decoded.
class BytesSkipper {
public:
    explicit BytesSkipper(std::size_t count);
    void reset();
    void skip(ArithmeticDecoder& dec);

private:
    std::vector<ArithmeticModel> models_;
};

}  // namespace kestranov
