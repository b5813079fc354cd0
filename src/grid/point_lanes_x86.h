// Eight points in vector lanes, one vector an axis: the loads both vector
// placings share, the console's grid (cell_batch_x86.cpp) and the lattice
// (lattice_cells_x86.cpp). Only for files compiled with [[gnu::target]].
#pragma once

#include "platform/x86_intrinsics.h"
#include "points/record_batch.h"

namespace kestranov {

// The headers are included above, outside the namespace; the x86-64 code follows.
#if defined(__x86_64__)

struct EightPoints {
    __m512d x, y, z;
};

// The eight points from `p`: 24 values, x at 0, 3, 6, ... of them. Lanes
// 0-5 of x (0-4 of y and z) come from the first 16 values, the others from
// the last 8. Inlined, an axis the caller does not use costs nothing.
[[gnu::target("avx512f"), gnu::always_inline]] inline EightPoints eight_points(const Point* p)
{
    const auto* v = reinterpret_cast<const double*>(p);
    const __m512d a = _mm512_loadu_pd(v), b = _mm512_loadu_pd(v + 8), c = _mm512_loadu_pd(v + 16);
    const __m512i x01 = _mm512_setr_epi64(0, 3, 6, 9, 12, 15, 0, 0), y01 = _mm512_setr_epi64(1, 4, 7, 10, 13, 0, 0, 0),
                  z01 = _mm512_setr_epi64(2, 5, 8, 11, 14, 0, 0, 0);
    const __m512i x2 = _mm512_setr_epi64(0, 0, 0, 0, 0, 0, 10, 13), y2 = _mm512_setr_epi64(0, 0, 0, 0, 0, 8, 11, 14),
                  z2 = _mm512_setr_epi64(0, 0, 0, 0, 0, 9, 12, 15);
    return {_mm512_mask_permutexvar_pd(_mm512_permutex2var_pd(a, x01, b), 0xC0, x2, c),
            _mm512_mask_permutexvar_pd(_mm512_permutex2var_pd(a, y01, b), 0xE0, y2, c),
            _mm512_mask_permutexvar_pd(_mm512_permutex2var_pd(a, z01, b), 0xE0, z2, c)};
}

#endif

}  // namespace kestranov
