// Zeroed blocks for the rows of the grids, packed into slabs of one large
// page each. A grid of a million cells has a thousand rows; from calloc
// each of its 4 KiB pages costs a fault when the row is cleared, and on a
// virtual machine those faults take longer than the grid's arithmetic. A
// slab is one fault. The console hands these to the matrix allocation
// module (nr_set_allocator) for the whole run.
#pragma once

#include <cstddef>

namespace kestranov {

// `count` x `size` bytes of zeros, 16-byte aligned, or null: from a slab
// when they fill at most a quarter of one, otherwise (or short of address
// space for a slab) from calloc.
void* slab_zeroed(std::size_t count, std::size_t size);
// Gives back a block of slab_zeroed (or null); a slab goes back to the
// system with its last block, and is never handed out again.
void slab_release(void* block);

}  // namespace kestranov
