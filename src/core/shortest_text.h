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

// Writes the text at `buffer` (at least shortest_max_chars bytes) and returns its end.
inline char* put_shortest(char* buffer, double value)
{
    return std::to_chars(buffer, buffer + shortest_max_chars, value).ptr;
}

inline std::string shortest(double value)
{
    char buffer[shortest_max_chars];
    return std::string(buffer, put_shortest(buffer, value));
}

}  // namespace kestranov
