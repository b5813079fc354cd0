// How much memory a run may take before the system stops it.
#pragma once

#include <cstdint>

// The memory this process can still obtain: the smaller of what the machine
// has available (MemAvailable) and what every memory control group the
// process belongs to allows beyond its current use (a container, a CI
// runner, systemd-run -p MemoryMax=); the physical memory when neither is
// known, 0 when nothing is. Past it the out-of-memory killer ends the
// process without a word, so a grid is refused before it gets that far.
std::uint64_t available_memory_bytes();
