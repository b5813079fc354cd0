// How much memory a run may take before the system stops it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestranov {

// The memory this process can still obtain: the smaller of what the machine
// has available (MemAvailable) and what every memory control group the
// process belongs to allows beyond its current use (a container, a CI
// runner, systemd-run -p MemoryMax=); the physical memory when neither is
// known, 0 when nothing is. Past it the out-of-memory killer ends the
// process without a word, so a grid is refused before it gets that far.
std::uint64_t available_memory_bytes();

// The C++ runtime makes room for a thrown exception with malloc, or else in
// a pool it sets aside when the program starts. Under a tight limit on
// virtual memory (ulimit -v) that pool may not be there, and the first
// std::bad_alloc could then not be thrown: the runtime would abort the
// process instead of letting the run end with its memory message. A little
// memory is held back for that moment: a new-handler gives it back to malloc
// just before operator new reports the failure. Called at the start, and
// again after a failure that the run got over (the memory was given back).
// False when not even that little can be had: the run cannot go on.
bool hold_memory_for_failures();

// Asks the system to back the whole 2 MiB pages within `bytes` from `data`
// with large pages where it can (Linux's transparent huge pages, when they
// are left to each program): a grid's rasters and sums are touched from
// end to end, and at one fault per 4 KiB page the faults cost as much as a
// statistic's arithmetic. Nothing changes in the memory's contents.
void prefer_large_pages(void* data, std::size_t bytes);

// Has the system give the pages within `bytes` from `data` their memory
// now, as a first write to each would, without writing anything (Linux's
// MADV_POPULATE_WRITE, from 5.14; elsewhere nothing happens): called on one
// thread while another fills the memory, it takes the zeroing of fresh
// pages off the filling thread, and no byte either thread sees changes.
// With `two_threads`, a second thread takes half of the pages meanwhile.
void populate_for_writing(void* data, std::size_t bytes, bool two_threads = false);

// `bytes` of memory (not cleared) for std::free to give back, or null: from
// 2 MiB on, aligned to a large page and rounded up to whole ones, asked for
// large pages as above up to `advised` bytes (all of it by default): a
// caller that touches only a few bytes past them keeps those in a small
// page, where a large one would be cleared whole at the first touch.
void* allocate_in_large_pages(std::size_t bytes, std::size_t advised = SIZE_MAX);

// `bytes` of zeros, or null: from 2 MiB on straight from the system (its
// fresh pages are zero), aligned to a large page and all of it asked for
// large pages, where calloc's would begin and end in small ones; below, from
// calloc. Given back by GiveBack{bytes}.
void* allocate_zeroed_in_large_pages(std::size_t bytes);

// Gives back the memory of allocate_zeroed_in_large_pages, told its size
// `zeroed`, or with none (0) that of malloc and allocate_in_large_pages.
struct GiveBack {
    std::size_t zeroed = 0;
    void operator()(void* data) const;
};

}  // namespace kestranov
