// Reals as "%lf" prints them: fixed notation, six decimals, correctly
// rounded, a minus sign for negative values (also -0.000000), no blanks.
#pragma once

#include <charconv>
#include <string>

// Longest "%lf" text of a double: 309 integer digits, sign, point, 6 decimals.
constexpr std::size_t lf_max_chars = 320;

// Writes the text at `buffer` (at least lf_max_chars bytes) and returns its end.
inline char* put_lf(char* buffer, double value)
{
    return std::to_chars(buffer, buffer + lf_max_chars, value, std::chars_format::fixed, 6).ptr;
}

inline std::string lf(double value)
{
    char buffer[lf_max_chars];
    return std::string(buffer, put_lf(buffer, value));
}
