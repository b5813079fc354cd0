// How the point files are read: the user's choices (the threads a run may
// use, the records a companion keeps; the console keeps them all), and,
// apart from them, the seams through which a test sets the block size, a
// failing thread and the vector path for one reading. Both travel down with
// the point-file list, so that a test's choice holds for its own call and
// cannot leak into the next one (ninja hands its builder a DiskInterface
// the same way).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/point_filter.h"

namespace kestranov {

// The vector units a reading can use, from the widest down.
enum class VectorPath { avx512, avx2, scalar };

struct ReadingOptions {
    int threads = 1;  // threads reading each file (the records still come in file order)
    // The records of LAS and LAZ files that reach the sink; inactive (the
    // console's): every record. Text files cannot be filtered.
    PointFilter filter;
};

struct ReadingSeams {
    std::size_t block_size = 4 << 20;  // bytes of text read at a time (LAS: at most 128 KiB)
    // Bytes of LAZ chunks in flight, their compressed bytes and decoded
    // points together, on all threads: fewer chunks are handed out at once
    // (down to one, decoded by the caller alone) when the largest would
    // not fit this many times.
    std::size_t laz_budget = 16 << 20;
    // The smallest text file read on more than one thread: four blocks,
    // below which the reading thread's start, its blocks' first touch and
    // the hand-offs cost about what the second thread saves.
    std::uint64_t threads_from_bytes = std::uint64_t{16} << 20;
    // The vector path of the record reading and the cell placing; empty:
    // the widest this processor has, or the one KESTRANOV_SIMD names. A
    // path the processor lacks is never taken.
    std::optional<VectorPath> path;
    // The faults of a loaded system: the thread started `failing_start`-th
    // (from 0, the reading thread first) does not start, and the part
    // scanned `failing_part`-th (from 0, per file read) runs out of memory
    // once scanned. -1: no such fault.
    int failing_start = -1;
    int failing_part = -1;
};

}  // namespace kestranov
