#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <vector>

#if defined(__x86_64__) && defined(__GLIBC__)
#include <fpu_control.h>
#endif

#include "exact_oracle.h"
#include "grid/lattice_grid.h"
#include "platform/cpu_features.h"
#include "support.h"

using namespace kestranov;

namespace {

using Cell = std::pair<std::int64_t, std::int64_t>;  // row from the north, column
using Values = std::map<Cell, double>;
constexpr double no_value = std::numeric_limits<double>::quiet_NaN();

LatticeGrid grid_of(const Lattice& l, Keep keep, std::optional<VectorPath> path = std::nullopt,
                    const std::vector<Statistic>& statistics = {})
{
    LatticeGridResult made = make_lattice_grid(l, keep, 0, path, statistics);
    if (!made.grid) throw std::runtime_error(made.error);
    return std::move(*made.grid);
}

// Every cell of the grid and its ring that holds a value.
Values values_of(const LatticeGrid& g)
{
    Values v;
    for (std::int64_t r = -1; r <= g.lattice().rows; ++r)
        for (std::int64_t c = -1; c <= g.lattice().cols; ++c)
            if (!std::isnan(g.at(r, c))) v[{r, c}] = g.at(r, c);
    return v;
}

// Unit cells from the origin; point(l, r, c, z) lands in cell (r, c), ring cells included.
Lattice unit_lattice(std::int64_t cols, std::int64_t rows)
{
    return {0.0, 0.0, static_cast<double>(cols), static_cast<double>(rows), 1.0, cols, rows};
}
Point point(const Lattice& l, std::int64_t r, std::int64_t c, double z)
{
    return {static_cast<double>(c) + 0.5, static_cast<double>(l.rows - 1 - r) + 0.5, z};
}

}  // namespace

// Points on, a few ulps beside and between cell edges, in the ring and
// beyond: each cell keeps the highest (lowest) elevation of the points the
// exact oracle puts there, the counts agree, and so does the same cloud
// shuffled and handed over in other batches; on every vector path this
// processor has (lanes decided in the vector, lanes done again one by one,
// the last points of a batch).
TEST(LatticeGrid, CellsKeepTheHighestOrLowestOfWhatExactArithmeticPutsThere)
{
    std::mt19937_64 rng(99);
    const Lattice lattices[] = {{480000.01, 2150000.02, 480006.01, 2150004.52, 0.3, 20, 15},
                                {5e6, 5e6, 5e6 + 25, 5e6 + 5, 2.5, 10, 2},
                                {489999.99, 2159999.97, 490000.99, 2160000.97, 0.1, 10, 10}};
    for (const Lattice& l : lattices)
        for (const Keep keep : {Keep::highest, Keep::lowest}) {
            std::vector<Point> points{{no_value, l.ymin, 1.0}};
            Values expected;
            PointCounts counts{0, 0, 1};
            for (int k = 0; k < sweep(3000); ++k) {
                const auto i = static_cast<double>(rng() % static_cast<std::uint64_t>(l.cols + 6)) - 3;
                const double j = static_cast<double>(rng() % static_cast<std::uint64_t>(l.rows + 6)) - 3;
                // Half the points anywhere in a cell, which a vector lane decides by itself.
                const bool anywhere = rng() % 2 == 0;
                std::uniform_real_distribution<double> within(0.0, 1.0);
                double x = l.xmin + (i + (anywhere ? within(rng) : 0.0)) * l.size;
                double y = l.ymax - (j + (anywhere ? within(rng) : 0.5 * static_cast<double>(rng() % 2))) * l.size;
                for (int u = anywhere ? 0 : static_cast<int>(rng() % 5) - 2; u != 0; u += u < 0 ? 1 : -1)
                    x = std::nextafter(x, u > 0 ? HUGE_VAL : -HUGE_VAL);
                for (int u = anywhere ? 0 : static_cast<int>(rng() % 5) - 2; u != 0; u += u < 0 ? 1 : -1)
                    y = std::nextafter(y, u > 0 ? HUGE_VAL : -HUGE_VAL);
                const double z = std::round(std::uniform_real_distribution<double>(-20.0, 2400.0)(rng) * 100) / 100;
                points.push_back({x, y, z});
                const std::int64_t c = exact_oracle::floor_cell(x, l.xmin, l.size);
                const std::int64_t r = exact_oracle::floor_cell(-y, -l.ymax, l.size);  // from the north edge
                if (c < -1 || c > l.cols || r < -1 || r > l.rows) {
                    ++counts.outside;
                    continue;
                }
                ++(c >= 0 && c < l.cols && r >= 0 && r < l.rows ? counts.gridded : counts.ring_only);
                const auto [at, first] = expected.emplace(Cell{r, c}, z);
                if (!first) at->second = keep == Keep::highest ? std::max(at->second, z) : std::min(at->second, z);
            }
            EXPECT_GT(counts.ring_only, 100);
            EXPECT_GT(counts.outside, 100);
            for (const VectorPath path : {VectorPath::scalar, VectorPath::avx2, VectorPath::avx512}) {
                if (!vector_path_available(path)) continue;
                SCOPED_TRACE(vector_path_name(path));
                LatticeGrid g = grid_of(l, keep, path), again = grid_of(l, keep, path);
                g.add(points.data(), points.size());
                std::vector<Point> shuffled = points;
                std::shuffle(shuffled.begin(), shuffled.end(), rng);
                for (std::size_t at = 0, n = 0; at < shuffled.size(); at += n) {
                    n = std::min<std::size_t>(1 + rng() % 1500, shuffled.size() - at);
                    again.add(shuffled.data() + at, n);
                }
                for (const LatticeGrid* grid : {&g, &again}) {
                    EXPECT_EQ(values_of(*grid), expected) << l.size;
                    EXPECT_EQ(grid->counts().gridded, counts.gridded);
                    EXPECT_EQ(grid->counts().ring_only, counts.ring_only);
                    EXPECT_EQ(grid->counts().outside, counts.outside);
                }
            }
        }
}

// A tie keeps the cell's value: of 0 and -0, whichever came first.
TEST(LatticeGrid, ATieKeepsTheCellsValue)
{
    const Lattice l = unit_lattice(2, 1);
    for (const Keep keep : {Keep::highest, Keep::lowest}) {
        LatticeGrid g = grid_of(l, keep);
        const Point pts[] = {point(l, 0, 0, 0.0), point(l, 0, 1, -0.0), point(l, 0, 0, -0.0), point(l, 0, 1, 0.0)};
        g.add(pts, std::size(pts));
        EXPECT_FALSE(std::signbit(g.at(0, 0)));
        EXPECT_TRUE(std::signbit(g.at(0, 1)));
    }
}

// By hand: 5 x 2 unit cells, 10 at (0,0) and 4 at (1,2), in the ring 7 at
// (-1,1) north and 100 at (2,1) south. NaN elevations change no cell.
TEST(LatticeGrid, FillOnceTheWorkedGrid)
{
    const Lattice l = unit_lattice(5, 2);
    LatticeGrid g = grid_of(l, Keep::highest);
    const Point pts[] = {point(l, 0, 0, 10),  point(l, 1, 2, 4),        point(l, -1, 1, 7),
                         point(l, 2, 1, 100), point(l, 0, 0, no_value), point(l, 0, 4, no_value)};
    g.add(pts, std::size(pts));
    EXPECT_EQ(g.counts().gridded, 4);
    EXPECT_EQ(g.counts().ring_only, 2);
    EXPECT_EQ(g.empty_cells(), 8);
    EXPECT_EQ(g.fill_once(), 6);
    const double expected[2][5] = {
        // (0,1): N, W, SE. (0,2): NW, S; its W was empty as gridded. (0,3): SW. (0,4): no neighbour.
        {10, (7 + 10 + 4) / 3.0, (7 + 4) / 2.0, 4, no_value},
        // (1,0): N, SE. (1,1): NW, E, S. (1,3): W.
        {(10 + 100) / 2.0, (10 + 4 + 100) / 3.0, 4, 4, no_value},
    };
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 5; ++c) {
            const double v = g.row(r)[c];
            EXPECT_TRUE(std::isnan(expected[r][c]) ? std::isnan(v) : v == expected[r][c]) << r << " " << c << " " << v;
        }
    EXPECT_EQ(g.empty_cells(), 2);
    EXPECT_EQ(g.at(-1, 1), 7.0);  // the ring is never filled
    EXPECT_TRUE(std::isnan(g.at(-1, 0)));
}

// Sparse random grids against a fill written from the rule: the sum in the
// order NW, N, NE, W, E, SW, S, SE of the values as gridded. Elevations of
// very different sizes make the order matter, as the sample shows.
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
        long long filled = 0, valued = 0;
        for (std::int64_t r = 0; r < l.rows; ++r)
            for (std::int64_t c = 0; c < l.cols; ++c) {
                std::vector<double> around;
                for (const Cell& n : {Cell{r - 1, c - 1}, Cell{r - 1, c}, Cell{r - 1, c + 1}, Cell{r, c - 1},
                                      Cell{r, c + 1}, Cell{r + 1, c - 1}, Cell{r + 1, c}, Cell{r + 1, c + 1}})
                    if (const auto v = gridded.find(n); v != gridded.end()) around.push_back(v->second);
                if (gridded.count({r, c}) || around.empty()) {
                    valued += gridded.count({r, c}) != 0;
                    continue;
                }
                double sum = around[0], reversed = around.back();
                for (std::size_t k = 1; k < around.size(); ++k) sum += around[k];
                for (std::size_t k = around.size() - 1; k-- > 0;) reversed += around[k];
                order_matters += sum != reversed;
                expected[{r, c}] = sum / static_cast<double>(around.size());
                ++filled;
            }
        ASSERT_EQ(g.fill_once(), filled) << round;
        ASSERT_EQ(values_of(g), expected) << round;
        EXPECT_EQ(g.empty_cells(), l.cols * l.rows - valued - filled);
    }
    EXPECT_GT(order_matters, 20);
}

// Every statistic of every cell, the ring included, against exact
// arithmetic: min, max and count, the mean rounded once, stdev within one
// unit in the last place; the same bytes from the points shuffled and
// handed over in other batches. The cell of 1e8 and 300 times 0.1 has a
// mean that summing in doubles in file order misses. Then the filling: each
// statistic but count from its own neighbours, count never; a cell without
// neighbours nodata.
TEST(LatticeGrid, StatisticsAreExactWhateverTheOrder)
{
    std::mt19937_64 rng(7);
    const Lattice l = unit_lattice(6, 4);
    const std::vector<Statistic> all = {Statistic::min, Statistic::max, Statistic::mean, Statistic::count,
                                        Statistic::stdev};
    // 0.1 first sets the sums' power of two low; 1e8 then takes the width
    // back (every sum shifted right), 0.01 and 3e-3 / 7 lower it again.
    // Beyond the ring, points that no cell shows, nor the sums' width: 1e-300
    // would span more bits than they hold.
    std::vector<Point> points{point(l, 1, 2, 0.1),   point(l, 1, 1, no_value),  point(l, 0, 0, 1e8),
                              point(l, -3, 2, 5.25), point(l, 2, 9, -2400.125), point(l, 7, 1, 1e-300)};
    for (int k = 0; k < 300; ++k) points.push_back(point(l, 0, 0, 0.1));
    // Rows -1 to 1 and one cell of row 2: row 2 is filled from them, row 3 has no neighbour.
    const double magnitudes[] = {0.01, 1.0, 2400.0, -20.0, 1e6, 3e-3};
    for (int k = 0; k < 400; ++k) {
        const bool corner = k % 50 == 0;
        const auto r = corner ? 2 : static_cast<std::int64_t>(rng() % 3) - 1;
        const auto c = corner ? 0 : static_cast<std::int64_t>(rng() % 8) - 1;
        points.push_back(point(l, r, c, magnitudes[rng() % 6] * static_cast<double>(1 + rng() % 1000) / 7.0));
    }
    std::map<Cell, exact_oracle::CellSums> sums;
    Values low, high;
    for (const Point& p : points) {
        if (std::isnan(p.z) || p.y > l.ymax + 1 || p.y < -1 || p.x > l.xmax + 1) continue;
        const Cell cell{l.rows - 1 - static_cast<std::int64_t>(std::floor(p.y)),
                        static_cast<std::int64_t>(std::floor(p.x))};
        sums.emplace(cell, exact_oracle::CellSums{-70, 0, 0, {}}).first->second.add(p.z);
        double& least = low.emplace(cell, p.z).first->second;
        double& most = high.emplace(cell, p.z).first->second;
        least = std::min(least, p.z), most = std::max(most, p.z);
    }
    LatticeGrid g = grid_of(l, Keep::highest, std::nullopt, all), again = grid_of(l, Keep::lowest, std::nullopt, all);
    g.add(points.data(), points.size());
    std::shuffle(points.begin(), points.end(), rng);
    for (std::size_t at = 0, n = 0; at < points.size(); at += n) {
        n = std::min<std::size_t>(1 + rng() % 100, points.size() - at);
        again.add(points.data() + at, n);
    }
    g.settle(), again.settle(2);  // the means on two threads: the same bytes
    EXPECT_EQ(g.counts().outside, 3);
    const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
    for (std::int64_t r = -1; r <= l.rows; ++r)
        for (std::int64_t c = -1; c <= l.cols; ++c) {
            SCOPED_TRACE(testing::Message() << "cell " << r << " " << c);
            for (std::size_t k = 0; k < all.size(); ++k) EXPECT_EQ(bits(g.at(k, r, c)), bits(again.at(k, r, c)));
            // Rows as the writers take them: count's made from the sums, mean's over them.
            for (std::size_t k = 0; r >= 0 && r < l.rows && c >= 0 && c < l.cols && k < all.size(); ++k)
                EXPECT_EQ(bits(g.row(k, r)[c]), bits(g.at(k, r, c)));
            const auto cell = sums.find({r, c});
            if (cell == sums.end()) {
                for (std::size_t k : {0, 1, 2, 4}) EXPECT_TRUE(std::isnan(g.at(k, r, c)));
                EXPECT_EQ(g.at(3, r, c), 0.0);
                continue;
            }
            EXPECT_EQ(g.at(0, r, c), low.at({r, c}));
            EXPECT_EQ(g.at(1, r, c), high.at({r, c}));
            EXPECT_EQ(g.at(3, r, c), static_cast<double>(cell->second.count));
            EXPECT_TRUE(exact_oracle::nearest_mean(cell->second, g.at(2, r, c))) << g.at(2, r, c);
            EXPECT_TRUE(exact_oracle::near_stdev(cell->second, g.at(4, r, c), 1)) << g.at(4, r, c);
        }
    double in_file_order = 1e8;
    for (int k = 0; k < 300; ++k) in_file_order += 0.1;
    EXPECT_NE(in_file_order / 301, g.at(2, 0, 0));
    // The filling, raster by raster, from the values as gridded.
    std::vector<Values> gridded;
    for (std::size_t k = 0; k < all.size(); ++k) {
        Values v;
        for (std::int64_t r = -1; r <= l.rows; ++r)
            for (std::int64_t c = -1; c <= l.cols; ++c)
                if (!std::isnan(g.at(k, r, c))) v[{r, c}] = g.at(k, r, c);
        gridded.push_back(v);
    }
    EXPECT_EQ(g.empty_cells(), 5 + 6);
    EXPECT_EQ(g.fill_once(), 5 + 2);  // row 2 from row 1 (and (2, 0)), (3, 0) and (3, 1) from (2, 0)
    EXPECT_EQ(g.empty_cells(), 4);
    for (std::int64_t r = 2; r < l.rows; ++r)
        for (std::int64_t c = r == 2; c < l.cols; ++c) {
            EXPECT_EQ(g.at(3, r, c), 0.0);
            for (std::size_t k : {0, 1, 2, 4}) {
                double sum = no_value;
                int valued = 0;
                for (const Cell& n : {Cell{r - 1, c - 1}, Cell{r - 1, c}, Cell{r - 1, c + 1}, Cell{r, c - 1},
                                      Cell{r, c + 1}, Cell{r + 1, c - 1}, Cell{r + 1, c}, Cell{r + 1, c + 1}})
                    if (const auto v = gridded[k].find(n); v != gridded[k].end())
                        sum = valued++ == 0 ? v->second : sum + v->second;
                const double expected = sum / valued, v = g.at(k, r, c);
                EXPECT_TRUE(std::isnan(expected) ? std::isnan(v) : v == expected) << k << " " << r << " " << c;
            }
        }
}

// The sums' power of two moves with the elevations as they come: down for
// a lower bit, up again for a far larger value. In every order, a cell of
// one point has that point as its mean and 0 as its deviation: no move may
// cut a bit off a value already summed.
TEST(LatticeGrid, TheSumsPowerOfTwoMovesWithoutLoss)
{
    const Lattice l = unit_lattice(4, 1);
    const std::vector<Statistic> kept = {Statistic::mean, Statistic::stdev};
    std::vector<double> z = {0.5, 0.3, 0.1, 4194304.0};
    std::sort(z.begin(), z.end());
    do {
        SCOPED_TRACE(testing::Message() << z[0] << " " << z[1] << " " << z[2] << " " << z[3]);
        std::vector<Point> points;
        for (std::size_t c = 0; c < z.size(); ++c) points.push_back(point(l, 0, static_cast<std::int64_t>(c), z[c]));
        LatticeGrid g = grid_of(l, Keep::highest, std::nullopt, kept);
        for (const Point& p : points) g.add(&p, 1);
        g.settle();
        for (std::size_t c = 0; c < z.size(); ++c) {
            EXPECT_EQ(g.at(0, 0, static_cast<std::int64_t>(c)), z[c]);
            EXPECT_EQ(g.at(1, 0, static_cast<std::int64_t>(c)), 0.0);
        }
    } while (std::next_permutation(z.begin(), z.end()));
}

// The x87 unit's precision lowered to 53 bits while it lives, as some
// libraries and emulators leave it (where there is no such unit, nothing).
struct X87AtDoublePrecision {
#if defined(__x86_64__) && defined(__GLIBC__)
    fpu_control_t saved = 0;
    X87AtDoublePrecision()
    {
        _FPU_GETCW(saved);
        fpu_control_t lowered = (saved & ~_FPU_EXTENDED) | _FPU_DOUBLE;
        _FPU_SETCW(lowered);
    }
    ~X87AtDoublePrecision() { _FPU_SETCW(saved); }
#endif
};

// The mean's one rounding where the division is hardest: exact ties (to
// even), both signs, next to the largest double, just off a midpoint, and
// a million points whose sums take 114 bits, so that the quotient's bits
// cut off for the count's width decide the last place; each also with the
// processor's long double arithmetic lowered to a double's precision.
TEST(LatticeGrid, MeansRoundOnceAtTheEdgesOfTheDivision)
{
    const double big = std::ldexp(9007199254740991.0, 41), top = std::numeric_limits<double>::max();
    struct Case {
        std::vector<double> z;
        int repeat, scale;  // each value `repeat` times; the oracle's lowest bit
    };
    const Case cases[] = {
        {{1.0, 1.0 + 0x1p-52}, 1, -60},
        {{1.0 + 0x1p-52, 1.0 + 0x1p-51}, 1, -60},
        {{-1.0 - 0x1p-52, -1.0 - 0x1p-51, -1.0 - 0x1p-51}, 1, -60},
        {{top, std::nextafter(top, 0.0)}, 1, 960},
        // Half a unit above 2^59 and 2^-31 more, the 2^-31 among the bits cut.
        {{0x1p60, 0x1p7 + 0x1p-30}, 1, -30},
        {{-0x1p60, -0x1p7 - 0x1p-30}, 3, -30},
        {{big, 1.0, big - std::ldexp(2.0, 41)}, 34953, 0},
        {{3.0, 7.0, 9007199254740991.0}, 33334, -10},
        // 2^-80 above and below a midpoint: in 64 bits the quotient is the
        // midpoint itself, whose tie to even would be wrong both times.
        {{1.0, 2.0, 3 * 0x1p-53 + 3 * 0x1p-80}, 1, -82},
        {{1.0, 2.0, 9 * 0x1p-53 - 3 * 0x1p-80}, 1, -82},
    };
    const Lattice l = unit_lattice(1, 1);
    for (const bool lowered : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.z[0] << " x" << c.repeat << (lowered ? ", x87 at 53 bits" : ""));
            std::optional<X87AtDoublePrecision> precision;
            if (lowered) precision.emplace();
            exact_oracle::CellSums sums{c.scale, 0, 0, {}};
            std::vector<Point> points;
            for (int k = 0; k < c.repeat; ++k)
                for (double z : c.z) points.push_back(point(l, 0, 0, z)), sums.add(z);
            LatticeGrid g = grid_of(l, Keep::highest, std::nullopt, {Statistic::mean});
            g.add(points.data(), points.size());
            g.settle();
            EXPECT_TRUE(exact_oracle::nearest_mean(sums, g.at(0, 0))) << g.at(0, 0);
            EXPECT_EQ(g.row(0, 0)[0], g.at(0, 0));
        }
}

TEST(LatticeGrid, RefusalsInsteadOfACrash)
{
    // (1000 + 2) x (1000 + 4) + 1 doubles: the grid, its ring, the filling's two rows and one spare cell.
    EXPECT_EQ(make_lattice_grid(unit_lattice(1000, 1000), Keep::highest, 8000000).error,
              "a grid of 1000 columns and 1000 rows needs 9 MB of memory, and 8 MB are available");
    EXPECT_TRUE(make_lattice_grid(unit_lattice(1000, 1000), Keep::highest, 9000000).grid.has_value());
    // mean and count: 4 bytes of the count and 16 of the sum, which the
    // means are written over; no raster of their own.
    EXPECT_EQ(make_lattice_grid(unit_lattice(1000, 1000), Keep::highest, 20000000, std::nullopt,
                                {Statistic::mean, Statistic::count})
                  .error,
              "a grid of 1000 columns and 1000 rows needs 21 MB of memory, and 20 MB are available");
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
    // Elevations too far apart in scale for the exact sums: one line, before any wrong mean.
    LatticeGrid summed = grid_of(two, Keep::highest, std::nullopt, {Statistic::mean});
    const Point apart[] = {point(two, 0, 1, 2.5), point(two, 0, 0, 1e-300)};
    EXPECT_EQ(failure_of([&] { summed.add(apart, 2); }),
              "the elevations 1e-300 and 2.5 are too far apart in scale for exact sums: from the lowest bit one "
              "sets to the highest the other does they span 1051 bits, more than the 95 that mean and stdev hold "
              "(min, max and count are not limited)");
}
