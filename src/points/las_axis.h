// How a LAS coordinate integer becomes a coordinate, for the LAS and the
// LAZ readers alike.
#pragma once

#include <cstdint>
#include <optional>

namespace kestranov {

// The value of a coordinate integer. When the scale is the double nearest
// 10^-k and the offset a whole number of 10^-k units, the value is the
// decimal number i x 10^-k + offset correctly rounded: the very double that
// strtod gives for the point written with k decimals, as converters print
// it, so that a DEM from the LAS file equals the DEM from its text. Other
// scales give double(i) * scale + offset, each step rounded to double.
class LasAxis {
public:
    LasAxis(double scale, double offset);

    // Whether value() is one division of exact operands for every 32-bit
    // integer: the offset's units leave room for it below 2^53.
    bool quick() const { return quick_; }
    // The value when quick(): i + units is an integer below 2^53, so the
    // sum of the two doubles is exact, and so is 10^k.
    double quick_value(std::int32_t i) const { return (static_cast<double>(i) + units_) / divisor_; }
    double value(std::int32_t i) const;
    // The integer whose quick_value() is nearest `v`, when quick() and it
    // has 32 bits: how a LAZ file's header bounds are read as the bounds of
    // its integers.
    std::optional<std::int32_t> quick_integer(double v) const;

private:
    double scale_, offset_;
    bool decimal_ = false;
    bool quick_ = false;
    int k_ = 0;             // decimals
    double divisor_ = 1.0;  // 10^k
    double units_ = 0.0;    // the offset in units of 10^-k, a whole number
};

}  // namespace kestranov
