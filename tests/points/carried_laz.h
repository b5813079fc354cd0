// The small LAZ file the repository carries in tests/data/laz, and its LAS
// twin: what keeps the LAZ reader and its decoder tested in a clone without
// the real samples.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "files.h"

inline const std::filesystem::path carried = std::filesystem::path(KESTRANOV_TEST_DATA) / "laz";

// The carried LAZ file's twin: the 10 points of point10_10.las in each of
// its 4 chunks, moved by k x (500, 300) units in chunk k as the file's
// README says.
inline std::string twin_of_carried()
{
    const std::string ten = read_file(carried / "point10_10.las");
    const auto at = field<std::uint32_t>(ten, 96);
    std::string las = ten.substr(0, at);
    patch<std::uint32_t>(las, 107, 40);
    for (std::int32_t k = 0; k < 4; ++k)
        for (std::size_t r = 0; r < 10; ++r) {
            std::string record = ten.substr(at + 20 * r, 20);
            patch(record, 0, field<std::int32_t>(record, 0) + 500 * k);
            patch(record, 4, field<std::int32_t>(record, 4) + 300 * k);
            las += record;
        }
    return las;
}

// The carried pair with flag bits above the classification (formats 0 to 5
// keep synthetic, key-point and withheld there), which none of the samples
// set: chunk k's first record, stored whole, gets bit 5 + k of its
// classification byte (the 4th chunk all three), and so does every point
// of the chunk up to the first change of class, coded as a change from
// the first point's byte. The first change then comes from a fresh model
// whatever that byte was, so the compressed points that follow stay the
// same; the twin's records of those points get the same bits.
struct FlaggedCarried {
    std::string laz, las;
};
inline FlaggedCarried flagged_carried()
{
    FlaggedCarried f{read_file(carried / "point10_4x10.laz"), twin_of_carried()};
    const std::size_t chunks_at = field<std::uint32_t>(f.laz, 96) + 8, records_at = field<std::uint32_t>(f.las, 96);
    for (std::size_t k = 0; k < 4; ++k) {
        const auto bits = static_cast<std::uint8_t>(k == 3 ? 0xE0 : 0x20 << k);
        const std::size_t first = chunks_at + 116 * k + 15;
        const auto cls = static_cast<std::uint8_t>(f.laz[first]);
        f.laz[first] = static_cast<char>(cls | bits);
        for (std::size_t r = 10 * k; r < 10 * k + 10; ++r) {
            char& b = f.las[records_at + 20 * r + 15];
            if (static_cast<std::uint8_t>(b) != cls) break;
            b = static_cast<char>(cls | bits);
        }
    }
    return f;
}
