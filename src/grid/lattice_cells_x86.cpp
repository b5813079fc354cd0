#include "grid/lattice_cells.h"

#include "grid/lattice.h"
#include "platform/cpu_features.h"

#if defined(__x86_64__)
// GCC 12's AVX-512 intrinsics start from an undefined register on purpose
// and then warn about it themselves.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#endif

namespace kestranov {

// The headers are included above, outside the namespace; the x86-64 code follows.
#if defined(__x86_64__)

namespace {

// The lanes the vector test could not decide: both coordinates again through cell_floor.
void redo_lanes(unsigned lanes, const Point* p, const LatticeAxis& x, const LatticeAxis& y, std::int64_t* col,
                std::int64_t* row)
{
    for (; lanes != 0; lanes &= lanes - 1) {
        const int k = __builtin_ctz(lanes);
        col[k] = cell_floor(p[k].x, x.origin, x.size, x.inverse, x.count);
        row[k] = cell_floor(p[k].y, y.origin, y.size, y.inverse, y.count);
    }
}

// cell_floor on eight lanes; `slow` gets the lanes in the ring's reach whose
// quotient lies within the error bound of a whole number.
[[gnu::target("avx512f,avx512dq")]] __m512i floors_avx512(__m512d v, const LatticeAxis& a, __mmask8& slow)
{
    const __m512d shift = _mm512_set1_pd(lattice_detail::rounding_shift), one = _mm512_set1_pd(1.0);
    const __m512d q = _mm512_mul_pd(_mm512_sub_pd(v, _mm512_set1_pd(a.origin)), _mm512_set1_pd(a.inverse));
    const __mmask8 reach = _mm512_cmp_pd_mask(q, _mm512_set1_pd(-2.0), _CMP_GT_OQ) &
                           _mm512_cmp_pd_mask(q, _mm512_set1_pd(static_cast<double>(a.count) + 2.0), _CMP_LT_OQ);
    const __m512d r = _mm512_sub_pd(_mm512_add_pd(q, shift), shift);
    const __m512d margin = _mm512_mul_pd(_mm512_add_pd(_mm512_abs_pd(q), one), _mm512_set1_pd(0x1p-50));
    const __mmask8 decided = _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_sub_pd(q, r)), margin, _CMP_GT_OQ);
    slow |= reach & ~decided;
    const __m512d f = _mm512_mask_sub_pd(r, _mm512_cmp_pd_mask(q, r, _CMP_LT_OQ), r, one);
    const __mmask8 inside = reach & _mm512_cmp_pd_mask(f, _mm512_set1_pd(-1.0), _CMP_GE_OQ) &
                            _mm512_cmp_pd_mask(f, _mm512_set1_pd(static_cast<double>(a.count)), _CMP_LE_OQ);
    return _mm512_mask_cvttpd_epi64(_mm512_set1_epi64(beyond_ring), inside, f);
}

[[gnu::target("avx512f,avx512dq")]] std::size_t floors_avx512_all(const Point* pts, std::size_t n, const LatticeAxis& x,
                                                                  const LatticeAxis& y, std::int64_t* col,
                                                                  std::int64_t* row)
{
    const auto* v = reinterpret_cast<const double*>(pts);
    // Eight points are 24 values: x at 0, 3, 6, ... of them.
    const __m512i x01 = _mm512_setr_epi64(0, 3, 6, 9, 12, 15, 0, 0), y01 = _mm512_setr_epi64(1, 4, 7, 10, 13, 0, 0, 0);
    const __m512i x2 = _mm512_setr_epi64(0, 0, 0, 0, 0, 0, 10, 13), y2 = _mm512_setr_epi64(0, 0, 0, 0, 0, 8, 11, 14);
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const double* p = v + 3 * k;
        const __m512d a = _mm512_loadu_pd(p), b = _mm512_loadu_pd(p + 8), c = _mm512_loadu_pd(p + 16);
        // Lanes 0-5 from the first 16 values, 6-7 (5-7 for y) from the last 8.
        const __m512d xs = _mm512_mask_permutexvar_pd(_mm512_permutex2var_pd(a, x01, b), 0xC0, x2, c);
        const __m512d ys = _mm512_mask_permutexvar_pd(_mm512_permutex2var_pd(a, y01, b), 0xE0, y2, c);
        __mmask8 slow = 0;
        _mm512_storeu_si512(col + k, floors_avx512(xs, x, slow));
        _mm512_storeu_si512(row + k, floors_avx512(ys, y, slow));
        if (slow) redo_lanes(slow, pts + k, x, y, col + k, row + k);
    }
    return k;
}

// The same on four lanes. AVX2 has no conversion to 64-bit integers: a
// whole number below 2^51 in magnitude, added to 1.5 * 2^52, leaves its
// two's complement in the low bits of the sum.
[[gnu::target("avx2")]] __m256i floors_avx2(__m256d v, const LatticeAxis& a, int& slow)
{
    const __m256d shift = _mm256_set1_pd(lattice_detail::rounding_shift), one = _mm256_set1_pd(1.0);
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d q = _mm256_mul_pd(_mm256_sub_pd(v, _mm256_set1_pd(a.origin)), _mm256_set1_pd(a.inverse));
    const __m256d reach =
        _mm256_and_pd(_mm256_cmp_pd(q, _mm256_set1_pd(-2.0), _CMP_GT_OQ),
                      _mm256_cmp_pd(q, _mm256_set1_pd(static_cast<double>(a.count) + 2.0), _CMP_LT_OQ));
    const __m256d r = _mm256_sub_pd(_mm256_add_pd(q, shift), shift);
    const __m256d margin = _mm256_mul_pd(_mm256_add_pd(_mm256_andnot_pd(sign, q), one), _mm256_set1_pd(0x1p-50));
    const __m256d decided = _mm256_cmp_pd(_mm256_andnot_pd(sign, _mm256_sub_pd(q, r)), margin, _CMP_GT_OQ);
    slow |= _mm256_movemask_pd(_mm256_andnot_pd(decided, reach));
    const __m256d f = _mm256_sub_pd(r, _mm256_and_pd(_mm256_cmp_pd(q, r, _CMP_LT_OQ), one));
    const __m256d inside =
        _mm256_and_pd(reach, _mm256_and_pd(_mm256_cmp_pd(f, _mm256_set1_pd(-1.0), _CMP_GE_OQ),
                                           _mm256_cmp_pd(f, _mm256_set1_pd(static_cast<double>(a.count)), _CMP_LE_OQ)));
    const __m256i whole = _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(f, shift)), _mm256_castpd_si256(shift));
    return _mm256_castpd_si256(
        _mm256_blendv_pd(_mm256_castsi256_pd(_mm256_set1_epi64x(beyond_ring)), _mm256_castsi256_pd(whole), inside));
}

[[gnu::target("avx2")]] std::size_t floors_avx2_all(const Point* pts, std::size_t n, const LatticeAxis& x,
                                                    const LatticeAxis& y, std::int64_t* col, std::int64_t* row)
{
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const Point* p = pts + k;
        const __m256d xs = _mm256_setr_pd(p[0].x, p[1].x, p[2].x, p[3].x);
        const __m256d ys = _mm256_setr_pd(p[0].y, p[1].y, p[2].y, p[3].y);
        int slow = 0;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(col + k), floors_avx2(xs, x, slow));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + k), floors_avx2(ys, y, slow));
        if (slow) redo_lanes(static_cast<unsigned>(slow), p, x, y, col + k, row + k);
    }
    return k;
}

}  // namespace

std::size_t lattice_floors_vector(VectorPath path, const Point* pts, std::size_t n, const LatticeAxis& x,
                                  const LatticeAxis& y, std::int64_t* col, std::int64_t* row)
{
    if (!vector_path_available(path)) return 0;
    if (path == VectorPath::avx512) return floors_avx512_all(pts, n, x, y, col, row);
    if (path == VectorPath::avx2) return floors_avx2_all(pts, n, x, y, col, row);
    return 0;
}

#else

std::size_t lattice_floors_vector(VectorPath, const Point*, std::size_t, const LatticeAxis&, const LatticeAxis&,
                                  std::int64_t*, std::int64_t*)
{
    return 0;
}

#endif

}  // namespace kestranov
