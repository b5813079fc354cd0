#include "grid/lattice_cells.h"

#include "grid/point_lanes_x86.h"
#include "platform/cpu_features.h"
#include "platform/x86_intrinsics.h"

namespace kestranov {

// The headers are included above, outside the namespace; the x86-64 code follows.
#if defined(__x86_64__)

namespace {

// The lanes the vector test could not decide, placed one by one.
void place_lanes(unsigned lanes, const Point* p, const LatticeStorage& s, std::size_t* at, Placed& placed)
{
    for (; lanes != 0; lanes &= lanes - 1) {
        const int k = __builtin_ctz(lanes);
        at[k] = place_point(s, p[k], placed);
    }
}

// The offsets are whole numbers below 2^51, where doubles are exact: the
// row's product and the sums need no 64-bit integer multiply (AVX2 has
// none), and such a number plus 1.5 * 2^52 holds it in its low bits.
constexpr double most_cells = 0x1p51;

// cell_floor's quotient and floor on eight lanes, the floor as a double:
// `inside` gets the lanes whose floor is -1..count, `slow` those in the
// ring's reach whose quotient lies within the error bound of a whole number.
[[gnu::target("avx512f,avx512dq")]] __m512d floors_avx512(__m512d v, const LatticeAxis& a, __mmask8& inside,
                                                          __mmask8& slow)
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
    inside = reach & _mm512_cmp_pd_mask(f, _mm512_set1_pd(-1.0), _CMP_GE_OQ) &
             _mm512_cmp_pd_mask(f, _mm512_set1_pd(static_cast<double>(a.count)), _CMP_LE_OQ);
    return f;
}

// Whether the floors are 0..count-1, a cell of the grid.
[[gnu::target("avx512f")]] __mmask8 of_grid_avx512(__m512d f, const LatticeAxis& a)
{
    return _mm512_cmp_pd_mask(f, _mm512_setzero_pd(), _CMP_GE_OQ) &
           _mm512_cmp_pd_mask(f, _mm512_set1_pd(static_cast<double>(a.count)), _CMP_LT_OQ);
}

[[gnu::target("avx512f,avx512dq,popcnt")]] std::size_t place_avx512(const Point* pts, std::size_t n,
                                                                    const LatticeStorage& s, std::size_t* at,
                                                                    Placed& placed)
{
    const __m512d length = _mm512_set1_pd(static_cast<double>(s.row_length)), one = _mm512_set1_pd(1.0);
    const __m512d sign = _mm512_set1_pd(-0.0);
    const __m512i sink = _mm512_set1_epi64(static_cast<long long>(s.sink));
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const EightPoints lanes = eight_points(pts + k);
        const __m512d xs = lanes.x;
        const __m512d minus_ys = _mm512_xor_pd(lanes.y, sign);  // rows are the rule on -y
        __mmask8 inside_x, inside_y, slow = 0;
        const __m512d fx = floors_avx512(xs, s.x, inside_x, slow), fy = floors_avx512(minus_ys, s.y, inside_y, slow);
        const __mmask8 in_ring = inside_x & inside_y;
        const __mmask8 inner = in_ring & of_grid_avx512(fx, s.x) & of_grid_avx512(fy, s.y);
        const __m512d offset = _mm512_add_pd(_mm512_mul_pd(_mm512_add_pd(fy, one), length), _mm512_add_pd(fx, one));
        _mm512_storeu_si512(at + k, _mm512_mask_cvttpd_epi64(sink, in_ring, offset));
        placed.inner += __builtin_popcount(inner & ~slow & 0xFFu);
        placed.kept += __builtin_popcount(in_ring & ~slow & 0xFFu);
        if (slow) place_lanes(slow, pts + k, s, at + k, placed);
    }
    return k;
}

// The same on four lanes, the masks as all-ones lanes.
[[gnu::target("avx2")]] __m256d floors_avx2(__m256d v, const LatticeAxis& a, __m256d& inside, __m256d& slow)
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
    slow = _mm256_or_pd(slow, _mm256_andnot_pd(decided, reach));
    const __m256d f = _mm256_sub_pd(r, _mm256_and_pd(_mm256_cmp_pd(q, r, _CMP_LT_OQ), one));
    inside =
        _mm256_and_pd(reach, _mm256_and_pd(_mm256_cmp_pd(f, _mm256_set1_pd(-1.0), _CMP_GE_OQ),
                                           _mm256_cmp_pd(f, _mm256_set1_pd(static_cast<double>(a.count)), _CMP_LE_OQ)));
    return f;
}

[[gnu::target("avx2")]] __m256d of_grid_avx2(__m256d f, const LatticeAxis& a)
{
    return _mm256_and_pd(_mm256_cmp_pd(f, _mm256_setzero_pd(), _CMP_GE_OQ),
                         _mm256_cmp_pd(f, _mm256_set1_pd(static_cast<double>(a.count)), _CMP_LT_OQ));
}

[[gnu::target("avx2,popcnt")]] std::size_t place_avx2(const Point* pts, std::size_t n, const LatticeStorage& s,
                                                      std::size_t* at, Placed& placed)
{
    const __m256d length = _mm256_set1_pd(static_cast<double>(s.row_length)), one = _mm256_set1_pd(1.0);
    const __m256d shift = _mm256_set1_pd(lattice_detail::rounding_shift), sign = _mm256_set1_pd(-0.0);
    const __m256d sink = _mm256_set1_pd(static_cast<double>(s.sink));
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const Point* p = pts + k;
        const __m256d xs = _mm256_setr_pd(p[0].x, p[1].x, p[2].x, p[3].x);
        const __m256d minus_ys = _mm256_xor_pd(_mm256_setr_pd(p[0].y, p[1].y, p[2].y, p[3].y), sign);
        __m256d inside_x, inside_y, slow = _mm256_setzero_pd();
        const __m256d fx = floors_avx2(xs, s.x, inside_x, slow), fy = floors_avx2(minus_ys, s.y, inside_y, slow);
        const __m256d in_ring = _mm256_and_pd(inside_x, inside_y);
        const __m256d inner = _mm256_and_pd(in_ring, _mm256_and_pd(of_grid_avx2(fx, s.x), of_grid_avx2(fy, s.y)));
        const __m256d offset = _mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(fy, one), length), _mm256_add_pd(fx, one));
        const __m256d chosen = _mm256_blendv_pd(sink, offset, in_ring);
        const __m256i whole =
            _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(chosen, shift)), _mm256_castpd_si256(shift));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at + k), whole);
        const int slow_lanes = _mm256_movemask_pd(slow);
        placed.inner += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_pd(inner) & ~slow_lanes));
        placed.kept += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_pd(in_ring) & ~slow_lanes));
        if (slow_lanes) place_lanes(static_cast<unsigned>(slow_lanes), p, s, at + k, placed);
    }
    return k;
}

}  // namespace

std::size_t place_points_vector(VectorPath path, const Point* pts, std::size_t n, const LatticeStorage& s,
                                std::size_t* at, Placed& placed)
{
    if (!vector_path_available(path) || !(static_cast<double>(s.sink) < most_cells)) return 0;
    if (s.x.first != 0 || s.y.first != 0) return 0;
    if (path == VectorPath::avx512) return place_avx512(pts, n, s, at, placed);
    if (path == VectorPath::avx2) return place_avx2(pts, n, s, at, placed);
    return 0;
}

#else

std::size_t place_points_vector(VectorPath, const Point*, std::size_t, const LatticeStorage&, std::size_t*, Placed&)
{
    return 0;
}

#endif

}  // namespace kestranov
