// Exact arithmetic on doubles for the lattice tests, independent of the
// code under test: every finite double is m * 2^e with a whole m, so sums
// and whole multiples of them are held as such, with a 128-bit m. The tests
// choose their inputs so that 128 bits suffice; when they would not, the
// oracle throws rather than answer.
#pragma once

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

namespace exact_oracle {

__extension__ typedef __int128 int128;
__extension__ typedef unsigned __int128 uint128;

struct Dyadic {
    int128 m;  // value = m * 2^e
    int e;
};

inline Dyadic of(double v)
{
    if (!std::isfinite(v)) throw std::domain_error("the oracle takes finite doubles only");
    if (v == 0.0) return {0, 0};
    int e = 0;
    const double f = std::frexp(v, &e);  // 0.5 <= |f| < 1, at most 53 significant bits
    return {static_cast<int128>(std::ldexp(f, 53)), e - 53};
}

inline int bits(int128 m)
{
    uint128 u = m < 0 ? -static_cast<uint128>(m) : static_cast<uint128>(m);
    int n = 0;
    for (; u != 0; u >>= 1) ++n;
    return n;
}

inline Dyadic add(Dyadic a, Dyadic b)
{
    if (a.m == 0) return b;
    if (b.m == 0) return a;
    if (a.e < b.e) std::swap(a, b);
    const int shift = a.e - b.e;
    if (shift > 120 || bits(a.m) + shift > 125 || bits(b.m) > 125)
        throw std::range_error("the values are too far apart for the oracle's 128 bits");
    return {a.m * (static_cast<int128>(1) << shift) + b.m, b.e};
}

inline Dyadic negated(Dyadic a) { return {-a.m, a.e}; }

inline Dyadic times(Dyadic a, std::int64_t k)
{
    int128 product = 0;
    if (__builtin_mul_overflow(a.m, static_cast<int128>(k), &product))
        throw std::range_error("a product beyond the oracle's 128 bits");
    return {product, a.e};
}

inline int sign(Dyadic a) { return (a.m > 0) - (a.m < 0); }

// The sign of x - origin - k * size in real arithmetic.
inline int sign_beyond_edge(double x, double origin, double size, std::int64_t k)
{
    return sign(add(add(of(x), negated(of(origin))), negated(times(of(size), k))));
}

// floor((x - origin) / size) in real arithmetic: the k with k * size <=
// x - origin < (k + 1) * size, found from an estimate by exact comparisons.
inline std::int64_t floor_cell(double x, double origin, double size)
{
    auto k = static_cast<std::int64_t>(
        std::floor((static_cast<long double>(x) - static_cast<long double>(origin)) / static_cast<long double>(size)));
    while (sign_beyond_edge(x, origin, size, k) < 0) --k;
    while (sign_beyond_edge(x, origin, size, k + 1) >= 0) ++k;
    return k;
}

// x - origin - n * size, exactly, rounded to a long double, in cells: how
// far a typed width is from n whole cells.
inline long double cells_off(double x, double origin, double size, std::int64_t n)
{
    const Dyadic d = add(add(of(x), negated(of(origin))), negated(times(of(size), n)));
    return std::ldexp(static_cast<long double>(d.m), d.e) / static_cast<long double>(size);
}

// Whole numbers >= 0 of any size (32-bit digits, the lowest first), for
// the cells' statistics: sums of squares outgrow 128 bits.
struct Big {
    std::vector<std::uint64_t> d;  // each digit below 2^32
};

inline Big big(uint128 v)
{
    Big b;
    for (; v != 0; v >>= 32) b.d.push_back(static_cast<std::uint32_t>(v));
    return b;
}

inline void trim(Big& a)
{
    while (!a.d.empty() && a.d.back() == 0) a.d.pop_back();
}

inline Big operator+(const Big& a, const Big& b)
{
    Big s;
    std::uint64_t carry = 0;
    for (std::size_t k = 0; k < std::max(a.d.size(), b.d.size()) || carry; ++k) {
        carry += (k < a.d.size() ? a.d[k] : 0) + (k < b.d.size() ? b.d[k] : 0);
        s.d.push_back(carry & 0xffffffffu);
        carry >>= 32;
    }
    trim(s);
    return s;
}

// a - b, for a >= b.
inline Big operator-(const Big& a, const Big& b)
{
    Big s = a;
    std::int64_t borrow = 0;
    for (std::size_t k = 0; k < s.d.size(); ++k) {
        std::int64_t v =
            static_cast<std::int64_t>(s.d[k]) - (k < b.d.size() ? static_cast<std::int64_t>(b.d[k]) : 0) - borrow;
        borrow = v < 0;
        s.d[k] = static_cast<std::uint64_t>(v + (borrow << 32));
    }
    if (borrow) throw std::range_error("the oracle took a larger number from a smaller");
    trim(s);
    return s;
}

inline Big operator*(const Big& a, const Big& b)
{
    std::vector<std::uint64_t> p(a.d.size() + b.d.size() + 1, 0);
    for (std::size_t i = 0; i < a.d.size(); ++i) {
        std::uint64_t carry = 0;
        for (std::size_t j = 0; j < b.d.size() || carry; ++j) {
            carry += p[i + j] + (j < b.d.size() ? a.d[i] * b.d[j] : 0);
            p[i + j] = carry & 0xffffffffu;
            carry >>= 32;
        }
    }
    Big s{p};
    trim(s);
    return s;
}

inline Big shifted(const Big& a, int n)  // a * 2^n, n >= 0
{
    Big s = a * big(uint128{1} << (n % 32));
    s.d.insert(s.d.begin(), static_cast<std::size_t>(n / 32), 0);
    trim(s);
    return s;
}

inline int compare(const Big& a, const Big& b)
{
    if (a.d.size() != b.d.size()) return a.d.size() < b.d.size() ? -1 : 1;
    for (std::size_t k = a.d.size(); k-- > 0;)
        if (a.d[k] != b.d[k]) return a.d[k] < b.d[k] ? -1 : 1;
    return 0;
}

// a * 2^ea against b * 2^eb.
inline int compare(const Big& a, int ea, const Big& b, int eb)
{
    const int low = std::min(ea, eb);
    return compare(shifted(a, ea - low), shifted(b, eb - low));
}

// The exact sums of a cell's elevations, each m * 2^e: count, the signed
// sum, the sum of squares, all over the one power 2^(2 * scale) or 2^scale.
struct CellSums {
    int scale;  // the lowest bit the oracle allows; values below it throw
    std::int64_t count = 0;
    int128 sum = 0;  // sum of z / 2^scale
    Big squares;     // sum of (z / 2^scale)^2

    void add(double z)
    {
        Dyadic v = of(z);
        if (v.m == 0) return void(++count);
        for (; v.m % 2 == 0; v.m /= 2) ++v.e;  // the fewest bits: 1 beside 2^94 fits
        if (v.e < scale || v.e - scale + bits(v.m) > 100) throw std::range_error("a value outside the oracle's scale");
        const int128 k = v.m * (static_cast<int128>(1) << (v.e - scale));
        const uint128 magnitude = k < 0 ? -static_cast<uint128>(k) : static_cast<uint128>(k);
        ++count, sum += k, squares = squares + big(magnitude) * big(magnitude);
    }
};

// Whether `mean` is the mean of `c` rounded to the nearest double, ties to even.
inline bool nearest_mean(const CellSums& c, double mean)
{
    if (mean == 0) return c.sum == 0;
    if ((mean < 0) != (c.sum < 0)) return false;
    const Dyadic d = of(std::fabs(mean));  // |mean| = m * 2^e, its last place 2^e (normal doubles)
    const uint128 s = c.sum < 0 ? -static_cast<uint128>(c.sum) : static_cast<uint128>(c.sum);
    // 2 * |sum * 2^scale - count * mean| against count * 2^e.
    const Big exact = big(s), got = big(static_cast<uint128>(d.m)) * big(static_cast<uint128>(c.count));
    const bool above = compare(exact, c.scale, got, d.e) >= 0;
    const int low = std::min(c.scale, d.e);
    const Big a = shifted(exact, c.scale - low), b = shifted(got, d.e - low);
    const Big gap = shifted(above ? a - b : b - a, 1);
    const int side = compare(gap, low, big(static_cast<uint128>(c.count)), d.e);
    return side < 0 || (side == 0 && d.m % 2 == 0);
}

// Whether `stdev` lies within `ulps` units in the last place of the
// population standard deviation of `c`: its square against the exact
// (count * squares - sum^2) / count^2, over 2^(2 * scale).
inline bool near_stdev(const CellSums& c, double stdev, int ulps)
{
    const uint128 s = c.sum < 0 ? -static_cast<uint128>(c.sum) : static_cast<uint128>(c.sum);
    const Big spread = c.squares * big(static_cast<uint128>(c.count)) - big(s) * big(s);
    const Big n2 = big(static_cast<uint128>(c.count)) * big(static_cast<uint128>(c.count));
    if (stdev == 0) return spread.d.empty();
    const Dyadic d = of(stdev);
    const Big high = big(static_cast<uint128>(d.m + ulps)),
              low = big(static_cast<uint128>(std::max<int128>(d.m - ulps, 0)));
    // (m -+ ulps)^2 * 2^(2e) * count^2 against spread * 2^(2 scale).
    return compare(low * low * n2, 2 * d.e, spread, 2 * c.scale) <= 0 &&
           compare(spread, 2 * c.scale, high * high * n2, 2 * d.e) <= 0;
}

}  // namespace exact_oracle
