// The record path on x86-64 vector units. Each function is compiled for its
// own unit (a target attribute) and called only on a processor that has it.
//
// A record fits its shape when, byte for byte, record - base <= limit
// (unsigned): one 64-byte comparison. Its numbers are then converted as
// integers: the digits, right-aligned in 16 lanes per number, are combined
// pairwise (x10), by fours (x100), by eights (x10000) and the two halves of
// 8 digits into one integer below 10^15; converted to double (exact) and
// divided by 10^decimals (one rounding), with the sign set last as the
// token path does.
#include "points/record_kernels.h"

#include <algorithm>
#include <cstdint>

#include "platform/x86_intrinsics.h"

namespace kestranov {

// The headers are included above, outside the namespace; the x86-64 code follows.
#if defined(__x86_64__)

namespace {

// The mantissa and the digit combination weights: bytes (10, 1), words
// (100, 1), words (10000, 1).
constexpr int pairs = 0x010A;
constexpr int fours = 0x00010064;
constexpr int eights = 0x00012710;
constexpr long long ten_to_8 = 100000000;
constexpr long long two_to_52 = 0x4330000000000000;  // the bits of 2^52
// Records converted before their values are divided, all at once: the
// divider is the narrow part of the loop, and it is kept busy best by whole
// vectors of independent divisions.
constexpr std::size_t division_run = 256;

[[gnu::target("avx2")]] inline __m128i digits128(const char* p, const unsigned char* shuffle)
{
    const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i digits = _mm_sub_epi8(text, _mm_set1_epi8('0'));
    return _mm_shuffle_epi8(digits, _mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle)));
}

// Right-aligned digits to integers, in each 128-bit lane: [m, m] (64 bits).
[[gnu::target("avx2")]] inline __m128i mantissa128(__m128i digits)
{
    __m128i t = _mm_maddubs_epi16(digits, _mm_set1_epi16(pairs));
    t = _mm_madd_epi16(t, _mm_set1_epi32(fours));
    t = _mm_packus_epi32(t, t);
    t = _mm_madd_epi16(t, _mm_set1_epi32(eights));
    return _mm_add_epi64(_mm_mul_epu32(t, _mm_set1_epi64x(ten_to_8)), _mm_srli_epi64(t, 32));
}

[[gnu::target("avx2")]] inline __m256i mantissa256(__m256i digits)
{
    __m256i t = _mm256_maddubs_epi16(digits, _mm256_set1_epi16(pairs));
    t = _mm256_madd_epi16(t, _mm256_set1_epi32(fours));
    t = _mm256_packus_epi32(t, t);
    t = _mm256_madd_epi16(t, _mm256_set1_epi32(eights));
    return _mm256_add_epi64(_mm256_mul_epu32(t, _mm256_set1_epi64x(ten_to_8)), _mm256_srli_epi64(t, 32));
}

[[gnu::target("avx2")]] bool fits_avx2(const RecordShape& s, const char* p)
{
    const auto* base = reinterpret_cast<const __m256i*>(s.base);
    const auto* limit = reinterpret_cast<const __m256i*>(s.limit);
    const auto* text = reinterpret_cast<const __m256i*>(p);
    const __m256i d0 = _mm256_sub_epi8(_mm256_loadu_si256(text), _mm256_load_si256(base));
    const __m256i d1 = _mm256_sub_epi8(_mm256_loadu_si256(text + 1), _mm256_load_si256(base + 1));
    const __m256i l0 = _mm256_load_si256(limit), l1 = _mm256_load_si256(limit + 1);
    const __m256i ok = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(d0, l0), l0),
                                        _mm256_cmpeq_epi8(_mm256_max_epu8(d1, l1), l1));
    return _mm256_movemask_epi8(ok) == -1;
}

// The integers of a record as exact doubles, [m0, m1, m2, m2], to out[0..3].
[[gnu::target("avx2")]] inline void integers_avx2(const RecordShape& s, const char* p, double* out)
{
    const __m256i text01 = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + s.start[1]),
                                               reinterpret_cast<const __m128i*>(p + s.start[0]));
    const __m256i digits01 = _mm256_shuffle_epi8(_mm256_sub_epi8(text01, _mm256_set1_epi8('0')),
                                                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.shuffle[0])));
    const __m256i m01 = mantissa256(digits01);  // [m0, m0, m1, m1]
    const __m128i m2 = mantissa128(digits128(p + s.start[2], s.shuffle[2]));
    const __m256i m = _mm256_inserti128_si256(_mm256_permute4x64_epi64(m01, 0xE8), m2, 1);
    // Below 2^52, an integer joined to the bits of 2^52 is 2^52 + m exactly.
    const __m256d value =
        _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(m, _mm256_set1_epi64x(two_to_52))), _mm256_set1_pd(0x1p52));
    _mm256_storeu_pd(out, value);
}

[[gnu::target("avx2")]] void divide_avx2(double* v, const double* d, std::size_t count)
{
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4)
        _mm256_storeu_pd(v + i, _mm256_div_pd(_mm256_loadu_pd(v + i), _mm256_loadu_pd(d + i)));
    for (; i < count; ++i) v[i] /= d[i];
}

[[gnu::target("avx512f,avx512bw")]] inline bool misfit_avx512(const RecordShape& s, __m512i text)
{
    return _mm512_cmpgt_epu8_mask(_mm512_sub_epi8(text, _mm512_load_si512(s.base)), _mm512_load_si512(s.limit)) != 0;
}

// Where shapes alternate, which one is to be checked: the first whose digits
// stand where the record's do. Chosen without a branch, which would be
// mispredicted at every change of shape.
[[gnu::target("avx512f,avx512bw")]] inline int likely_shape(const ShapeCache& cache, __m512i text)
{
    const __mmask64 digits = _mm512_cmplt_epu8_mask(_mm512_sub_epi8(text, _mm512_set1_epi8('0')), _mm512_set1_epi8(10));
    unsigned alike = 1u << cache.count;  // none alike: the last, which the full check then refuses
    for (int j = 0; j < cache.count; ++j)
        alike |= static_cast<unsigned>(((digits ^ cache.digit_bytes[j]) & cache.record_bytes[j]) == 0) << j;
    const int k = __builtin_ctz(alike);
    return k < cache.count ? k : 0;
}

// The integers of a record as exact doubles, [m0, m1, m2, m3], to out[0..3].
[[gnu::target("avx512f,avx512bw,avx512vbmi,avx512dq,avx512vl")]] inline void integers_avx512(const RecordShape& s,
                                                                                             __m512i text, double* out)
{
    const __m512i digits = _mm512_maskz_permutexvar_epi8(s.gather_lanes, _mm512_load_si512(s.gather),
                                                         _mm512_sub_epi8(text, _mm512_set1_epi8('0')));
    __m512i t = _mm512_maddubs_epi16(digits, _mm512_set1_epi16(pairs));
    t = _mm512_madd_epi16(t, _mm512_set1_epi32(fours));
    t = _mm512_packus_epi32(t, t);
    t = _mm512_madd_epi16(t, _mm512_set1_epi32(eights));
    t = _mm512_add_epi64(_mm512_mul_epu32(t, _mm512_set1_epi64(ten_to_8)), _mm512_srli_epi64(t, 32));
    // The integers stand in 64-bit lanes 0, 2, 4 (and 6, unused).
    const __m256i m = _mm512_castsi512_si256(_mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 0, 0, 0, 0), t));
    _mm256_storeu_pd(out, _mm256_cvtepu64_pd(m));
}

[[gnu::target("avx512f")]] void divide_avx512(double* v, const double* d, std::size_t count)
{
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8)
        _mm512_storeu_pd(v + i, _mm512_div_pd(_mm512_loadu_pd(v + i), _mm512_loadu_pd(d + i)));
    if (i < count) {
        const __mmask8 rest = static_cast<__mmask8>((1u << (count - i)) - 1);
        _mm512_mask_storeu_pd(
            v + i, rest,
            _mm512_div_pd(_mm512_maskz_loadu_pd(rest, v + i), _mm512_mask_loadu_pd(_mm512_set1_pd(1.0), rest, d + i)));
    }
}

}  // namespace

// Records one after the other, each checked first against the shape of the
// record before: in a file of one shape the check is always right and the
// next address is known before the data arrives; where shapes alternate,
// the other cached shapes are tried in turn.
[[gnu::target("avx2")]] std::size_t read_records_avx2(ShapeCache& cache, const char*& p, const char* end, double* out,
                                                      std::size_t max)
{
    std::size_t n = 0;
    const char* q = p;
    int k = cache.current;
    alignas(32) double divisors[3 * division_run + 1];
    bool more = true;
    while (more && n < max) {
        const std::size_t first = n, last = std::min(max, n + division_run);
        for (; n < last; ++n) {
            const RecordShape* s = &cache.shapes[k];
            if (q + s->length > end || !fits_avx2(*s, q)) {
                k = shape_at(cache, q, end, fits_avx2);
                if (k < 0) {
                    more = false;
                    break;
                }
                s = &cache.shapes[k];
            }
            integers_avx2(*s, q, out + 3 * n);
            _mm256_storeu_pd(divisors + 3 * (n - first), _mm256_loadu_pd(s->divisor));
            q += s->length;
        }
        divide_avx2(out + 3 * first, divisors, 3 * (n - first));
    }
    if (k >= 0) cache.current = k;
    p = q;
    return n;
}

namespace {

// Where shapes alternate, the next record's address would wait on the
// shape of this one. Records of one line each are found first instead, all
// at once from the line ends of a stretch of text, and then read one by one
// independently: record r runs from starts[r] to starts[r + 1]. Returns how
// many records `starts` now delimits (at most `most`).
[[gnu::target("avx512f,avx512bw")]] std::size_t line_starts(const char* q, const char* end, std::uint32_t* starts,
                                                            std::size_t most)
{
    std::size_t n = 0;
    starts[0] = 0;
    const std::size_t span = static_cast<std::size_t>(end - q);
    for (std::size_t at = 0; at < span && n < most; at += 64) {
        std::uint64_t ends = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(q + at), _mm512_set1_epi8('\n'));
        if (span - at < 64) ends &= (std::uint64_t{1} << (span - at)) - 1;
        const auto found = static_cast<std::size_t>(__builtin_popcountll(ends));
        if (found > 4) {  // short records: one by one
            for (; ends && n < most; ends &= ends - 1)
                starts[++n] = static_cast<std::uint32_t>(at + static_cast<std::size_t>(__builtin_ctzll(ends)) + 1);
            continue;
        }
        // Without a branch per line end: four slots written, `found` kept.
        for (std::size_t t = 1; t <= 4; ++t, ends &= ends - 1)
            starts[n + t] = static_cast<std::uint32_t>(
                at + static_cast<std::size_t>(__builtin_ctzll(ends | (std::uint64_t{1} << 63))) + 1);
        n += found;
    }
    return std::min(n, most);
}

// Records delimited by their lines, each of a cached shape as long as its
// line; stops at the first that is not. `k` is the shape of the last.
[[gnu::target("avx512f,avx512bw,avx512vbmi,avx512dq,avx512vl")]] std::size_t read_lines_avx512(
    const ShapeCache& cache, int& k, const char*& q, const char* end, double* out, double* divisors, std::size_t most)
{
    std::uint32_t starts[division_run + 5];
    const std::size_t lines = line_starts(q, end, starts, most);
    std::size_t r = 0;
    for (; r < lines; ++r) {
        const char* at = q + starts[r];
        const __m512i text = _mm512_loadu_si512(at);
        const int j = likely_shape(cache, text);
        const RecordShape& s = cache.shapes[j];
        if (s.length != starts[r + 1] - starts[r] || misfit_avx512(s, text)) break;
        integers_avx512(s, text, out + 3 * r);
        _mm256_storeu_pd(divisors + 3 * r, _mm256_loadu_pd(s.divisor));
        k = j;
    }
    q += starts[r];
    return r;
}

// Records one after the other, each tried first with the shape of the one
// before, then with every cached shape.
[[gnu::target("avx512f,avx512bw,avx512vbmi,avx512dq,avx512vl")]] std::size_t read_chained_avx512(
    const ShapeCache& cache, int& k, const char*& q, const char* end, double* out, double* divisors, std::size_t most)
{
    std::size_t r = 0;
    for (; r < most; ++r) {
        const __m512i text = _mm512_loadu_si512(q);
        const RecordShape* s = &cache.shapes[k];
        if (q + s->length > end || misfit_avx512(*s, text)) {
            int fit = -1;
            for (int j = 0; j < cache.count && fit < 0; ++j)
                if (q + cache.shapes[j].length <= end && !misfit_avx512(cache.shapes[j], text)) fit = j;
            if (fit < 0) break;
            k = fit;
            s = &cache.shapes[k];
        }
        integers_avx512(*s, text, out + 3 * r);
        _mm256_storeu_pd(divisors + 3 * r, _mm256_loadu_pd(s->divisor));
        q += s->length;
    }
    return r;
}

}  // namespace

[[gnu::target("avx512f,avx512bw,avx512vbmi,avx512dq,avx512vl")]] std::size_t read_records_avx512(
    ShapeCache& cache, const char*& p, const char* end, double* out, std::size_t max)
{
    std::size_t n = 0;
    const char* q = p;
    int k = cache.current;
    alignas(64) double divisors[3 * division_run + 1];
    while (n < max) {
        const std::size_t most = std::min(max - n, division_run);
        std::size_t got = cache.count > 1 ? read_lines_avx512(cache, k, q, end, out + 3 * n, divisors, most) : 0;
        if (got == 0) got = read_chained_avx512(cache, k, q, end, out + 3 * n, divisors, most);
        if (got == 0) break;
        divide_avx512(out + 3 * n, divisors, 3 * got);
        n += got;
    }
    cache.current = k;
    p = q;
    return n;
}

#else

// Other processors read records on the plain path.
std::size_t read_records_avx2(ShapeCache& cache, const char*& p, const char* end, double* out, std::size_t max)
{
    return read_records_scalar(cache, p, end, out, max);
}
std::size_t read_records_avx512(ShapeCache& cache, const char*& p, const char* end, double* out, std::size_t max)
{
    return read_records_scalar(cache, p, end, out, max);
}

#endif

}  // namespace kestranov
