// A finite double taken apart: value = significand * 2^exponent, exactly.
// The "%lf" text and the scaling of raster cells both work on these parts
// with integer arithmetic, to be exact without the x87 unit.
#pragma once

#include <cstdint>
#include <cstring>

namespace kestranov {

struct DoubleParts {
    bool negative;
    bool finite;
    std::uint64_t significand;  // 0 for a zero, below 2^53
    int exponent;
};

inline DoubleParts parts_of(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    return {(bits >> 63) != 0, biased != 0x7ff, biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52),
            (biased == 0 ? 1 : biased) - 1075};
}

}  // namespace kestranov
