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
// fewest digits. One check in thousandths decides for every k at once: when
// N / 10^k reads back as v, N * 10^(3-k) is the nearest whole number to
// 1000 v (the product's rounding is far below a half) and the same value
// over 1000; so the thousandths read back whenever any k does, and their
// trailing zeros, dropped, give the smallest k. Fixed notation is then
// never longer than scientific, but for whole numbers with trailing zeros
// (1e+06), left to to_chars.
inline char* put_few_decimals(char* buffer, double value, bool& done)
{
    done = false;
    const double a = value < 0 ? -value : value;
    if (!(a >= 1.0 && a < 0x1p33)) return buffer;
    // Rounded to the nearest whole number (ties to even) by adding and taking
    // away 1.5 * 2^52; a tie never reads back, whichever way it goes.
    constexpr double shift = 0x1.8p52;
    const auto thousandths = static_cast<unsigned long long>((a * 1000.0 + shift) - shift);
    if (static_cast<double>(thousandths) / 1000.0 != a) return buffer;
    const auto fraction = static_cast<unsigned>(thousandths % 1000);
    unsigned long long whole = thousandths / 1000;
    const int places = fraction == 0 ? 0 : fraction % 100 == 0 ? 1 : fraction % 10 == 0 ? 2 : 3;
    if (places == 0 && whole % 10 == 0) return buffer;
    int figures = 1;
    for (unsigned long long above = whole; above >= 10; above /= 10) ++figures;
    char* p = buffer;
    if (value < 0) *p++ = '-';
    // The whole part from its last figure back, two at a time.
    char* q = p + figures;
    for (; whole >= 10; whole /= 100) {
        const auto pair = static_cast<unsigned>(whole % 100);
        *--q = static_cast<char>('0' + pair % 10);
        *--q = static_cast<char>('0' + pair / 10);
    }
    if (q != p) *p = static_cast<char>('0' + whole);
    p += figures;
    if (places == 0) {
        done = true;
        return p;
    }
    // All three decimals are written (the buffer has room for them); the
    // text ends after the last one that is not a trailing zero.
    p[0] = '.';
    p[1] = static_cast<char>('0' + fraction / 100);
    p[2] = static_cast<char>('0' + fraction / 10 % 10);
    p[3] = static_cast<char>('0' + fraction % 10);
    done = true;
    return p + 1 + places;
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
