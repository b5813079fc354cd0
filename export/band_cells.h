#pragma once
// What the GeoTIFF encoder must know of a band's cells before GDAL sees
// one: whether a cell is empty, the first whose value would read as the
// nodata value once both are stored in the file's type, and the first whose
// value does not fit a Float32. Gathered a row at a time, by the encoder,
// or by a caller that reads every row anyway before it encodes them
// (kestranov-grid checks them against its nodata value) and hands them
// over: the encoder then need not read the band once more. No GDAL here,
// so that the command gathers them without loading it.

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

namespace kestranov::exporter {

// The magnitude from which a double no longer fits a Float32: halfway
// between the largest Float32 and 2^128, which rounds (to even) to
// infinity. Below it, a double beyond the largest Float32 is stored as it.
constexpr double float32_overflow = 0x1p128 - 0x1p103;
static_assert(float32_overflow == FLT_MAX + 0x1p103);

inline bool fits_float32(double v) { return std::fabs(v) < float32_overflow; }

// A cell counted from 0 from the north-west, and the value it would be written as.
struct CellAt {
    std::size_t row = 0, col = 0;
    double value = 0;
};

struct BandCells {
    bool any_empty = false;
    std::optional<CellAt> clash;  // reads as the nodata value once both are stored
    std::optional<CellAt> wide;   // its value (the nodata value if empty) does not fit a Float32; the rows stop there
};

// The rows of a band, north first, seen one after the other for a file of
// Float64 cells or of Float32, whose nodata value is `nodata` (none: no
// cell is compared with it).
class BandScan {
public:
    BandScan(std::optional<double> nodata, bool float64)
        : nodata_(nodata),
          float64_(float64),
          stored_(nodata ? (float64 ? *nodata : static_cast<float>(*nodata)) : 0.0),
          // A value stored as the Float32 nodata value lies within half its
          // spacing of it (|stored| 2^-24, 2^-150 below the normal numbers):
          // within twice that and more, a cell is checked alone.
          reach_(float64 ? 0.0 : std::fabs(stored_) * 0x1p-22 + 0x1p-148)
    {
    }
    // Nothing after the first cell that does not fit tells more: the band is refused there.
    bool done() const { return cells_.wide.has_value(); }
    const BandCells& cells() const { return cells_; }

    // Row `r`, its `cols` cells.
    void see_row(const double* row, std::size_t r, std::size_t cols)
    {
        // A row without a value near the nodata value or beyond a Float32,
        // the usual one: its empty cells noted in one pass without a branch.
        if (nodata_ && (float64_ ? plain<true>(row, cols) : plain<false>(row, cols))) return;
        for (std::size_t c = 0; c < cols; ++c) {
            const double v = row[c];
            if (std::isnan(v)) {
                cells_.any_empty = true;
            } else if (nodata_ && !cells_.clash) {
                const double stored = float64_ ? v : static_cast<float>(v);
                if (stored == stored_) cells_.clash = CellAt{r, c, v};
            }
            const double written = std::isnan(v) ? nodata_.value_or(std::numeric_limits<double>::quiet_NaN()) : v;
            if (!float64_ && !fits_float32(written)) {
                cells_.wide = CellAt{r, c, written};
                return;
            }
        }
    }

private:
    // Whether the row holds no cell that may clash anew and none beyond a
    // Float32: then its empty cells are noted, and true. Two cells at a
    // time (GCC's and Clang's vector types), each lane's flags or'ed:
    // without a branch, and without converting a value to a Float32 (a
    // loop the compiler would not run a vector at a time).
    template <bool float64>
    bool plain(const double* row, std::size_t cols)
    {
        using Pair = double __attribute__((vector_size(16)));
        using Mask = decltype(Pair{} == Pair{});
        const Mask magnitude = {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::max()};
        const auto abs = [&magnitude](Pair v) { return std::bit_cast<Pair>(std::bit_cast<Mask>(v) & magnitude); };
        const Pair stored = {stored_, stored_}, reach = {reach_, reach_},
                   overflow = {float32_overflow, float32_overflow};
        Mask empty = {}, near = {}, wide = {};
        std::size_t c = 0;
        for (; c + 2 <= cols; c += 2) {
            Pair v;
            std::memcpy(&v, row + c, sizeof v);
            empty |= v != v;
            if constexpr (float64) {
                near |= v == stored;
            } else {
                near |= abs(v - stored) <= reach;
                wide |= abs(v) >= overflow;
            }
        }
        bool any_empty = (empty[0] | empty[1]) != 0, any_near = (near[0] | near[1]) != 0,
             any_wide = (wide[0] | wide[1]) != 0;
        for (; c < cols; ++c) {
            const double v = row[c];
            any_empty |= v != v;
            any_near |= float64 ? v == stored_ : std::fabs(v - stored_) <= reach_;
            any_wide |= !float64 && !fits_float32(v);
        }
        any_wide |= !float64 && any_empty && !fits_float32(*nodata_);
        if ((any_near && !cells_.clash) || any_wide) return false;
        cells_.any_empty = cells_.any_empty || any_empty;
        return true;
    }

    std::optional<double> nodata_;
    bool float64_;
    double stored_;
    double reach_;
    BandCells cells_;
};

}  // namespace kestranov::exporter
