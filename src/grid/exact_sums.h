// The exact sums behind a cell's mean, count and standard deviation.
//
// Every finite double is a whole number times a power of two. The sums keep
// one power for the whole run, 2^E, the lowest bit any elevation so far has
// set, so each elevation is k * 2^E with a whole k, and a cell holds its
// count, S1 = sum k (signed, 128 bits) and, for the standard deviation,
// S2 = sum k^2 (256 bits): whole numbers, so the same whatever the order of
// the points, the threads or the tiles. An elevation with a lower bit set
// shifts every sum left (rare: elevations of one range share their lowest
// bit). The mean is S1 / count rounded once to the nearest double; the
// standard deviation comes from the exact count * S2 - S1^2. A cell's S1
// and count lie side by side, 20 bytes: points in no order then reach
// both in one cache line (three times in four), not two.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "grid/wide_integer.h"
#include "platform/memory.h"

namespace kestranov {

class ExactSums {
public:
    // The sums of `cells` cells, all empty; `squares` for the standard
    // deviation. Its storage is null when the allocation failed.
    ExactSums(std::size_t cells, bool with_sums, bool squares);
    bool allocated() const;
    // Bytes a cell takes: the count, S1 when there are sums, S2 when squares.
    static std::uint64_t bytes_per_cell(bool with_sums, bool squares)
    {
        return sizeof(std::uint32_t) + (with_sums ? sizeof(int128) : 0) + (squares ? sizeof(Uint256) : 0);
    }
    // The bits of k, from 2^E to its highest, past which S1 of 2^32 points
    // could leave 128 bits (and S2 256).
    static constexpr int widest = 95;

    // Elevation `z` into cell `at`; a NaN changes nothing, nor does a point
    // of the sink cell `sink` (beyond the ring: no cell shows it, so its
    // elevation does not count against the width of the sums either).
    // Fails (core/fatal.h) when a cell would count more than 2^32 - 1 points
    // or when the elevations span more bits than the sums hold.
    void add(std::size_t at, double z)
    {
        if (z != z || at == sink) return;
        if (!summed_) {
            if (count_[at] == UINT32_MAX) [[unlikely]]
                full(at);
            ++count_[at];
            return;
        }
        Summed& cell = summed_[at];
        if (cell.count == UINT32_MAX) [[unlikely]]
            full(at);
        ++cell.count;
        const auto bits = std::bit_cast<std::uint64_t>(z);
        const auto biased = static_cast<long>((bits >> 52) & 0x7ff);
        // Nearly every point: a normal z whose 53 bits lie within those the
        // sums already hold (its last at or above the lowest bit seen, its
        // first at most the top): one comparison of its exponent, and k is
        // its mantissa moved up, with no bit to count and no branch on its
        // sign.
        if (static_cast<unsigned long>(biased - fast_from_) <= fast_span_) [[likely]] {
            const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | std::uint64_t{1} << 52;
            const uint128 k = static_cast<uint128>(m) << (biased - shift_base_);
            const int128 negative = -static_cast<int128>(bits >> 63);  // all ones for a negative z
            cell.s1 += (static_cast<int128>(k) ^ negative) - negative;
            if (s2_) add_square(at, k);
            return;
        }
        add_any(at, z);
    }

    // add() for the points `p` (anything with a z) of cells `at`, n of
    // them, the same sums. While fewer than 2^32 points have come, no cell
    // can be full and no count is compared; the common point is then taken
    // with the sums' pointers and add()'s bounds held in registers (the
    // stores through the pointers would otherwise reload them at every
    // point), its mantissa signed in 64 bits and moved up once.
    template <class Points>
    void add(const std::size_t* at, const Points* p, std::size_t n)
    {
        seen_ += n;
        if (seen_ > UINT32_MAX || !summed_) {
            for (std::size_t k = 0; k < n; ++k) prefetch(at[k]);
            for (std::size_t k = 0; k < n; ++k) add(at[k], p[k].z);
            return;
        }
        if (s2_)
            add_unchecked<true>(at, p, n);
        else
            add_unchecked<false>(at, p, n);
    }

    void prefetch(std::size_t at) const
    {
        if (summed_)
            __builtin_prefetch(summed_.get() + at, 1);
        else
            __builtin_prefetch(count_.get() + at, 1);
        if (s2_) __builtin_prefetch(s2_.get() + at, 1);
    }
    std::uint32_t count(std::size_t at) const;
    // The counts of cells `at` to `at` + n - 1 into `out`.
    void counts(std::size_t at, std::size_t n, double* out) const;
    // S1 * 2^E / count rounded to the nearest double (ties to even); NaN
    // for a cell without points.
    double mean(std::size_t at) const;
    // The population standard deviation, within one unit in the last place;
    // 0 for one point, NaN for none.
    double stdev(std::size_t at) const;

    std::size_t sink = SIZE_MAX;

    template <class T>
    using Zeroed = std::unique_ptr<T[], GiveBack>;

    // The means of cells 0..cells-1 written over the storage of S1 and the
    // counts, which is then given up to the caller as a raster of doubles
    // (it holds `cells` doubles twice over and more: no fresh pages for the
    // mean). A cell's 20 bytes are read before any mean is written over
    // them, since the mean of cell k takes bytes 8k to 8k + 8. With
    // `two_threads`, a second thread takes half of the cells; the bytes are
    // the same. With `keep_counts`, the counts of those cells are kept in
    // the same storage after the means, on one thread, for counts() while
    // the raster lives. After it, neither mean(), stdev() nor add() may be
    // called, nor counts() and count() but with `keep_counts`.
    Zeroed<double> means_over_sums(std::size_t cells, bool two_threads = false, bool keep_counts = false);

private:
    template <bool squares, class Points>
    void add_unchecked(const std::size_t* at, const Points* p, std::size_t n)
    {
        Summed* const cells = summed_.get();
        for (std::size_t k = 0; k < n; ++k) {
            // Its first and last bytes: the one cache line it lies in, or
            // the two it spans (one cell in four).
            __builtin_prefetch(reinterpret_cast<const char*>(cells + at[k]) + sizeof(Summed) - 1, 1);
            __builtin_prefetch(cells + at[k], 1);
            if constexpr (squares) __builtin_prefetch(s2_.get() + at[k], 1);
        }
        long from = fast_from_, base = shift_base_;
        unsigned long span = fast_span_;
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t a = at[k];
            const double z = p[k].z;
            const auto bits = std::bit_cast<std::uint64_t>(z);
            const auto biased = static_cast<long>((bits >> 52) & 0x7ff);
            // A NaN's exponent (all ones) is never within the span. A point
            // of the sink cell is summed there like any other: no cell shows
            // it, and within the span it moves no bound; its count stays
            // below 2^32 with every other.
            if (static_cast<unsigned long>(biased - from) <= span) [[likely]] {
                Summed& cell = cells[a];
                ++cell.count;
                const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | std::uint64_t{1} << 52;
                const std::int64_t negative = -static_cast<std::int64_t>(bits >> 63);
                const std::int64_t signed_m = (static_cast<std::int64_t>(m) ^ negative) - negative;
                const int up = static_cast<int>(biased - base);
                cell.s1 += static_cast<int128>(static_cast<uint128>(static_cast<int128>(signed_m)) << up);
                if constexpr (squares) add_square(a, static_cast<uint128>(m) << up);
                continue;
            }
            add(a, z);  // zero, NaN, the sink's, or beyond the bounds
            // A widening moves the bounds (and the sums, in place).
            from = fast_from_, base = shift_base_, span = fast_span_;
        }
    }
    template <class MeanAt>
    void means_and_counts(std::size_t cells, unsigned char* room, const MeanAt& mean_at);
    void full(std::size_t at);
    // add()'s sums for any z: zero, subnormal, or one that moves E or the top.
    void add_any(std::size_t at, double z);
    void widen(double z, int e, std::uint64_t m);
    void shift_all(int up);
    void add_square(std::size_t at, uint128 k)
    {
        Uint256& s = s2_[at];
        if ((k >> 64) == 0) {
            const auto low = static_cast<std::uint64_t>(k);
            add_at(s, static_cast<uint128>(low) * low, 0);
        } else {
            kestranov::add(s, square(k));
        }
    }

    // A cell's S1 and count, unaligned (x86-64 reads them so at no cost).
    struct [[gnu::packed]] Summed {
        int128 s1;
        std::uint32_t count;
    };
    static_assert(sizeof(Summed) == 20);

    std::size_t cells_;
    bool with_sums_, squares_;
    Zeroed<std::uint32_t> count_;  // the counts alone, without sums
    Zeroed<Summed> summed_;        // with sums
    Zeroed<Uint256> s2_;
    const unsigned char* settled_counts_ = nullptr;  // the counts means_over_sums kept
    int exponent_ = 1 << 20;                         // E; none yet
    int top_ = -1;                                   // the highest bit of any |k|, counted from 2^E
    // The lowest and highest bits any elevation sets (powers of two), and
    // the elevations that set them, to name them.
    int lowest_ = 1 << 20, highest_ = 0;  // none yet
    double lowest_bit_of_ = 0, highest_bit_of_ = 0;
    // add()'s common case, set by widen(): the biased exponents from
    // fast_from_ to fast_from_ + fast_span_, those of a normal z whose last
    // bit is at or above lowest_ and whose first is at most the top; k is
    // then the mantissa moved up by the biased exponent less shift_base_.
    // Longs: the counts' stores (unsigned ints) may not change them, so the
    // compiler keeps them in registers.
    long fast_from_ = 1 << 20, shift_base_ = 0;  // none yet: above every exponent
    unsigned long fast_span_ = 0;
    std::uint64_t seen_ = 0;  // points handed to the batch add(), a bound on every count
};

}  // namespace kestranov
