// The x86-64 vector intrinsics, for the files whose functions are compiled
// for AVX2 or AVX-512 with [[gnu::target]]; nothing elsewhere.
#pragma once

#if defined(__x86_64__)
// GCC 12's AVX-512 intrinsics start from an undefined register on purpose
// and then warn about it themselves.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#endif
