#include "grid/lattice_grid.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

#include "core/fatal.h"
#include "core/messages.h"
#include "grid/lattice_cells.h"
#include "platform/cpu_features.h"

namespace kestranov {

namespace {

// An empty cell holds a NaN, which no point brings: the readers refuse nan
// and inf, and a NaN elevation is kept out by the update itself.
constexpr double empty = std::numeric_limits<double>::quiet_NaN();

// The points are placed a block at a time, their cells fetched ahead, and
// the elevations applied afterwards: with points in random order every cell
// visit is a cache miss, and the fetches then overlap.
constexpr std::size_t block = 512;

// Doubles of the storage: the grid and its ring, the filling's two rows and
// the sink; 0 when their bytes would not fit std::size_t.
std::uint64_t doubles_of(const Lattice& l)
{
    const std::uint64_t cols = static_cast<std::uint64_t>(l.cols) + 2, rows = static_cast<std::uint64_t>(l.rows) + 4;
    if (cols > (SIZE_MAX / sizeof(double) - 1) / rows) return 0;
    return cols * rows + 1;
}

// What is needed rounds up, what is available down, so that a refusal never
// shows two equal numbers.
std::string megabytes_up(std::uint64_t bytes) { return std::to_string(bytes / 1000000 + (bytes % 1000000 != 0)); }
std::string megabytes_down(std::uint64_t bytes) { return std::to_string(bytes / 1000000); }

[[noreturn]] void beyond_a_double(std::int64_t row, std::int64_t col) { fail(mean_beyond_double(row, col)); }

}  // namespace

LatticeGridResult make_lattice_grid(const Lattice& lattice, Keep keep, std::uint64_t available,
                                    std::optional<VectorPath> path)
{
    const std::string grid =
        "a grid of " + std::to_string(lattice.cols) + " columns and " + std::to_string(lattice.rows) + " rows";
    if (lattice.cols < 1 || lattice.rows < 1) return {std::nullopt, grid + " has no cell"};
    const std::uint64_t n =
        lattice.cols <= lattice_max_side && lattice.rows <= lattice_max_side ? doubles_of(lattice) : 0;
    if (n == 0) return {std::nullopt, grid + " is too large for this program"};
    const std::uint64_t bytes = n * sizeof(double);
    if (available != 0 && bytes > available)
        return {std::nullopt, grid + " needs " + megabytes_up(bytes) + " MB of memory, and " +
                                  megabytes_down(available) + " MB are available"};
    std::unique_ptr<double[]> cells(new (std::nothrow) double[n]);
    if (!cells) return {std::nullopt, "not enough memory for " + grid + " (" + megabytes_up(bytes) + " MB)"};
    std::fill_n(cells.get(), n, empty);
    return {LatticeGrid(lattice, keep, std::move(cells), vector_path(path)), ""};
}

LatticeGrid::LatticeGrid(const Lattice& lattice, Keep keep, std::unique_ptr<double[]> cells, VectorPath path)
    : lattice_(lattice), keep_(keep), path_(path), cells_(std::move(cells))
{
}

void LatticeGrid::add(const Point* points, std::size_t count)
{
    if (keep_ == Keep::highest)
        add_points<true>(points, count);
    else
        add_points<false>(points, count);
}

template <bool highest>
void LatticeGrid::add_points(const Point* points, std::size_t count)
{
    const LatticeOrigin origin = cell_origin(lattice_);  // a window's cells are its whole lattice's
    const double x0 = origin.x, north = origin.y, size = lattice_.size, inverse = 1.0 / size;
    const std::int64_t cols = lattice_.cols, rows = lattice_.rows;
    const auto row_length = static_cast<std::int64_t>(stride());
    const std::size_t sink = (static_cast<std::size_t>(rows) + 4) * stride();
    double* const cells = cells_.get();
    const LatticeStorage storage{
        {x0, size, inverse, origin.col, cols}, {-north, size, inverse, origin.row, rows}, row_length, sink};
    std::size_t at[block];
    for (std::size_t start = 0; start < count; start += block) {
        const Point* const p = points + start;
        const std::size_t n = std::min(block, count - start);
        Placed placed;
        for (std::size_t k = place_points_vector(path_, p, n, storage, at, placed); k < n; ++k)
            at[k] = place_point(storage, p[k], placed);
        for (std::size_t k = 0; k < n; ++k) __builtin_prefetch(cells + at[k], 1);
        // Without branches: whether a cell is empty and whether a point
        // beats it are data, which a branch predictor guesses badly. An empty
        // cell takes the point (chosen on the bits, which the compiler keeps
        // branch-free; the two tests joined in one condition, it branched on
        // each); then z > held ? z : held is one maximum instruction, which
        // keeps the cell's value on a tie and against a NaN elevation.
        for (std::size_t k = 0; k < n; ++k) {
            double* const cell = cells + at[k];
            const double z = p[k].z, value = *cell;
            const std::uint64_t empty = 0 - static_cast<std::uint64_t>(value != value);
            const double held = std::bit_cast<double>((std::bit_cast<std::uint64_t>(z) & empty) |
                                                      (std::bit_cast<std::uint64_t>(value) & ~empty));
            *cell = (highest ? z > held : z < held) ? z : held;
        }
        counts_.gridded += placed.inner;
        counts_.ring_only += placed.kept - placed.inner;
        counts_.outside += static_cast<std::int64_t>(n) - placed.kept;
    }
}

long long LatticeGrid::fill_once()
{
    const std::size_t length = stride();
    const auto cols = static_cast<std::size_t>(lattice_.cols);
    double* const cells = cells_.get();
    // The values as gridded of the row above and of the row being filled;
    // the row below is not filled yet, and the ring's row -1 never is.
    double* const room[2] = {cells + offset(lattice_.rows + 1, -1), cells + offset(lattice_.rows + 2, -1)};
    const double* above = cells;
    long long filled = 0;
    for (std::int64_t r = 0; r < lattice_.rows; ++r) {
        double* const here = cells + offset(r, -1);
        const double* const below = here + length;
        double* const gridded = room[r % 2];
        std::copy_n(here, length, gridded);
        for (std::size_t c = 1; c <= cols; ++c) {
            if (!std::isnan(gridded[c])) continue;
            const double around[8] = {above[c - 1],   above[c],     above[c + 1], gridded[c - 1],
                                      gridded[c + 1], below[c - 1], below[c],     below[c + 1]};
            double sum = 0.0;
            int valued = 0;
            for (const double v : around) {
                if (std::isnan(v)) continue;
                sum = valued == 0 ? v : sum + v;
                ++valued;
            }
            if (valued == 0) continue;
            const double mean = sum / valued;
            if (!std::isfinite(mean)) beyond_a_double(r, static_cast<std::int64_t>(c) - 1);
            here[c] = mean;
            ++filled;
        }
        above = gridded;
    }
    return filled;
}

long long LatticeGrid::empty_cells() const
{
    long long count = 0;
    for (std::int64_t r = 0; r < lattice_.rows; ++r) {
        const double* const values = row(r);
        for (std::int64_t c = 0; c < lattice_.cols; ++c) count += std::isnan(values[c]);
    }
    return count;
}

}  // namespace kestranov
