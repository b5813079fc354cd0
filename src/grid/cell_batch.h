// The cells of a batch of points under the exact rule (a power-of-two cell,
// every distance from the grid's edges exact in double), eight points at a
// time on a processor with AVX-512: the same arithmetic as exact_cell, a
// subtraction, a multiplication by the exact inverse and the ceiling, so
// the same cells.
#pragma once

#include <cstddef>

#include "core/extents.h"
#include "core/reading_options.h"
#include "points/record_batch.h"

namespace kestranov {

// Sets cell[k] to the cell of point k for the first points of [pts, pts +
// n), eight at a time, and returns how many: up to the eight that hold a
// point outside `e` (the caller then finds it) or the last whole eight.
// Returns 0 at once unless `path` is AVX-512 (which the caller takes from
// platform/cpu_features.h, so that the processor has it). The caller places the points from there itself.
std::size_t place_exact_vector(VectorPath path, const Point* pts, std::size_t n, const Extents& e, double inverse,
                               double* const* dtab, double** cell);

}  // namespace kestranov
