// Reals in the shortest text that reads back as the same double: what
// std::to_chars writes when given no format and no precision (fixed or
// scientific, whichever is shorter; "-0" for minus zero). The lattice's
// messages and the ESRI grid's numbers are written this way.
#pragma once

#include <charconv>
#include <cstddef>
#include <string>

namespace kestranov {

// Longest such text of a double: "-2.2250738585072014e-308" has 24 characters.
constexpr std::size_t shortest_max_chars = 32;

namespace shortest_detail {

// Elevations are mostly decimals of a few places (283.47), which a general
// shortest-digits search finds at several hundred instructions a number.
// For 1 <= |v| < 2^33 the value reads back from "N/10^k" exactly when the
// double nearest N / 10^k is v, and that division, of two integers below
// 2^53, is itself rounded to nearest: so the check is one division. Below
// 2^33 a thousandth is more than 500 ulps of v, so at most one N lies
// within reach for each k, and the smallest k that reads back gives the
// fewest digits. Fixed notation is then never longer than scientific, but
// for whole numbers with trailing zeros (1e+06), left to to_chars.
inline char* put_few_decimals(char* buffer, double value, bool& done)
{
    done = false;
    const double a = value < 0 ? -value : value;
    if (!(a >= 1.0 && a < 0x1p33)) return buffer;
    constexpr double scales[] = {1.0, 10.0, 100.0, 1000.0};
    for (int k = 0; k < 4; ++k) {
        // The nearest whole number, below 2^43 here: 1.5 * 2^52 added and
        // taken away again leaves no fraction (the rounding mode's nearest).
        const double n = (a * scales[k] + 0x1.8p52) - 0x1.8p52;
        if (n / scales[k] != a) continue;
        auto digits = static_cast<unsigned long long>(n);
        if (k == 0 && digits % 10 == 0) return buffer;
        char text[24];
        int length = 0;
        for (int place = 0; digits != 0 || place <= k; ++place) {
            if (place == k && k > 0) text[length++] = '.';
            text[length++] = static_cast<char>('0' + digits % 10);
            digits /= 10;
        }
        char* p = buffer;
        if (value < 0) *p++ = '-';
        while (length > 0) *p++ = text[--length];
        done = true;
        return p;
    }
    return buffer;
}

}  // namespace shortest_detail

// Writes the text at `buffer` (at least shortest_max_chars bytes) and returns its end.
inline char* put_shortest(char* buffer, double value)
{
    bool done = false;
    char* end = shortest_detail::put_few_decimals(buffer, value, done);
    if (done) return end;
    return std::to_chars(buffer, buffer + shortest_max_chars, value).ptr;
}

inline std::string shortest(double value)
{
    char buffer[shortest_max_chars];
    return std::string(buffer, put_shortest(buffer, value));
}

}  // namespace kestranov
