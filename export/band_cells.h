#pragma once
// What the GeoTIFF encoder must know of a band's cells before GDAL sees
// one: whether a cell is empty, the first whose value would read as the
// nodata value once both are stored in the file's type, and the first whose
// value does not fit a Float32. Gathered a row at a time, by the encoder,
// or by a caller that reads every row anyway before it encodes them
// (kestranov-grid checks them against its nodata value) and hands them
// over: the encoder then need not read the band once more. No GDAL here,
// so that the command gathers them without loading it.

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>

namespace kestranov::exporter {

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
        : nodata_(nodata), float64_(float64), stored_(nodata ? (float64 ? *nodata : static_cast<float>(*nodata)) : 0.0)
    {
    }
    // Nothing after the first cell that does not fit tells more: the band is refused there.
    bool done() const { return cells_.wide.has_value(); }
    const BandCells& cells() const { return cells_; }

    // Row `r`, its `cols` cells.
    void see_row(const double* row, std::size_t r, std::size_t cols)
    {
        // A row without a clash or a value beyond a Float32, the usual one:
        // its empty cells noted in one pass without a branch.
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
            if (!float64_ && std::fabs(written) > FLT_MAX) {
                cells_.wide = CellAt{r, c, written};
                return;
            }
        }
    }

private:
    // Whether the row holds no new clash and no cell beyond a Float32: then
    // its empty cells are noted, and true.
    template <bool float64>
    bool plain(const double* row, std::size_t cols)
    {
        // Flags or'ed cell after cell, without a branch or a select: a loop
        // the compiler can run a vector at a time.
        const double stored_nodata = stored_;
        int empty = 0, clash = 0, wide = 0;
        for (std::size_t c = 0; c < cols; ++c) {
            const double v = row[c];
            empty |= v != v;
            clash |= (float64 ? v : static_cast<double>(static_cast<float>(v))) == stored_nodata;
            if constexpr (!float64) wide |= std::fabs(v) > FLT_MAX;
        }
        if constexpr (!float64) wide |= empty && std::fabs(*nodata_) > FLT_MAX;
        if ((clash && !cells_.clash) || wide) return false;
        cells_.any_empty = cells_.any_empty || empty;
        return true;
    }

    std::optional<double> nodata_;
    bool float64_;
    double stored_;
    BandCells cells_;
};

}  // namespace kestranov::exporter
