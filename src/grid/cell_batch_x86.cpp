#include "grid/cell_batch.h"
#include "grid/point_lanes_x86.h"
#include "platform/x86_intrinsics.h"

namespace kestranov {

// The headers are included above, outside the namespace; the x86-64 code follows.
#if defined(__x86_64__)

namespace {

// The ceiling of non-negative positions below 2^31, as cell_index takes it.
[[gnu::target("avx512f,avx512vl")]] inline __m256i ceilings(__m512d position)
{
    const __m256i whole = _mm512_cvttpd_epi32(position);
    const __mmask8 beyond =
        _mm512_cmp_pd_mask(_mm512_sub_pd(position, _mm512_cvtepi32_pd(whole)), _mm512_setzero_pd(), _CMP_GT_OQ);
    return _mm256_mask_add_epi32(whole, beyond, whole, _mm256_set1_epi32(1));
}

[[gnu::target("avx512f,avx512vl")]] std::size_t place_avx512(const Point* pts, std::size_t n, const Extents& e,
                                                             double inverse, double* const* dtab, double** cell)
{
    const __m512d Xmin = _mm512_set1_pd(e.Xmin), Xmax = _mm512_set1_pd(e.Xmax), Ymin = _mm512_set1_pd(e.Ymin),
                  Ymax = _mm512_set1_pd(e.Ymax), Zmin = _mm512_set1_pd(e.Zmin), Zmax = _mm512_set1_pd(e.Zmax);
    const __m512d inv = _mm512_set1_pd(inverse);
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const auto [x, y, z] = eight_points(pts + k);
        const __mmask8 inside = _mm512_cmp_pd_mask(x, Xmin, _CMP_GE_OQ) & _mm512_cmp_pd_mask(x, Xmax, _CMP_LE_OQ) &
                                _mm512_cmp_pd_mask(y, Ymin, _CMP_GE_OQ) & _mm512_cmp_pd_mask(y, Ymax, _CMP_LE_OQ) &
                                _mm512_cmp_pd_mask(z, Zmin, _CMP_GE_OQ) & _mm512_cmp_pd_mask(z, Zmax, _CMP_LE_OQ);
        if (inside != 0xFF) break;  // the caller finds the point and says which it is
        const __m256i i = ceilings(_mm512_mul_pd(_mm512_sub_pd(Ymax, y), inv));
        const __m256i j = ceilings(_mm512_mul_pd(_mm512_sub_pd(x, Xmin), inv));
        const __m512i rows = _mm512_i32gather_epi64(i, reinterpret_cast<const long long*>(dtab), 8);
        const __m512i at = _mm512_add_epi64(rows, _mm512_slli_epi64(_mm512_cvtepi32_epi64(j), 3));
        _mm512_storeu_si512(cell + k, at);
        for (int q = 0; q < 8; ++q) __builtin_prefetch(cell[k + static_cast<std::size_t>(q)], 1);
    }
    return k;
}

}  // namespace

std::size_t place_exact_vector(VectorPath path, const Point* pts, std::size_t n, const Extents& e, double inverse,
                               double* const* dtab, double** cell)
{
    if (path != VectorPath::avx512) return 0;
    return place_avx512(pts, n, e, inverse, dtab, cell);
}

#else

std::size_t place_exact_vector(VectorPath, const Point*, std::size_t, const Extents&, double, double* const*, double**)
{
    return 0;
}

#endif

}  // namespace kestranov
