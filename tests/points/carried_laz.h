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
