// The grid of kestranov-grid on a Lattice: per cell the statistics a run
// asks for (grid/cell_statistic.h), by default one elevation, the highest
// or the lowest of its points, with the ring of cells around it (see
// grid/lattice.h), and one optional filling of the gaps. Each statistic is
// a raster of doubles; min and max are kept in theirs as the points come,
// mean, count and stdev summed exactly (grid/exact_sums.h) and turned into
// theirs by settle(): the mean's written over the sums it comes from, the
// count's served a row at a time from the sums' counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include <vector>

#include "core/reading_options.h"
#include "grid/cell_statistic.h"
#include "grid/exact_sums.h"
#include "grid/lattice.h"
#include "platform/memory.h"
#include "points/record_batch.h"

namespace kestranov {

enum class Keep { highest, lowest };

// Where the points went.
struct PointCounts {
    long long gridded = 0;    // into a cell of the grid
    long long ring_only = 0;  // into the ring around it, kept for the filling only
    long long outside = 0;    // beyond the ring (or with an X or Y that is not a number)
};

struct LatticeGridResult;

class LatticeGrid {
public:
    LatticeGrid(LatticeGrid&&) noexcept = default;
    LatticeGrid& operator=(LatticeGrid&&) noexcept = default;
    LatticeGrid(const LatticeGrid&) = delete;
    LatticeGrid& operator=(const LatticeGrid&) = delete;
    ~LatticeGrid() = default;

    const Lattice& lattice() const { return lattice_; }
    Keep keep() const { return keep_; }
    // In the order asked; raster k of row(k, r) is statistics()[k].
    const std::vector<Statistic>& statistics() const { return statistics_; }

    // The bytes a cell of the storage takes for `statistics`: 8 for each
    // raster but mean's and count's, which live in the exact sums'
    // (ExactSums::bytes_per_cell), counted when mean, count or stdev is
    // among them.
    static std::uint64_t bytes_per_cell(const std::vector<Statistic>& statistics);
    // The bytes the storage of `lattice` takes for `statistics`: its cells,
    // ring and spare rows at bytes_per_cell each, as make_lattice_grid
    // allocates them (in a double: it may exceed any allocation).
    static double bytes_of(const Lattice& lattice, const std::vector<Statistic>& statistics);

    // Each point into its cell (or the ring's): max and min keep the
    // highest and the lowest elevation of its points (ties keep the cell's
    // value), the sums count and add it exactly, so the result does not
    // depend on the order of the points. A NaN elevation changes no cell. One thread at a time: a caller reading on
    // several threads hands its batches over to one.
    void add(const Point* points, std::size_t count);
    // The summed statistics into their rasters, once the last point is
    // added and before anything is read or filled (nothing to do without
    // them); the means on two threads when `threads` allows, the same bytes.
    void settle(int threads = 1);

    // The filling, once, of every raster but count's: every cell of the
    // grid that received no point and has at least one neighbour that did
    // (of its 8, ring cells included)
    // takes the mean of those neighbours' values as gridded, never of cells
    // filled here: summed in doubles in the order NW, N, NE, W, E, SW, S,
    // SE, then divided by their count. Returns the number of cells filled.
    // A sum beyond the range of a double (elevations near the largest
    // double) ends the run naming the cell (fail, core/fatal.h).
    long long fill_once();

    const PointCounts& counts() const { return counts_; }
    // Cells of the grid that hold no value (after the filling, if it ran):
    // those of the first statistic but count, or with count alone those
    // where no point fell.
    long long empty_cells() const;

    // The value of statistic `k` (0: the first) of the cell of `row`
    // (-1..rows, counted from the north) and `col` (-1..cols), the ring
    // included; NaN when it is empty (count: 0).
    double at(std::int64_t row, std::int64_t col) const { return at(0, row, col); }
    double at(std::size_t k, std::int64_t row, std::int64_t col) const
    {
        return k == count_ ? sums_->count(offset(row, col)) : planes_[k][offset(row, col)];
    }
    // The `cols` values of the grid's row `row` (0..rows-1, north first) of
    // statistic `k`, NaN where empty. Count's row is made in a buffer of the
    // grid's, good until its next row is asked: one reader at a time.
    const double* row(std::int64_t row) const { return this->row(0, row); }
    const double* row(std::size_t k, std::int64_t row) const
    {
        return k == count_ ? count_row(row) : planes_[k].get() + offset(row, 0);
    }

private:
    friend LatticeGridResult make_lattice_grid(const Lattice& lattice, Keep keep, std::uint64_t available,
                                               std::optional<VectorPath> path, std::vector<Statistic> statistics);
    LatticeGrid(const Lattice& lattice, Keep keep, std::vector<Statistic> statistics, VectorPath path);

    std::size_t stride() const { return static_cast<std::size_t>(lattice_.cols) + 2; }
    std::size_t offset(std::int64_t row, std::int64_t col) const
    {
        return static_cast<std::size_t>(row + 1) * stride() + static_cast<std::size_t>(col + 1);
    }
    std::size_t sink() const { return (static_cast<std::size_t>(lattice_.rows) + 4) * stride(); }
    template <class Apply>
    void add_points(const Point* points, std::size_t count, Apply&& apply);
    long long fill_raster(double* cells);
    const double* count_row(std::int64_t row) const;

    Lattice lattice_;
    Keep keep_;
    std::vector<Statistic> statistics_;
    VectorPath path_;  // of the cell computations
    // One raster per statistic, each of rows + 2 rows of cols + 2 cells (the
    // grid and its ring), two rows of room for the filling, and one cell
    // that takes the points beyond the ring, so that the update loop needs
    // no branch for them.
    std::vector<std::unique_ptr<double[], GiveBack>> planes_;
    double* high_ = nullptr;           // max's raster, when asked
    double* low_ = nullptr;            // min's
    std::unique_ptr<ExactSums> sums_;  // when mean, count or stdev is asked
    std::size_t count_ = SIZE_MAX;     // count's place among the statistics, if asked: it has no plane
    std::size_t mean_ = SIZE_MAX;      // mean's, whose plane settle() makes of the sums
    mutable std::vector<double> count_cells_;
    bool settled_ = false;
    PointCounts counts_;
};

// The grid of `lattice` with every cell empty, or why it cannot be had: a
// one-line text when its cells need more than `available` bytes (0: not
// known, not checked; platform/memory.h gives what a run may take) or when
// the allocation fails. The points' cells are computed on the widest vector
// path of the processor, or on `path` where it has that one (a test's
// choice: every path gives the same cells). `statistics`: the rasters, in
// their order, none twice; none: the one `keep` says (max or min).
struct LatticeGridResult {
    std::optional<LatticeGrid> grid;
    std::string error;  // empty when `grid` holds
};
LatticeGridResult make_lattice_grid(const Lattice& lattice, Keep keep, std::uint64_t available,
                                    std::optional<VectorPath> path = std::nullopt,
                                    std::vector<Statistic> statistics = {});

}  // namespace kestranov
