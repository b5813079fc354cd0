#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "exact_oracle.h"
#include "grid/lattice_grid.h"
#include "support.h"

using namespace kestranov;

namespace {

using Cell = std::pair<std::int64_t, std::int64_t>;  // row from the north, column
using Values = std::map<Cell, double>;

LatticeGrid grid_of(const Lattice& l, Keep keep)
{
    LatticeGridResult made = make_lattice_grid(l, keep, 0);
    if (!made.grid) throw std::runtime_error(made.error);
    return std::move(*made.grid);
}

// Every cell of the grid and its ring that holds a value.
Values values_of(const LatticeGrid& g)
{
    Values v;
    const Lattice& l = g.lattice();
    for (std::int64_t r = -1; r <= l.rows; ++r)
        for (std::int64_t c = -1; c <= l.cols; ++c)
            if (!std::isnan(g.at(r, c))) v[{r, c}] = g.at(r, c);
    return v;
}

// A unit lattice of cols x rows at the origin, ring cells set by their
// centres like the others: point(r, c, z) lands in cell (r, c).
Lattice unit_lattice(std::int64_t cols, std::int64_t rows)
{
    return {0.0, 0.0, static_cast<double>(cols), static_cast<double>(rows), 1.0, cols, rows};
}
Point point(const Lattice& l, std::int64_t r, std::int64_t c, double z)
{
    return {static_cast<double>(c) + 0.5, static_cast<double>(l.rows - 1 - r) + 0.5, z};
}

}  // namespace

// Points on, beside and between cell edges, in the ring and beyond it:
// each cell holds the highest (or lowest) elevation of the points the exact
// oracle puts in it, the counts say where the points went, and the result
// is the same for the points shuffled and handed over in other batches.
TEST(LatticeGrid, CellsKeepTheHighestOrLowestOfThePointsExactArithmeticPutsThere)
{
    const unsigned seed = 99;
    std::mt19937_64 rng(seed);
    const Lattice lattices[] = {
        {480000.01, 2150000.02, 480006.01, 2150004.52, 0.3, 20, 15},
        {5e6, 5e6, 5e6 + 25, 5e6 + 5, 2.5, 10, 2},
        {489999.99, 2159999.97, 490000.99, 2160000.97, 0.1, 10, 10},
    };
    for (const Lattice& l : lattices) {
        for (const Keep keep : {Keep::highest, Keep::lowest}) {
            std::vector<Point> points;
            Values expected;
            PointCounts counts;
            for (int k = 0; k < sweep(3000); ++k) {
                const auto i = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(l.cols + 6)) - 3;
                const auto j = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(l.rows + 6)) - 3;
                double x = l.xmin + static_cast<double>(i) * l.size, y = l.ymin + static_cast<double>(j) * l.size;
                const int ulps = static_cast<int>(rng() % 5) - 2;
                for (int u = 0; u < std::abs(ulps); ++u) x = std::nextafter(x, ulps > 0 ? HUGE_VAL : -HUGE_VAL);
                if (rng() % 3 == 0) y += std::uniform_real_distribution<double>(0.0, l.size)(rng);
                const double z = std::round(std::uniform_real_distribution<double>(-20.0, 2400.0)(rng) * 100) / 100;
                points.push_back({x, y, z});
                const std::int64_t c = exact_oracle::floor_cell(x, l.xmin, l.size);
                const std::int64_t r = l.rows - 1 - exact_oracle::floor_cell(y, l.ymin, l.size);
                if (c < -1 || c > l.cols || r < -1 || r > l.rows) {
                    ++counts.outside;
                    continue;
                }
                const bool inner = c >= 0 && c < l.cols && r >= 0 && r < l.rows;
                ++(inner ? counts.gridded : counts.ring_only);
                const auto [at, first] = expected.emplace(Cell{r, c}, z);
                if (!first) at->second = keep == Keep::highest ? std::max(at->second, z) : std::min(at->second, z);
            }
            points.push_back({std::numeric_limits<double>::quiet_NaN(), l.ymin, 1.0});
            ++counts.outside;

            LatticeGrid g = grid_of(l, keep);
            g.add(points.data(), points.size());
            EXPECT_EQ(values_of(g), expected) << l.size;
            EXPECT_EQ(g.counts().gridded, counts.gridded);
            EXPECT_EQ(g.counts().ring_only, counts.ring_only);
            EXPECT_EQ(g.counts().outside, counts.outside);
            EXPECT_GT(counts.ring_only, 100);
            EXPECT_GT(counts.outside, 100);

            std::shuffle(points.begin(), points.end(), rng);
            LatticeGrid again = grid_of(l, keep);
            for (std::size_t at = 0; at < points.size();) {
                const std::size_t n = std::min<std::size_t>(1 + rng() % 1500, points.size() - at);
                again.add(points.data() + at, n);
                at += n;
            }
            EXPECT_EQ(values_of(again), expected);
            EXPECT_EQ(again.counts().gridded, counts.gridded);
        }
    }
}

// A NaN elevation changes no cell, empty or not; a point always beats an empty cell.
TEST(LatticeGrid, NaNElevationsAndNegativeValues)
{
    const Lattice l = unit_lattice(2, 1);
    for (const Keep keep : {Keep::highest, Keep::lowest}) {
        LatticeGrid g = grid_of(l, keep);
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const Point pts[] = {point(l, 0, 0, nan), point(l, 0, 1, -7.5), point(l, 0, 1, nan), point(l, 0, 1, -8.0)};
        g.add(pts, 4);
        EXPECT_TRUE(std::isnan(g.at(0, 0)));
        EXPECT_EQ(g.at(0, 1), keep == Keep::highest ? -7.5 : -8.0);
        EXPECT_EQ(g.empty_cells(), 1);
    }
}

// The worked grid, checkable by hand: 5 columns and 2 rows of unit cells;
// values at (0,0) = 10 and (1,2) = 4, and in the ring at (-1,1) = 7 (north)
// and (2,1) = 100 (south).
TEST(LatticeGrid, FillOnceTheWorkedGrid)
{
    const Lattice l = unit_lattice(5, 2);
    LatticeGrid g = grid_of(l, Keep::highest);
    const Point pts[] = {point(l, 0, 0, 10), point(l, 1, 2, 4), point(l, -1, 1, 7), point(l, 2, 1, 100)};
    g.add(pts, 4);
    EXPECT_EQ(g.counts().gridded, 2);
    EXPECT_EQ(g.counts().ring_only, 2);
    EXPECT_EQ(g.empty_cells(), 8);
    EXPECT_EQ(g.fill_once(), 6);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double expected[2][5] = {
        // (0,1): N 7, W 10, SE 4. (0,2): NW 7, S 4; W was empty as gridded.
        // (0,3): SW 4. (0,4): no neighbour with a value.
        {10, (7 + 10 + 4) / 3.0, (7 + 4) / 2.0, 4, nan},
        // (1,0): N 10, SE 100. (1,1): NW 10, E 4, S 100. (1,3): W 4.
        {(10 + 100) / 2.0, (10 + 4 + 100) / 3.0, 4, 4, nan},
    };
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 5; ++c) {
            const double v = g.row(r)[c];
            EXPECT_TRUE(std::isnan(expected[r][c]) ? std::isnan(v) : v == expected[r][c]) << r << " " << c << " " << v;
        }
    EXPECT_EQ(g.empty_cells(), 2);
    // The ring keeps its values and is never filled.
    EXPECT_EQ(g.at(-1, 1), 7.0);
    EXPECT_TRUE(std::isnan(g.at(-1, 0)));
}

// Sparse random grids against a fill written from the rule: the sum in the
// order NW, N, NE, W, E, SW, S, SE of the values as gridded. Elevations of
// very different sizes make the order matter; the sample shows that it does.
TEST(LatticeGrid, FillOnceSumsInTheStatedOrderWithoutCascade)
{
    std::mt19937_64 rng(4);
    const double magnitudes[] = {0.1, 0.7, 3.3, 1e16, -1e16, 2240.17, 1e-3, 7e15};
    long long order_matters = 0;
    for (int round = 0; round < sweep(200); ++round) {
        const Lattice l =
            unit_lattice(1 + static_cast<std::int64_t>(rng() % 12), 1 + static_cast<std::int64_t>(rng() % 9));
        LatticeGrid g = grid_of(l, Keep::lowest);
        Values gridded;
        for (std::int64_t r = -1; r <= l.rows; ++r)
            for (std::int64_t c = -1; c <= l.cols; ++c)
                if (rng() % 3 == 0) gridded[{r, c}] = magnitudes[rng() % std::size(magnitudes)] * (1 + rng() % 5);
        for (const auto& [cell, z] : gridded) {
            const Point p = point(l, cell.first, cell.second, z);
            g.add(&p, 1);
        }
        Values expected = gridded;
        long long filled = 0;
        for (std::int64_t r = 0; r < l.rows; ++r)
            for (std::int64_t c = 0; c < l.cols; ++c) {
                if (gridded.count({r, c})) continue;
                std::vector<double> around;
                for (const Cell& n : {Cell{r - 1, c - 1}, Cell{r - 1, c}, Cell{r - 1, c + 1}, Cell{r, c - 1},
                                      Cell{r, c + 1}, Cell{r + 1, c - 1}, Cell{r + 1, c}, Cell{r + 1, c + 1}})
                    if (const auto v = gridded.find(n); v != gridded.end()) around.push_back(v->second);
                if (around.empty()) continue;
                double sum = around[0], reversed = around.back();
                for (std::size_t k = 1; k < around.size(); ++k) sum += around[k];
                for (std::size_t k = around.size() - 1; k-- > 0;) reversed += around[k];
                order_matters += sum != reversed;
                expected[{r, c}] = sum / static_cast<double>(around.size());
                ++filled;
            }
        ASSERT_EQ(g.fill_once(), filled) << round;
        ASSERT_EQ(values_of(g), expected) << round;
        long long valued = 0;
        for (const auto& [cell, z] : expected)
            valued += cell.first >= 0 && cell.first < l.rows && cell.second >= 0 && cell.second < l.cols;
        EXPECT_EQ(g.empty_cells(), l.cols * l.rows - valued);
    }
    EXPECT_GT(order_matters, 20);
}

TEST(LatticeGrid, RefusalsInsteadOfACrash)
{
    const Lattice l = unit_lattice(1000, 1000);
    // (1000 + 2) x (1000 + 4) + 1 doubles: the grid, its ring, the filling's two rows and one spare cell.
    EXPECT_EQ(make_lattice_grid(l, Keep::highest, 8000000).error,
              "a grid of 1000 columns and 1000 rows needs 9 MB of memory, and 8 MB are available");
    EXPECT_TRUE(make_lattice_grid(l, Keep::highest, 9000000).grid.has_value());
    EXPECT_EQ(make_lattice_grid(unit_lattice(std::int64_t{1} << 40, 1 << 30), Keep::highest, 0).error,
              "a grid of 1099511627776 columns and 1073741824 rows is too large for this program");
    EXPECT_EQ(make_lattice_grid(unit_lattice(0, 3), Keep::highest, 0).error,
              "a grid of 0 columns and 3 rows has no cell");
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's allocator would stop the run instead of returning null
    // Beyond any address space, so the allocation itself fails.
    EXPECT_EQ(make_lattice_grid(unit_lattice(std::int64_t{1} << 40, 1 << 19), Keep::highest, 0)
                  .error.rfind("not enough memory for a grid of 1099511627776 columns and 524288 rows (", 0),
              0u);
#endif

    // Means beyond the range of a double end the run naming the cell.
    const Lattice two = unit_lattice(2, 1);
    LatticeGrid g = grid_of(two, Keep::highest);
    const Point pts[] = {point(two, 0, 0, 1.5e308), point(two, 1, 0, 1.5e308)};
    g.add(pts, 2);
    EXPECT_EQ(failure_of([&] { g.fill_once(); }),
              "\n\n\tThe empty cell of row 0, column 1 (counted from 0 at the north-west corner) would get the mean of "
              "its neighbours, whose sum is beyond the range of a double: their elevations are too large\n");
}
