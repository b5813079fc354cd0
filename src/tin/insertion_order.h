// The order in which the triangulation inserts its points: biased randomized
// insertion (rounds of growing size, each round a random share of the
// points) with each round along a Hilbert curve, so that consecutive points
// are near each other and a walk from the last one is short, while the
// rounds keep the early triangulation spread over the whole extent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tin/vertex.h"

namespace tin {

// Every index of `vertices` once, the same for any number of `threads` (two
// share the work). The order only affects speed, never the triangulation.
// The most bytes a point insertion_order holds at once (its keys, sorted
// from one array into another), the order it returns included.
constexpr std::size_t kOrderingBytesPerPoint = 2 * sizeof(std::uint64_t);
std::vector<std::uint32_t> insertion_order(const std::vector<Vertex>& vertices, int threads = 1);

// The Hilbert curve index of a cell of a 2^order x 2^order grid.
std::uint32_t hilbert_index(std::uint32_t x, std::uint32_t y, int order);

}  // namespace tin
