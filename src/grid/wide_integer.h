// Whole numbers of 256 bits for the exact sums of squares (grid/exact_sums.h),
// and the 128-bit helpers they are built on. Only what those sums need: no
// division, no signed 256-bit numbers.
#pragma once

#include <bit>
#include <cstdint>

namespace kestranov {

__extension__ typedef __int128 int128;
__extension__ typedef unsigned __int128 uint128;

// The number of bits of `v` (0 for 0).
inline int bit_length(uint128 v)
{
    const auto high = static_cast<std::uint64_t>(v >> 64);
    if (high != 0) return 128 - std::countl_zero(high);
    return 64 - std::countl_zero(static_cast<std::uint64_t>(v));
}

// Four 64-bit words, the lowest first.
struct Uint256 {
    std::uint64_t w[4] = {0, 0, 0, 0};
};

// a += b * 2^(64 * from), carried through.
inline void add_at(Uint256& a, uint128 b, int from)
{
    uint128 carry = b;
    for (int k = from; k < 4 && carry != 0; ++k) {
        const uint128 sum = static_cast<uint128>(a.w[k]) + static_cast<std::uint64_t>(carry);
        a.w[k] = static_cast<std::uint64_t>(sum);
        carry = (carry >> 64) + (sum >> 64);
    }
}

// The square of `k`, a number below 2^127.
inline Uint256 square(uint128 k)
{
    const auto low = static_cast<std::uint64_t>(k), high = static_cast<std::uint64_t>(k >> 64);
    Uint256 s;
    add_at(s, static_cast<uint128>(low) * low, 0);
    const uint128 cross = static_cast<uint128>(low) * high;
    add_at(s, cross, 1);
    add_at(s, cross, 1);
    add_at(s, static_cast<uint128>(high) * high, 2);
    return s;
}

inline void add(Uint256& a, const Uint256& b)
{
    uint128 carry = 0;
    for (int k = 0; k < 4; ++k) {
        const uint128 sum = static_cast<uint128>(a.w[k]) + b.w[k] + carry;
        a.w[k] = static_cast<std::uint64_t>(sum);
        carry = sum >> 64;
    }
}

// a - b, for a >= b.
inline Uint256 minus(const Uint256& a, const Uint256& b)
{
    Uint256 d;
    std::uint64_t borrow = 0;
    for (int k = 0; k < 4; ++k) {
        const std::uint64_t x = a.w[k] - b.w[k];
        d.w[k] = x - borrow;
        borrow = static_cast<std::uint64_t>(a.w[k] < b.w[k]) | static_cast<std::uint64_t>(x < borrow);
    }
    return d;
}

inline Uint256 times(const Uint256& a, std::uint64_t m)
{
    Uint256 p;
    for (int k = 0; k < 4; ++k) add_at(p, static_cast<uint128>(a.w[k]) * m, k);
    return p;
}

// a * 2^n, for 0 <= n < 256; the bits beyond 256 are lost.
inline Uint256 shifted_left(const Uint256& a, int n)
{
    Uint256 s;
    const int words = n / 64, bits = n % 64;
    for (int k = 3; k >= words; --k) {
        std::uint64_t v = a.w[k - words] << bits;
        if (bits != 0 && k - words > 0) v |= a.w[k - words - 1] >> (64 - bits);
        s.w[k] = v;
    }
    return s;
}

// a / 2^n, for 0 <= n < 256, the bits below cut off.
inline Uint256 shifted_right(const Uint256& a, int n)
{
    Uint256 s;
    const int words = n / 64, bits = n % 64;
    for (int k = 0; k + words < 4; ++k) {
        std::uint64_t v = a.w[k + words] >> bits;
        if (bits != 0 && k + words + 1 < 4) v |= a.w[k + words + 1] << (64 - bits);
        s.w[k] = v;
    }
    return s;
}

inline int bit_length(const Uint256& a)
{
    for (int k = 3; k >= 0; --k)
        if (a.w[k] != 0) return 64 * k + 64 - std::countl_zero(a.w[k]);
    return 0;
}

// The 64 bits of `a` from bit `from` up (bits beyond 255 are 0).
inline std::uint64_t bits_from(const Uint256& a, int from)
{
    const int word = from / 64, bit = from % 64;
    std::uint64_t v = a.w[word] >> bit;
    if (bit != 0 && word < 3) v |= a.w[word + 1] << (64 - bit);
    return v;
}

}  // namespace kestranov
