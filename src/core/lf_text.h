// Reals as "%lf" prints them: fixed notation, six decimals, correctly
// rounded (an exact tie to the even neighbour), a minus sign for negative
// values (also -0.000000), no blanks.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

#include "core/ieee_double.h"

namespace kestranov {

// Longest "%lf" text of a double: 309 integer digits, sign, point, 6 decimals.
constexpr std::size_t lf_max_chars = 320;

namespace lf_detail {

__extension__ typedef unsigned __int128 uint128;  // GCC and clang on 64-bit targets

// round(|value| * 10^6), exactly, when it fits 64 bits; false otherwise.
// value = significand * 2^exponent, so value * 10^6 is an integer times a
// power of two: a shift of a 128-bit product and a look at the bits shifted out.
inline bool micro_units(const DoubleParts& d, std::uint64_t& units)
{
    if (!d.finite) return false;
    const int exponent = d.exponent;
    uint128 product = static_cast<uint128>(d.significand) * 1000000u;  // below 2^73
    if (exponent >= 0) {
        if (exponent > 20) return false;
        product <<= exponent;
    } else if (-exponent >= 100) {
        product = 0;  // below 2^-27: rounds to zero
    } else {
        const int shift = -exponent;
        const uint128 kept = product >> shift;
        const uint128 dropped = product - (kept << shift);
        const uint128 half = static_cast<uint128>(1) << (shift - 1);
        product = kept + (dropped > half || (dropped == half && (kept & 1)) ? 1 : 0);
    }
    if (product >> 64) return false;
    units = static_cast<std::uint64_t>(product);
    return true;
}

}  // namespace lf_detail

// Writes the text at `buffer` (at least lf_max_chars bytes) and returns its end.
inline char* put_lf(char* buffer, double value)
{
    const DoubleParts d = parts_of(value);
    std::uint64_t units;
    if (!lf_detail::micro_units(d, units))
        return std::to_chars(buffer, buffer + lf_max_chars, value, std::chars_format::fixed, 6).ptr;
    char* p = buffer;
    if (d.negative) *p++ = '-';
    p = std::to_chars(p, p + 20, units / 1000000).ptr;
    *p++ = '.';
    // The six decimals two at a time: a grid writes millions of them.
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    std::uint32_t micro = static_cast<std::uint32_t>(units % 1000000);
    for (int k = 4; k >= 0; k -= 2) {
        const std::uint32_t two = micro % 100;
        micro /= 100;
        p[k] = pairs[2 * two];
        p[k + 1] = pairs[2 * two + 1];
    }
    return p + 6;
}

inline std::string lf(double value)
{
    char buffer[lf_max_chars];
    return std::string(buffer, put_lf(buffer, value));
}

}  // namespace kestranov
