#include "grid/lattice_grid.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

#include "core/fatal.h"
#include "core/megabytes.h"
#include "core/messages.h"
#include "grid/keep_rule.h"
#include "grid/lattice_cells.h"
#include "platform/cpu_features.h"
#include "platform/memory.h"

namespace kestranov {

namespace {

// An empty cell holds a NaN, which no point brings: the readers refuse nan
// and inf, and a NaN elevation is kept out by the update itself.
constexpr double empty = std::numeric_limits<double>::quiet_NaN();

// The points are placed a block at a time, their cells fetched ahead, and
// the elevations applied afterwards: with points in random order every cell
// visit is a cache miss, and the fetches then overlap.
constexpr std::size_t block = 512;

// The storage beyond the grid: its ring (a column each side, a row above
// and below), the filling's two rows, and the sink.
constexpr std::uint64_t more_cols = 2, more_rows = 4, sink_cell = 1;

// Cells of the storage; 0 when their `bytes` each would not fit
// std::size_t.
std::uint64_t cells_of(const Lattice& l, std::uint64_t bytes)
{
    const std::uint64_t cols = static_cast<std::uint64_t>(l.cols) + more_cols,
                        rows = static_cast<std::uint64_t>(l.rows) + more_rows;
    if (cols > (SIZE_MAX / bytes - 1) / rows) return 0;
    return cols * rows + sink_cell;
}

bool asked(const std::vector<Statistic>& statistics, Statistic s)
{
    return std::find(statistics.begin(), statistics.end(), s) != statistics.end();
}

template <bool highest>
void keep_in(double* cells, const std::size_t* at, const Point* p, std::size_t n)
{
    for (std::size_t k = 0; k < n; ++k) __builtin_prefetch(cells + at[k], 1);
    for (std::size_t k = 0; k < n; ++k) {
        double* const cell = cells + at[k];
        const double value = *cell;
        *cell = kept_elevation<highest>(value, value != value, p[k].z);
    }
}

[[noreturn]] void beyond_a_double(std::int64_t row, std::int64_t col) { fail(mean_beyond_double(row, col)); }

}  // namespace

std::uint64_t LatticeGrid::bytes_per_cell(const std::vector<Statistic>& statistics)
{
    const bool sums = asked(statistics, Statistic::mean) || asked(statistics, Statistic::stdev);
    const bool any_summed = std::any_of(statistics.begin(), statistics.end(), summed);
    const std::size_t rasters = statistics.size() - (asked(statistics, Statistic::count) ? 1 : 0) -
                                (asked(statistics, Statistic::mean) ? 1 : 0);
    return rasters * sizeof(double) +
           (any_summed ? ExactSums::bytes_per_cell(sums, asked(statistics, Statistic::stdev)) : 0);
}

double LatticeGrid::bytes_of(const Lattice& lattice, const std::vector<Statistic>& statistics)
{
    const double cells =
        (static_cast<double>(lattice.cols) + more_cols) * (static_cast<double>(lattice.rows) + more_rows) + sink_cell;
    return cells * static_cast<double>(bytes_per_cell(statistics));
}

LatticeGridResult make_lattice_grid(const Lattice& lattice, Keep keep, std::uint64_t available,
                                    std::optional<VectorPath> path, std::vector<Statistic> statistics)
{
    if (statistics.empty()) statistics = {keep == Keep::highest ? Statistic::max : Statistic::min};
    const std::string grid =
        "a grid of " + std::to_string(lattice.cols) + " columns and " + std::to_string(lattice.rows) + " rows";
    if (lattice.cols < 1 || lattice.rows < 1) return {std::nullopt, grid + " has no cell"};
    const std::uint64_t per_cell = LatticeGrid::bytes_per_cell(statistics);
    const std::uint64_t n =
        lattice.cols <= lattice_max_side && lattice.rows <= lattice_max_side ? cells_of(lattice, per_cell) : 0;
    if (n == 0) return {std::nullopt, grid + " is too large for this program"};
    const std::uint64_t bytes = n * per_cell;
    if (available != 0 && bytes > available)
        return {std::nullopt, grid + " needs " + megabytes_up(static_cast<double>(bytes)) + " MB of memory, and " +
                                  megabytes_down(static_cast<double>(available)) + " MB are available"};
    LatticeGrid made(lattice, keep, std::move(statistics), vector_path(path));
    for (std::size_t k = 0; k < made.statistics_.size(); ++k) {
        // Count's raster is the sums' counts, mean's their S1 once settled.
        if (made.statistics_[k] == Statistic::count) made.count_ = k;
        if (made.statistics_[k] == Statistic::mean) made.mean_ = k;
        if (k == made.count_ || k == made.mean_) {
            made.planes_.emplace_back();
            continue;
        }
        // A raster is written from end to end (below, or by settle()): large
        // pages spare most of the faults of its first touch.
        std::unique_ptr<double[], GiveBack> cells(static_cast<double*>(allocate_in_large_pages(n * sizeof(double))));
        if (!cells)
            return {std::nullopt,
                    "not enough memory for " + grid + " (" + megabytes_up(static_cast<double>(bytes)) + " MB)"};
        // A summed statistic's raster is written whole by settle(), its
        // filling rows by the filling before they are read: left untouched
        // until then.
        if (!summed(made.statistics_[k])) std::fill_n(cells.get(), n, empty);
        if (made.statistics_[k] == Statistic::max) made.high_ = cells.get();
        if (made.statistics_[k] == Statistic::min) made.low_ = cells.get();
        made.planes_.push_back(std::move(cells));
    }
    const std::vector<Statistic>& s = made.statistics_;
    if (std::any_of(s.begin(), s.end(), summed)) {
        made.sums_ = std::make_unique<ExactSums>(n, asked(s, Statistic::mean), asked(s, Statistic::stdev));
        if (!made.sums_->allocated())
            return {std::nullopt,
                    "not enough memory for " + grid + " (" + megabytes_up(static_cast<double>(bytes)) + " MB)"};
        made.sums_->sink = made.sink();
    }
    return {std::move(made), ""};
}

LatticeGrid::LatticeGrid(const Lattice& lattice, Keep keep, std::vector<Statistic> statistics, VectorPath path)
    : lattice_(lattice), keep_(keep), statistics_(std::move(statistics)), path_(path)
{
}

void LatticeGrid::add(const Point* points, std::size_t count)
{
    const auto highest = [this](const std::size_t* at, const Point* p, std::size_t n) {
        keep_in<true>(high_, at, p, n);
    };
    const auto lowest = [this](const std::size_t* at, const Point* p, std::size_t n) {
        keep_in<false>(low_, at, p, n);
    };
    // One raster of min or max, the usual run: its loop alone.
    if (!sums_ && planes_.size() == 1) {
        if (high_)
            add_points(points, count, highest);
        else
            add_points(points, count, lowest);
        return;
    }
    add_points(points, count, [&](const std::size_t* at, const Point* p, std::size_t n) {
        if (high_) highest(at, p, n);
        if (low_) lowest(at, p, n);
        if (sums_) sums_->add(at, p, n);
    });
}

template <class Apply>
void LatticeGrid::add_points(const Point* points, std::size_t count, Apply&& apply)
{
    const LatticeOrigin origin = cell_origin(lattice_);  // a window's cells are its whole lattice's
    const double x0 = origin.x, north = origin.y, size = lattice_.size, inverse = 1.0 / size;
    const std::int64_t cols = lattice_.cols, rows = lattice_.rows;
    const auto row_length = static_cast<std::int64_t>(stride());
    const LatticeStorage storage{
        {x0, size, inverse, origin.col, cols}, {-north, size, inverse, origin.row, rows}, row_length, sink()};
    std::size_t at[block];
    for (std::size_t start = 0; start < count; start += block) {
        const Point* const p = points + start;
        const std::size_t n = std::min(block, count - start);
        Placed placed;
        for (std::size_t k = place_points_vector(path_, p, n, storage, at, placed); k < n; ++k)
            at[k] = place_point(storage, p[k], placed);
        apply(at, p, n);
        counts_.gridded += placed.inner;
        counts_.ring_only += placed.kept - placed.inner;
        counts_.outside += static_cast<std::int64_t>(n) - placed.kept;
    }
}

void LatticeGrid::settle(int threads)
{
    if (settled_ || !sums_) return;
    settled_ = true;
    // The grid and its ring (the filling reads the ring's values); the
    // standard deviation first, which reads S1 before the means overwrite it.
    const std::size_t cells = (static_cast<std::size_t>(lattice_.rows) + 2) * stride();
    const ExactSums& sums = *sums_;
    for (std::size_t k = 0; k < statistics_.size(); ++k) {
        if (statistics_[k] != Statistic::stdev) continue;
        double* const stdev = planes_[k].get();
        for (std::size_t at = 0; at < cells; ++at) stdev[at] = sums.stdev(at);
    }
    if (mean_ != SIZE_MAX) planes_[mean_] = sums_->means_over_sums(cells, threads > 1, count_ != SIZE_MAX);
}

const double* LatticeGrid::count_row(std::int64_t row) const
{
    const auto cols = static_cast<std::size_t>(lattice_.cols);
    count_cells_.resize(cols);
    sums_->counts(offset(row, 0), cols, count_cells_.data());
    return count_cells_.data();
}

long long LatticeGrid::fill_once()
{
    long long filled = 0;
    for (std::size_t k = 0; k < statistics_.size(); ++k)
        if (k != count_) filled = fill_raster(planes_[k].get());
    return filled;
}

long long LatticeGrid::fill_raster(double* const cells)
{
    const std::size_t length = stride();
    const auto cols = static_cast<std::size_t>(lattice_.cols);
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
    const auto valued =
        std::find_if(statistics_.begin(), statistics_.end(), [](Statistic s) { return s != Statistic::count; });
    const bool counts = valued == statistics_.end();
    const auto k = static_cast<std::size_t>(counts ? 0 : valued - statistics_.begin());
    long long count = 0;
    for (std::int64_t r = 0; r < lattice_.rows; ++r) {
        const double* const values = row(k, r);
        for (std::int64_t c = 0; c < lattice_.cols; ++c) count += counts ? values[c] == 0 : std::isnan(values[c]);
    }
    return count;
}

}  // namespace kestranov
