// The triangulated surface read at the centres of a lattice of cells.
//
// A centre inside a triangle takes the linear interpolation of its three
// vertices' z, computed from the vertex earliest in (x, y) order; a centre on
// an edge takes the interpolation of the edge's two vertices only, and a
// centre on a vertex that vertex's z, so that a point shared by several
// triangles has one value whichever of them the walk reached. Outside the
// convex hull, NaN. The barycentric weights come from orientation
// determinants good to a relative 2^-40 (tin/exact_predicates.h): the value
// is within 1e-8 of the vertices' z range plus 4 ulps of the exact one, with
// a wide margin on the first term.
#pragma once

#include <cstddef>
#include <limits>
#include <vector>

#include "tin/triangulation.h"

namespace tin {

// Cell (r, c), rows from the north, has its centre at
// (x_min + (first_column + c + 1/2) size, y_max - (first_row + r + 1/2) size):
// a window of a larger lattice (a tile) measures its centres from that
// lattice's corner, so that they are the very doubles of the uncut one.
struct CellLattice {
    double x_min;
    double y_max;
    double size;
    std::size_t rows;
    std::size_t columns;
    std::size_t first_row = 0;
    std::size_t first_column = 0;
};

// The value of every cell, row by row from the north. With a finite
// `max_edge`, a centre whose triangle has an edge longer than it is NaN; a
// centre on an edge or a vertex keeps its value when one of the triangles
// around it has none (and, on an edge, that edge is not longer itself).
// Up to two `threads` share the rows; the values are the same for any number.
std::vector<double> sample(const Triangulation& tin, const CellLattice& lattice,
                           double max_edge = std::numeric_limits<double>::infinity(), int threads = 1);

}  // namespace tin
