// A LAS file made by the tests themselves, for the readers that need one
// without the samples.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "support.h"

// A LAS file of the given version (1.minor), point format and record length
// holding `points`, their integers drawn over 60 x 40 m and 50 m of height;
// LAS 1.4 gives its count in the 64-bit field only, LAS 1.3 no waveform data.
inline std::string synthetic_las(int minor, int format, std::uint16_t length, int points, std::array<double, 3> scale,
                                 std::array<double, 3> offset)
{
    const std::uint16_t header = minor >= 4 ? 375 : minor == 3 ? 235 : 227;
    std::string b(header + static_cast<std::size_t>(points) * length, '\0');
    std::memcpy(b.data(), "LASF", 4);
    b[24] = 1, b[25] = static_cast<char>(minor), b[104] = static_cast<char>(format);
    patch<std::uint16_t>(b, 94, header);
    patch<std::uint32_t>(b, 96, header);
    patch<std::uint16_t>(b, 105, length);
    if (minor >= 4)
        patch<std::uint64_t>(b, 247, static_cast<std::uint64_t>(points));
    else
        patch<std::uint32_t>(b, 107, static_cast<std::uint32_t>(points));
    std::mt19937_64 rng(static_cast<std::uint64_t>(points));
    const std::array<double, 3> extent = {60, 40, 50};
    for (int a = 0; a < 3; ++a) {
        patch<double>(b, 131 + 8 * a, scale[a]);
        patch<double>(b, 155 + 8 * a, offset[a]);
        const auto units = static_cast<std::uint64_t>(extent[a] / scale[a]);
        for (int p = 0; p < points; ++p)
            patch<std::int32_t>(b, header + static_cast<std::size_t>(p) * length + 4 * a,
                                static_cast<std::int32_t>(rng() % units) - (a == 2 ? 1000 : 0));
    }
    return b;
}
