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

}  // namespace exact_oracle
