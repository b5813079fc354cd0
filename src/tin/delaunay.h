// The Delaunay triangulation of a set of points, the same whatever order
// they come in.
//
// Points are inserted one by one (tin/insertion_order.h), each located by a
// walk from the triangle of the previous one, the triangle (or the edge) it
// falls in split, then the edges facing it flipped while it lies inside the
// circle of the triangle beyond (Lawson). The in-circle test breaks ties by
// the symbolic perturbation of tin/exact_predicates.h, so where four or more
// points are on one circle the diagonals still follow from the coordinates
// alone: the triangulation is the unique Delaunay triangulation of the
// perturbed points, whatever the order of insertion.
#pragma once

#include <vector>

#include "tin/triangulation.h"

namespace tin {

// Which elevation a vertex keeps when several points share its (x, y).
enum class KeepZ { highest, lowest };

// At most this many points (the triangles' indices are 32-bit).
constexpr std::size_t kMaxPoints = std::size_t{1} << 30;

// Coordinates the exact predicates hold for: 0, or a magnitude from 2^-100 to
// 2^200 (no product of their differences overflows or leaves the normal range).
bool coordinate_in_range(double v);

// The triangulation of `points` (taken over: they become its vertices). Fewer
// than three distinct points, or all of them on one line, give no triangle
// (an empty triangulation). Throws std::length_error above kMaxPoints and
// std::invalid_argument for an x or y out of coordinate_in_range (NaN and
// the infinities included); z is only carried. Up to two `threads` share
// the work; the triangulation is the same for any number.
Triangulation triangulate(std::vector<Vertex> points, KeepZ keep, int threads = 1);

}  // namespace tin
