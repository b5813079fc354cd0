// The one rule by which a cell keeps the highest or the lowest of its
// points, shared by the console's grid (grid/assignment.cpp) and
// kestranov-grid's (grid/lattice_grid.cpp).
#pragma once

#include <bit>
#include <cstdint>

namespace kestranov {

// What a cell holding `value` (`empty`: no point yet) keeps once the point
// of elevation `z` arrives. Without branches: whether a cell is empty and
// whether a point beats it are data, which a branch predictor guesses
// badly. An empty cell takes the point (chosen on the bits, which the
// compiler keeps branch-free; the two tests joined in one condition, it
// branched on each); then z > held ? z : held is one maximum instruction,
// which keeps the cell's value on a tie (the first of equal elevations,
// -0.0 or 0.0) and against a NaN elevation.
template <bool highest>
inline double kept_elevation(double value, bool empty, double z)
{
    const std::uint64_t mask = 0 - static_cast<std::uint64_t>(empty);
    const double held =
        std::bit_cast<double>((std::bit_cast<std::uint64_t>(z) & mask) | (std::bit_cast<std::uint64_t>(value) & ~mask));
    return (highest ? z > held : z < held) ? z : held;
}

}  // namespace kestranov
