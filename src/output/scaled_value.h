// Elevations as integers of 1/coef metre: the product is formed with a
// 64-bit significand and truncated toward zero, never rounded to double
// first, so 2201.37 m gives 220136 cm and 100.1 m gives 1000 dm.
#pragma once

#include <cstdint>

#include "core/ieee_double.h"

namespace kestranov {

// Products this large saturate, far beyond any elevation, so that no value
// can make the conversion undefined.
constexpr std::uint64_t saturation = 9200000000000000000u;

// The truncated product as a 64-bit integer.
inline std::int64_t scaled_value_extended(double metres, double coef)
{
    const long double p = static_cast<long double>(metres) * static_cast<long double>(coef);
    if (p >= static_cast<long double>(saturation)) return INT64_MAX;
    if (p <= -static_cast<long double>(saturation)) return INT64_MIN;
    return static_cast<std::int64_t>(p);
}

// The same in integers, for a whole-number scale from 1 to 1024.
inline std::int64_t scaled_by_integer(double metres, std::uint64_t scale)
{
    const DoubleParts d = parts_of(metres);
    const bool negative = d.negative;
    if (!d.finite) return negative ? INT64_MIN : INT64_MAX;
    if (d.significand < (std::uint64_t{1} << 52)) return 0;  // zero or subnormal: far below one unit
    const std::uint64_t product = d.significand * scale;
    const int shift = d.exponent;  // metres = significand * 2^shift
    std::uint64_t magnitude;
    if (shift > 0) {
        if (shift >= 63 || (product >> (63 - shift)) != 0) return negative ? INT64_MIN : INT64_MAX;
        magnitude = product << shift;
    } else {
        magnitude = shift <= -64 ? 0 : product >> -shift;
    }
    if (magnitude >= saturation) return negative ? INT64_MIN : INT64_MAX;
    return negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
}

// Whether coef is a whole-number scale that scaled_by_integer takes.
inline bool integer_scale(double coef)
{
    return coef >= 1.0 && coef <= 1024.0 && static_cast<double>(static_cast<std::uint64_t>(coef)) == coef;
}

// The same in integers. For the scales in use (1, 10, 100, 1000: at most ten
// bits) the 53-bit significand times the scale fits 64 bits, so the
// extended product is exact; truncating the exact product of significand
// and scale shifted by the exponent gives the same integer, without the x87
// unit and its costly conversion.
inline std::int64_t scaled_value(double metres, double coef)
{
    if (!integer_scale(coef)) return scaled_value_extended(metres, coef);
    return scaled_by_integer(metres, static_cast<std::uint64_t>(coef));
}

}  // namespace kestranov
