// The column and row (from the south) of each point of a batch on the
// lattice, several points at a time: the arithmetic of cell_floor
// (grid/lattice.h) in vector lanes, the subtraction, the product by the
// inverse, the rounding and the error-bound test, so the same cells. A lane
// whose quotient lies too near a whole number for the test to decide is
// done again by cell_floor itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/reading_options.h"
#include "points/record_batch.h"

namespace kestranov {

// What cell_floor takes besides the coordinate, for one axis.
struct LatticeAxis {
    double origin, size, inverse;
    std::int64_t count;
};

// Sets col[k] and row[k] to cell_floor of point k's X on `x` and Y on `y`
// for the first points of [pts, pts + n), eight (AVX-512) or four (AVX2) at
// a time, and returns how many: the caller does the rest. Returns 0 at once
// for the scalar path or a processor without the one asked for.
std::size_t lattice_floors_vector(VectorPath path, const Point* pts, std::size_t n, const LatticeAxis& x,
                                  const LatticeAxis& y, std::int64_t* col, std::int64_t* row);

}  // namespace kestranov
