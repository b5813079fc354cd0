#include "grid/exact_sums.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "core/fatal.h"
#include "core/shortest_text.h"
#include "platform/memory.h"
#include "platform/threads.h"

namespace kestranov {
namespace {

constexpr double no_value = std::numeric_limits<double>::quiet_NaN();

// n zeros: the system's zeroed pages, touched only where points fall,
// instead of a pass over the whole grid (the types are plain integers,
// whose zero is all bits clear).
template <class T>
ExactSums::Zeroed<T> zeroed(std::size_t n)
{
    if (n > SIZE_MAX / sizeof(T)) return nullptr;
    return ExactSums::Zeroed<T>(static_cast<T*>(allocate_zeroed_in_large_pages(n * sizeof(T))),
                                GiveBack{n * sizeof(T)});
}

// q * 2^shift (q whole, below 2^128, at least 2^54), with `sticky` when a
// nonzero fraction below q's last bit was cut off, rounded once to the
// nearest double, ties to even: the 53 leading bits of q, or fewer where
// the result is subnormal.
double rounded(uint128 q, int shift, bool sticky)
{
    const int length = bit_length(q);
    const int leading = length - 1 + shift;  // q * 2^shift lies in [2^leading, 2^(leading + 1))
    const int precision = std::min(53, leading + 1075);
    if (precision <= 0) {
        // Below half the smallest subnormal, or just at or above it.
        const bool above_half = precision == 0 && (q != (uint128{1} << (length - 1)) || sticky);
        return above_half ? std::numeric_limits<double>::denorm_min() : 0.0;
    }
    const int drop = length - precision;
    uint128 kept = q >> drop;
    const uint128 rest = q & ((uint128{1} << drop) - 1), half = uint128{1} << (drop - 1);
    if (rest > half || (rest == half && (sticky || (kept & 1) != 0))) ++kept;
    // kept is at most 2^53, exact as a double; a power of two that is a
    // normal double scales it exactly (beyond the largest it gives inf, as
    // ldexp would), and spares ldexp's call on every cell.
    const auto whole = static_cast<double>(static_cast<std::uint64_t>(kept));
    const int power = drop + shift;
    if (power >= -1022 && power <= 1023)
        return whole * std::bit_cast<double>(static_cast<std::uint64_t>(power + 1023) << 52);
    return std::ldexp(whole, power);
}

// q * 2^shift for q in [2^62, 2^64), as rounded() but in 64 bits and
// without a branch on the rounding, where the result is a normal double
// and 2^(shift + bits dropped) one too: the mean of nearly every cell.
double rounded_from_64_bits(std::uint64_t q, int shift, bool sticky)
{
    const int drop = 11 - std::countl_zero(q);  // to 53 bits
    const int power = drop + shift;
    if (power < -1022 || power > 971) [[unlikely]]
        return rounded(q, shift, sticky);
    const std::uint64_t kept = q >> drop, rest = q & ((std::uint64_t{1} << drop) - 1);
    const std::uint64_t half = std::uint64_t{1} << (drop - 1);
    const auto up = static_cast<std::uint64_t>(rest > half || (rest == half && (sticky || (kept & 1) != 0)));
    // kept + up is at most 2^53, exact as a double; the power scales it exactly.
    return static_cast<double>(kept + up) * std::bit_cast<double>(static_cast<std::uint64_t>(power + 1023) << 52);
}

// q / n and whether a remainder is left, for q below n * 2^64 (so that the
// quotient fits 64 bits): on x86-64 one of the processor's 128-by-64-bit
// divisions; a 128-bit division in C++ is a library call for any divisor.
std::uint64_t quotient(uint128 q, std::uint32_t n, bool& rest)
{
#if defined(__x86_64__)
    std::uint64_t bottom = 0, r = 0;
    asm("divq %[d]"
        : "=a"(bottom), "=d"(r)
        : "a"(static_cast<std::uint64_t>(q)),
          "d"(static_cast<std::uint64_t>(q >> 64)), [d] "r"(static_cast<std::uint64_t>(n)));
    rest = r != 0;
    return bottom;
#else
    rest = q % n != 0;
    return static_cast<std::uint64_t>(q / n);
#endif
}

// The mean of n points whose sum is s * 2^exponent; see ExactSums::mean.
[[gnu::always_inline]] inline double mean_of(std::uint32_t n, int128 s, int exponent)
{
    if (n == 0) return no_value;
    if (s == 0) return 0.0;
    const uint128 a = s < 0 ? -static_cast<uint128>(s) : static_cast<uint128>(s);
    // a moved to 63 + L bits, L those of n: its quotient by n then lies in
    // (2^62, 2^64), one division's, and keeps 10 bits below the 53 rounded
    // to. Bits cut off below count as a remainder: the floor of the floor
    // of a / 2^d, over n, is the floor of a / (2^d n).
    const int up = 63 + static_cast<int>(std::bit_width(n)) - bit_length(a);
    const uint128 moved = up >= 0 ? a << up : a >> -up;
    const bool cut = up < 0 && (a & ((uint128{1} << -up) - 1)) != 0;
    bool rest = false;
    const std::uint64_t q = quotient(moved, n, rest);
    const double m = rounded_from_64_bits(q, exponent - up, rest || cut);
    return s < 0 ? -m : m;
}

#if defined(__x86_64__)
// mean_of() for nearly every cell, in the processor's 64-bit long double
// arithmetic, whose division is a few times quicker than its 128-bit one.
// |s| is t * 2^(64 - c) and a fraction below t's last bit (t its 64 leading
// bits, c the zeros above them); t / n rounded once to 64 bits lies within
// 2.5 of its last units of the exact quotient (half a unit from its
// rounding, under two from the fraction cut: a unit is at least 2^-L for
// the L bits of n, and 1/n is below 2^(1 - L)). Rounded on to 53 bits it
// is then the mean, unless one of that rounding's midpoints lies that
// near: its 11 bits below the 53 within 3 of 100 0000 0000, left to
// mean_of() with a mean beyond the normal doubles.
[[gnu::always_inline]] inline double mean_in_long_double(std::uint32_t n, int128 s, int exponent)
{
    if (n == 0) return no_value;
    if (s == 0) return 0.0;
    const uint128 a = s < 0 ? -static_cast<uint128>(s) : static_cast<uint128>(s);
    const auto high = static_cast<std::uint64_t>(a >> 64), low = static_cast<std::uint64_t>(a);
    int c = 0;
    std::uint64_t t = 0;
    if (high != 0) {
        c = std::countl_zero(high);
        t = (high << c) | ((low >> 1) >> (63 - c));
    } else {
        c = 64 + std::countl_zero(low);
        t = low << (c - 64);
    }
    const long double x = static_cast<long double>(t) / static_cast<long double>(n);
    std::uint64_t q = 0;
    std::memcpy(&q, &x, sizeof q);  // x87's 64-bit significand, its leading bit explicit, comes first
    // x lies in (2^31, 2^64]: the power a normal double and the mean one too.
    const int power = exponent + 64 - c;
    if (((q + 0x403) & 0x7ff) <= 6 || power < -1022 || power > 1023 - 64) [[unlikely]]
        return mean_of(n, s, exponent);
    const double m = static_cast<double>(x) * std::bit_cast<double>(static_cast<std::uint64_t>(power + 1023) << 52);
    return s < 0 ? -m : m;
}
#else
inline double mean_in_long_double(std::uint32_t n, int128 s, int exponent) { return mean_of(n, s, exponent); }
#endif

// Whether long double arithmetic keeps its 64 bits here: a precision set
// lower (as some libraries and emulators do) would round the quotient
// twice, and the exact division then takes every cell.
bool long_double_keeps_64_bits()
{
    volatile long double one = 1.0L;  // summed at run time, under the precision in force
    return one + 0x1p-63L != one;
}

}  // namespace

ExactSums::ExactSums(std::size_t cells, bool with_sums, bool squares)
    : cells_(cells), with_sums_(with_sums || squares), squares_(squares)
{
    if (with_sums_)
        summed_ = zeroed<Summed>(cells);
    else
        count_ = zeroed<std::uint32_t>(cells);
    if (squares) s2_ = zeroed<Uint256>(cells);
}

bool ExactSums::allocated() const { return (with_sums_ ? !!summed_ : !!count_) && (!squares_ || s2_); }

std::uint32_t ExactSums::count(std::size_t at) const
{
    if (summed_) return summed_[at].count;
    if (!settled_counts_) return count_[at];
    std::uint32_t n = 0;
    std::memcpy(&n, settled_counts_ + sizeof n * at, sizeof n);
    return n;
}

void ExactSums::counts(std::size_t at, std::size_t n, double* out) const
{
    if (settled_counts_) {
        for (std::size_t k = 0; k < n; ++k) {
            std::uint32_t count = 0;
            std::memcpy(&count, settled_counts_ + sizeof count * (at + k), sizeof count);
            out[k] = count;
        }
        return;
    }
    if (!summed_) {
        const std::uint32_t* const from = count_.get() + at;
        for (std::size_t k = 0; k < n; ++k) out[k] = from[k];
        return;
    }
    const Summed* const from = summed_.get() + at;
    for (std::size_t k = 0; k < n; ++k) out[k] = from[k].count;
}

void ExactSums::full(std::size_t /*at*/)
{
    fail("a cell holds more than " + std::to_string(UINT32_MAX) +
         " points, more than the exact statistics count: give a smaller --cell");
}

void ExactSums::add_any(std::size_t at, double z)
{
    const auto bits = std::bit_cast<std::uint64_t>(z);
    const auto biased = static_cast<int>((bits >> 52) & 0x7ff);
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased != 0) m |= std::uint64_t{1} << 52;
    if (m == 0) return;
    const int e = biased == 0 ? -1074 : biased - 1075;  // z = +-m * 2^e
    // Against the lowest bit seen, not E: E may lie below it (room for
    // the next ones), and moving E up later is exact only while no
    // elevation sets a bit below the new E.
    if (e + std::countr_zero(m) < lowest_ || e + 63 - std::countl_zero(m) - exponent_ > top_) widen(z, e, m);
    const int shift = e - exponent_;
    const uint128 k = shift >= 0 ? static_cast<uint128>(m) << shift : static_cast<uint128>(m >> -shift);
    summed_[at].s1 += (bits >> 63) != 0 ? -static_cast<int128>(k) : static_cast<int128>(k);
    if (s2_) add_square(at, k);
}

void ExactSums::widen(double z, int e, std::uint64_t m)
{
    const int low = e + std::countr_zero(m), high = e + 63 - std::countl_zero(m);
    const bool any = top_ >= 0;
    if (!any || high > highest_) highest_ = high, highest_bit_of_ = z;
    if (!any || low < lowest_) lowest_ = low, lowest_bit_of_ = z;
    if (highest_ - lowest_ >= widest)
        fail("the elevations " + shortest(lowest_bit_of_) + " and " + shortest(highest_bit_of_) +
             " are too far apart in scale for exact sums: from the lowest bit one sets to the highest the other "
             "does they span " +
             std::to_string(highest_ - lowest_ + 1) + " bits, more than the " + std::to_string(widest) +
             " that mean and stdev hold (min, max and count are not limited)");
    int target = exponent_;
    if (low < exponent_ || highest_ - exponent_ >= widest) {
        // Room below this mantissa's last bit: a survey's elevations lie
        // within a few powers of two of each other, and each shift is a pass
        // over every cell. As much of it as the width leaves, and E never
        // above a bit some elevation sets.
        constexpr int room = 20;
        target = std::clamp(std::min(lowest_, e) - room, highest_ - widest + 1, lowest_);
    }
    if (any && target != exponent_) shift_all(exponent_ - target);
    exponent_ = target;
    top_ = highest_ - target;
    // A normal z (biased exponent 1 to 2046) takes 2^(biased - 1075) for its
    // last bit and 2^(biased - 1023) for its first.
    const long from = std::max(1L, long{lowest_} + 1075), to = std::min(2046L, long{top_} + exponent_ + 1023);
    fast_from_ = from <= to ? from : 1 << 20;
    fast_span_ = from <= to ? static_cast<unsigned long>(to - from) : 0;
    shift_base_ = long{exponent_} + 1075;
}

void ExactSums::shift_all(int up)
{
    // Down, every sum is a multiple of the power taken away: nothing is lost.
    for (std::size_t k = 0; k < cells_; ++k) {
        const int128 s1 = summed_[k].s1;
        summed_[k].s1 = up > 0 ? static_cast<int128>(static_cast<uint128>(s1) << up) : s1 >> -up;
    }
    if (!s2_) return;
    for (std::size_t k = 0; k < cells_; ++k)
        s2_[k] = up > 0 ? shifted_left(s2_[k], 2 * up) : shifted_right(s2_[k], -2 * up);
}

double ExactSums::mean(std::size_t at) const { return mean_of(summed_[at].count, summed_[at].s1, exponent_); }

ExactSums::Zeroed<double> ExactSums::means_over_sums(std::size_t cells, bool two_threads, bool keep_counts)
{
    cells = std::min(cells, cells_);
    // Through bytes: the same memory holds sums not yet read and doubles
    // already written, which the compiler must not reorder.
    auto* const room = reinterpret_cast<unsigned char*>(summed_.get());
    // The cells and power held here: the stores through bytes could
    // otherwise change them, reloaded at every cell.
    const Summed* const sums = summed_.get();
    const int exponent = exponent_;
    const bool quick = long_double_keeps_64_bits();
    const auto mean_at = [sums, exponent, quick](std::size_t at) {
        const std::uint32_t n = sums[at].count;
        const int128 s = sums[at].s1;
        return quick ? mean_in_long_double(n, s, exponent) : mean_of(n, s, exponent);
    };
    if (keep_counts) {
        means_and_counts(cells, room, mean_at);
    } else {
        const auto means = [&mean_at](std::size_t from, std::size_t to, unsigned char* out) {
            for (std::size_t at = from; at < to; ++at) {
                const double m = mean_at(at);
                std::memcpy(out + (at - from) * sizeof(double), &m, sizeof m);
            }
        };
        // On two threads the second takes the cells from `half` on, and
        // writes their means from the start of their own sums (cell k's at
        // byte 20 half + 8 (k - half), never past the bytes of k, read
        // already), out of the first thread's way; moved down to follow the
        // first half's once both are done.
        const std::size_t half = two_threads ? cells / 2 : cells;
        {
            const Beside upper(half < cells, [&] { means(half, cells, room + half * sizeof(Summed)); });
            means(0, half, room);
        }
        if (half < cells)
            std::memmove(room + half * sizeof(double), room + half * sizeof(Summed), (cells - half) * sizeof(double));
    }
    const GiveBack give_back = summed_.get_deleter();
    void* const storage = summed_.release();
    return Zeroed<double>(static_cast<double*>(storage), give_back);
}

template <class MeanAt>
void ExactSums::means_and_counts(std::size_t cells, unsigned char* room, const MeanAt& mean_at)
{
    // The 20 bytes a cell of the N cells' storage hold the means (8 bytes
    // each: the raster of N doubles, its rows past the C cells the filling's
    // room) and the C counts (4 bytes each) past them, in two passes. From
    // the last cell down, cell k's mean and count go to the 12 bytes at
    // 8N + 12k, never below 20k, where the cells not yet read end.
    const std::size_t records = 8 * cells_;
    for (std::size_t at = cells; at-- > 0;) {
        const std::uint32_t n = summed_[at].count;
        const double m = mean_at(at);
        unsigned char* const record = room + records + 12 * at;
        std::memcpy(record, &m, sizeof m);
        std::memcpy(record + sizeof m, &n, sizeof n);
    }
    // From the first up, the means to 8k (below every record) and the
    // counts to 8N + 4k (below every record not yet moved).
    for (std::size_t at = 0; at < cells; ++at) {
        const unsigned char* const record = room + records + 12 * at;
        double m = 0;
        std::uint32_t n = 0;
        std::memcpy(&m, record, sizeof m);
        std::memcpy(&n, record + sizeof m, sizeof n);
        std::memcpy(room + sizeof m * at, &m, sizeof m);
        std::memcpy(room + records + sizeof n * at, &n, sizeof n);
    }
    settled_counts_ = room + records;
}

double ExactSums::stdev(std::size_t at) const
{
    const std::uint32_t n = summed_[at].count;
    if (n == 0) return no_value;
    const int128 s = summed_[at].s1;
    const uint128 a = s < 0 ? -static_cast<uint128>(s) : static_cast<uint128>(s);
    // n * S2 - S1^2 = sum over pairs of (k_i - k_j)^2, whole and never negative.
    const Uint256 spread = minus(times(s2_[at], n), square(a));
    const int length = bit_length(spread);
    if (length == 0) return 0.0;
    // Its 64 leading bits (the rest cut off: under one part in 2^63), over
    // n^2 and rooted in 64-bit long double arithmetic, then 2^E: within one
    // unit in the last place of the double.
    const int from = std::max(0, length - 64);
    const long double leading = std::ldexp(static_cast<long double>(bits_from(spread, from)), from);
    const long double n2 = static_cast<long double>(n) * static_cast<long double>(n);
    return static_cast<double>(std::ldexp(std::sqrt(leading / n2), exponent_));
}

}  // namespace kestranov
