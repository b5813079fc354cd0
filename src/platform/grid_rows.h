// Memory for the rows of the grids. A grid of a million cells is a thousand
// rows of a few kilobytes; from malloc each of its pages is a fault of its
// own, and on a virtual machine those faults take a fifth of a whole run.
// Rows taken one after the other from a few large mappings can be backed by
// 2 MiB pages instead, where the system offers them (transparent huge pages
// in "madvise" mode). Every row is still an allocation of its own, zero
// filled, and given back on its own.
#pragma once

#include <cstddef>

namespace kestranov {

// `count` x `size` zero bytes, aligned for any type, or null. Falls back on
// calloc when no mapping can be had, so that a run under a memory limit
// fails no earlier than with calloc alone.
void* grid_row_alloc(std::size_t count, std::size_t size);
// Gives back what grid_row_alloc returned (or null); a mapping is unmapped
// when the last of its rows is given back.
void grid_row_free(void* row);

}  // namespace kestranov
