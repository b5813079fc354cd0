// Elevations as integers of 1/coef metre: the product is formed with a
// 64-bit significand and truncated toward zero, never rounded to double
// first, so 2201.37 m gives 220136 cm and 100.1 m gives 1000 dm.
#pragma once

#include <cstdint>

inline long double scaled_exact(double metres, double coef)
{
    return static_cast<long double>(metres) * static_cast<long double>(coef);
}

// The truncated product as a 64-bit integer (saturated far beyond any
// elevation, so that no value can make the conversion undefined).
inline std::int64_t scaled_value(double metres, double coef)
{
    const long double p = scaled_exact(metres, coef);
    if (p >= 9.2e18L) return INT64_MAX;
    if (p <= -9.2e18L) return INT64_MIN;
    return static_cast<std::int64_t>(p);
}
