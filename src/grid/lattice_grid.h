// The grid of kestranov-grid on a Lattice: one elevation per cell, the
// highest or the lowest of its points, with the ring of cells around it
// (see grid/lattice.h), and one optional filling of the gaps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/reading_options.h"
#include "grid/lattice.h"
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

    // Each point into its cell (or the ring's), which keeps the highest or
    // the lowest elevation of its points; ties keep the cell's value, so the
    // result does not depend on the order of the points. A NaN elevation
    // changes no cell. One thread at a time: a caller reading on several
    // threads hands its batches over to one.
    void add(const Point* points, std::size_t count);

    // The filling, once: every cell of the grid that received no point and
    // has at least one neighbour that did (of its 8, ring cells included)
    // takes the mean of those neighbours' values as gridded, never of cells
    // filled here: summed in doubles in the order NW, N, NE, W, E, SW, S,
    // SE, then divided by their count. Returns the number of cells filled.
    // A sum beyond the range of a double (elevations near the largest
    // double) ends the run naming the cell (fail, core/fatal.h).
    long long fill_once();

    const PointCounts& counts() const { return counts_; }
    // Cells of the grid that hold no value (after the filling, if it ran).
    long long empty_cells() const;

    // The value of the cell of `row` (-1..rows, counted from the north) and
    // `col` (-1..cols), the ring included; NaN when it is empty.
    double at(std::int64_t row, std::int64_t col) const { return cells_[offset(row, col)]; }
    // The `cols` values of the grid's row `row` (0..rows-1, north first), NaN where empty.
    const double* row(std::int64_t row) const { return cells_.get() + offset(row, 0); }

private:
    friend LatticeGridResult make_lattice_grid(const Lattice& lattice, Keep keep, std::uint64_t available,
                                               std::optional<VectorPath> path);
    LatticeGrid(const Lattice& lattice, Keep keep, std::unique_ptr<double[]> cells, VectorPath path);

    std::size_t stride() const { return static_cast<std::size_t>(lattice_.cols) + 2; }
    std::size_t offset(std::int64_t row, std::int64_t col) const
    {
        return static_cast<std::size_t>(row + 1) * stride() + static_cast<std::size_t>(col + 1);
    }
    template <bool highest>
    void add_points(const Point* points, std::size_t count);

    Lattice lattice_;
    Keep keep_;
    VectorPath path_;  // of the cell computations
    // rows + 2 rows of cols + 2 cells (the grid and its ring), two rows of
    // room for the filling, and one cell that takes the points beyond the
    // ring, so that the update loop needs no branch for them.
    std::unique_ptr<double[]> cells_;
    PointCounts counts_;
};

// The grid of `lattice` with every cell empty, or why it cannot be had: a
// one-line text when its cells need more than `available` bytes (0: not
// known, not checked; platform/memory.h gives what a run may take) or when
// the allocation fails. The points' cells are computed on the widest vector
// path of the processor, or on `path` where it has that one (a test's
// choice: every path gives the same cells).
struct LatticeGridResult {
    std::optional<LatticeGrid> grid;
    std::string error;  // empty when `grid` holds
};
LatticeGridResult make_lattice_grid(const Lattice& lattice, Keep keep, std::uint64_t available,
                                    std::optional<VectorPath> path = std::nullopt);

}  // namespace kestranov
