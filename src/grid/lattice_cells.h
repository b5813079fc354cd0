// Where each point of a batch goes in the lattice grid's storage, several
// points at a time: the arithmetic of cell_floor (grid/lattice.h) in vector
// lanes, the subtraction, the product by the inverse, the rounding and the
// error-bound test, so the same cells. A lane whose quotient lies too near
// a whole number for the test to decide is placed again by place_point.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/reading_options.h"
#include "grid/lattice.h"
#include "points/record_batch.h"

namespace kestranov {

// What cell_floor takes besides the coordinate, for one axis. Rows are
// the rule on -y: their origin is -ymax.
struct LatticeAxis {
    double origin, size, inverse;
    std::int64_t first;  // a window's first column or row on its whole lattice (0: none)
    std::int64_t count;
};

// The grid's storage as placing sees it: rows of cols + 2 cells, the ring's
// row -1 (north) first, and one sink for the points beyond the ring.
struct LatticeStorage {
    LatticeAxis x, y;
    std::int64_t row_length;
    std::size_t sink;
};

// Points placed: in a cell of the grid, in the grid or its ring.
struct Placed {
    std::int64_t inner = 0, kept = 0;
};

// The storage offset of the cell of `p`, or the sink; counted in `placed`.
inline std::size_t place_point(const LatticeStorage& s, const Point& p, Placed& placed)
{
    const std::int64_t c = cell_floor(p.x, s.x.origin, s.x.size, s.x.inverse, s.x.first, s.x.count);
    const std::int64_t r = cell_floor(-p.y, s.y.origin, s.y.size, s.y.inverse, s.y.first, s.y.count);
    const bool in_ring = (c != beyond_ring) & (r != beyond_ring);
    placed.inner += (static_cast<std::uint64_t>(c) < static_cast<std::uint64_t>(s.x.count)) &
                    (static_cast<std::uint64_t>(r) < static_cast<std::uint64_t>(s.y.count));
    placed.kept += in_ring;
    // Storage row r + 1: the ring's row -1 is storage row 0.
    return in_ring ? static_cast<std::size_t>((r + 1) * s.row_length + c + 1) : s.sink;
}

// Sets at[k] to place_point of point k for the first points of [pts, pts +
// n), eight (AVX-512) or four (AVX2) at a time, and returns how many: the
// caller places the rest. Returns 0 at once for the scalar path, a
// processor without the one asked for, a window of a larger lattice (a
// tile, placed by place_point), or a storage of 2^51 cells or more (the
// lanes form offsets in doubles).
std::size_t place_points_vector(VectorPath path, const Point* pts, std::size_t n, const LatticeStorage& s,
                                std::size_t* at, Placed& placed);

}  // namespace kestranov
