#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <random>
#include <string>

#include "exact_oracle.h"
#include "grid/lattice.h"
#include "support.h"

using namespace kestranov;
using exact_oracle::floor_cell;

namespace {

// The index the cell rule gives along one axis, from the oracle: -1..count
// or beyond_ring.
std::int64_t expected_floor(double v, double origin, double size, std::int64_t count)
{
    const std::int64_t f = floor_cell(v, origin, size);
    return f < -1 || f > count ? beyond_ring : f;
}

// Next to 0 the oracle's 128 bits would not reach from a subnormal to the
// cell size: such coordinates are moved to 1e-12, still far below a cell.
double tame(double v) { return v != 0.0 && std::fabs(v) < 1e-12 ? std::copysign(1e-12, v) : v; }

// The gap from |v| to the next double up.
double ulp_of(double v) { return std::nextafter(std::fabs(v), HUGE_VAL) - std::fabs(v); }

// Beside x by `ulps` ulps.
double moved(double x, int ulps)
{
    for (; ulps != 0; ulps += ulps < 0 ? 1 : -1) x = std::nextafter(x, ulps > 0 ? HUGE_VAL : -HUGE_VAL);
    return tame(x);
}

// A coordinate on, beside or between the edges of an axis: the edge
// origin + k * size as doubles make it, moved by up to two ulps or to
// anywhere in the cell, or an edge exact in real arithmetic (a power-of-two
// multiple of the size).
double near_an_edge(std::mt19937_64& rng, double origin, double size, std::int64_t count)
{
    const double v = origin + (static_cast<double>(rng() % static_cast<std::uint64_t>(count + 7)) - 3) * size;
    const int way = static_cast<int>(rng() % 7);
    if (way == 5) return v + std::uniform_real_distribution<double>(0.0, size)(rng);
    if (way == 6) return origin + std::ldexp(size, static_cast<int>(rng() % 8));
    return moved(v, way - 2);
}

}  // namespace

// The column and the row of points on, one or two ulps beside and between
// cell edges, in the ring and beyond it, against exact arithmetic: columns
// from xmin, rows from ymax, a point on an edge in the cell east or south
// of it. Plain double division disagrees with it somewhere in the sample,
// so the test would catch code that rounded the quotient.
TEST(Lattice, CellsOfPointsAgreeWithExactArithmetic)
{
    const unsigned seed = 20240611;
    std::mt19937_64 rng(seed);
    const struct {
        double origin, size;
    } axes[] = {{480000.01, 0.1},  {480000.0, 0.3}, {2150000.0, 2.5},  {2150000.37, 0.1}, {5e6, 0.1},
                {5e6, 0.3},        {-1234.5, 0.25}, {0.0, 0.1},        {0.07, 0.3},       {489999.99, 1.0},
                {5e6 + 0.01, 2.5}, {-5e6, 0.7},     {480000.01, 0.01}, {1e-3, 0.3}};
    long long naive_wrong = 0, on_exact_edge = 0;
    for (int round = 0; round < sweep(300); ++round) {
        const auto& a = axes[rng() % std::size(axes)];
        const auto& b = axes[rng() % std::size(axes)];
        Lattice l;
        l.xmin = a.origin, l.ymax = b.origin, l.size = a.size;
        l.cols = 1 + static_cast<std::int64_t>(rng() % 400), l.rows = 1 + static_cast<std::int64_t>(rng() % 400);
        l.xmax = l.xmin + static_cast<double>(l.cols) * l.size, l.ymin = l.ymax - static_cast<double>(l.rows) * l.size;
        for (int k = 0; k < 40; ++k) {
            const double x = near_an_edge(rng, l.xmin, l.size, l.cols);
            const double y = -near_an_edge(rng, -l.ymax, l.size, l.rows);  // ymax - k * size and beside it
            const std::int64_t col = expected_floor(x, l.xmin, l.size, l.cols);
            const std::int64_t row = expected_floor(-y, -l.ymax, l.size, l.rows);  // floor((ymax - y) / size)
            ASSERT_EQ(lattice_column(l, x), col) << "seed " << seed << " round " << round << std::hexfloat << " x " << x
                                                 << " xmin " << l.xmin << " size " << l.size;
            ASSERT_EQ(lattice_row(l, y), row) << "seed " << seed << " round " << round << std::hexfloat << " y " << y
                                              << " ymax " << l.ymax << " size " << l.size;
            naive_wrong +=
                static_cast<std::int64_t>(std::floor((x - l.xmin) / l.size)) != floor_cell(x, l.xmin, l.size);
            on_exact_edge += exact_oracle::sign_beyond_edge(x, l.xmin, l.size, floor_cell(x, l.xmin, l.size)) == 0;
        }
    }
    EXPECT_GT(naive_wrong, 50);
    EXPECT_GT(on_exact_edge, 500);

    // Far away, and not numbers at all.
    Lattice l{480000.0, 2150000.0, 480010.0, 2150010.0, 0.1, 100, 100};
    for (const double v : {-1e300, -1e9, 479999.7, 480010.2, 1e9, 1e300, std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_EQ(lattice_column(l, v), beyond_ring) << v;
        EXPECT_EQ(lattice_row(l, v - 330000.0), beyond_ring) << v;
    }
    // The ring: one cell beyond each edge, both ways.
    EXPECT_EQ(lattice_column(l, 479999.95), -1);
    EXPECT_EQ(lattice_column(l, 480010.05), 100);
    EXPECT_EQ(lattice_row(l, 2150010.05), -1);
    EXPECT_EQ(lattice_row(l, 2149999.95), 100);
    // On the edges, where the cells of 0.5 are exact: east and south, as GDAL reads a geotransform.
    const Lattice half{0.0, 0.0, 10.0, 5.0, 0.5, 20, 10};
    EXPECT_EQ(lattice_column(half, 0.0), 0);
    EXPECT_EQ(lattice_column(half, 0.5), 1);
    EXPECT_EQ(lattice_column(half, 10.0), 20);
    EXPECT_EQ(lattice_row(half, 5.0), 0);
    EXPECT_EQ(lattice_row(half, 4.5), 1);
    EXPECT_EQ(lattice_row(half, 0.0), 10);
}

// A window (one tile of a grid cut into tiles) decides every point as the
// whole lattice does, against exact arithmetic from the whole lattice's
// corner, for points on, beside and between the window's own edges; its
// corners are the whole lattice's as GDAL computes them (origin + index *
// size). The rule measured from the window's own rounded corner would put
// some of these points in another cell, so the test would catch it.
TEST(Lattice, AWindowDecidesCellsOnTheWholeLattice)
{
    const unsigned seed = 20250301;
    std::mt19937_64 rng(seed);
    const struct {
        double xmin, ymin, size;
    } wholes[] = {{480000.0, 2150000.0, 0.1}, {480000.01, 2150000.37, 0.3}, {-1234.5, 5e6, 0.1}, {0.07, 0.0, 0.3}};
    long long own_corner_wrong = 0;
    for (int round = 0; round < sweep(200); ++round) {
        const auto& w = wholes[rng() % std::size(wholes)];
        const std::int64_t cols = 20 + static_cast<std::int64_t>(rng() % 3000),
                           rows = 20 + static_cast<std::int64_t>(rng() % 3000);
        const LatticeResult whole = lattice_from_bounds(w.xmin, w.ymin, w.xmin + static_cast<double>(cols) * w.size,
                                                        w.ymin + static_cast<double>(rows) * w.size, w.size);
        ASSERT_EQ(whole.error, "");
        const Lattice& l = whole.lattice;
        const std::int64_t c0 = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(l.cols));
        const std::int64_t r0 = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(l.rows));
        const std::int64_t wc = 1 + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(l.cols - c0));
        const std::int64_t wr = 1 + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(l.rows - r0));
        const LatticeResult window = lattice_window(l, c0, r0, wc, wr);
        ASSERT_EQ(window.error, "");
        const Lattice& t = window.lattice;
        EXPECT_EQ(t.xmin, l.xmin + static_cast<double>(c0) * l.size);
        EXPECT_EQ(t.ymax, l.ymax + static_cast<double>(r0) * -l.size);
        EXPECT_EQ(t.cols, wc);
        EXPECT_EQ(t.rows, wr);
        for (int k = 0; k < 40; ++k) {
            const double x = near_an_edge(rng, t.xmin, l.size, wc);
            const double y = -near_an_edge(rng, -t.ymax, l.size, wr);
            const std::int64_t col = expected_floor(x, l.xmin, l.size, l.cols + 4);  // whole: no ring cut yet
            const std::int64_t row = expected_floor(-y, -l.ymax, l.size, l.rows + 4);
            const std::int64_t want_col = col == beyond_ring || col - c0 < -1 || col - c0 > wc ? beyond_ring : col - c0;
            const std::int64_t want_row = row == beyond_ring || row - r0 < -1 || row - r0 > wr ? beyond_ring : row - r0;
            ASSERT_EQ(lattice_column(t, x), want_col)
                << "seed " << seed << " round " << round << std::hexfloat << " x " << x << " size " << l.size;
            ASSERT_EQ(lattice_row(t, y), want_row)
                << "seed " << seed << " round " << round << std::hexfloat << " y " << y << " size " << l.size;
            own_corner_wrong += want_col != beyond_ring && floor_cell(x, t.xmin, l.size) != want_col;
            own_corner_wrong += want_row != beyond_ring && floor_cell(-y, -t.ymax, l.size) != want_row;
        }
    }
    EXPECT_GT(own_corner_wrong, 20);

    // Inside the whole lattice, or refused naming the option.
    const Lattice l{0.0, 0.0, 10.0, 10.0, 1.0, 10, 10};
    EXPECT_EQ(lattice_window(l, 0, 0, 10, 10).error, "");
    for (const auto& [c, r, wc, wr] :
         {std::array<std::int64_t, 4>{0, 0, 11, 1}, {10, 0, 1, 1}, {0, 9, 1, 2}, {-1, 0, 1, 1}, {0, 0, 0, 1}})
        EXPECT_EQ(lattice_window(l, c, r, wc, wr).error.rfind("--window: ", 0), 0u) << c << " " << r;
}

// The snapped lattice against its definitions, the edges fl(size * k) as
// the doubles' own products make them and the cells by exact arithmetic:
// xmin the largest fl(size * k) at or below the smallest X and the fewest
// columns from there holding the largest X; ymax the smallest fl(size * k)
// at or above the largest Y (or an ulp or so above where no south edge sums
// to it), the fewest rows from there holding the smallest Y, and ymin, the
// product fl(size * (k - rows)) wherever that does, summing to ymax as GDAL
// forms the north edge of an ESRI grid; the extent's corners in the grid's
// first and last columns and rows. Decimal cells at UTM-like, 5e6 and
// negative coordinates and across 0; extents on the doubles nearest
// multiples, one ulp beside them, on exact multiples and decimals.
TEST(Lattice, SnappedExtentsHoldEveryPoint)
{
    const unsigned seed = 7;
    std::mt19937_64 rng(seed);
    const double sizes[] = {0.1, 0.05, 0.3, 2.5, 0.25, 1.0, 0.01, 0.7, 0.2};
    const double places[] = {480000.01, 480000.0,   2150000.0, 5e6,        489999.99, 0.0,
                             -300.7,    2159999.97, -480000.0, -5e6 + 0.3, 1e-3};
    const auto extent_edge = [&](double place, double size) {
        const double k = std::floor(place / size) + static_cast<double>(rng() % 2000);
        switch (rng() % 4) {
            case 0:  // a multiple as doubles round it, or beside it
                return moved(size * k, static_cast<int>(rng() % 3) - 1);
            case 1:
                return std::round((place + std::uniform_real_distribution<double>(0, 300)(rng)) * 100) / 100;
            default:  // exactly a multiple
                return std::ldexp(size, 20) * std::floor(place / std::ldexp(size, 20));
        }
    };
    // fl(size * k), and the largest k with fl(size * k) <= v (< v when `strictly`), by search.
    const auto edge = [](double size, std::int64_t k) { return size * static_cast<double>(k); };
    const auto largest_k = [&](double v, double size, bool strictly) {
        auto k = static_cast<std::int64_t>(std::floor(v / size)) + 3;
        while (strictly ? edge(size, k) >= v : edge(size, k) > v) --k;
        return k;
    };
    long long moved_top = 0, not_product = 0;
    for (int round = 0; round < sweep(1000); ++round) {
        const double size = sizes[rng() % std::size(sizes)];
        double lo[2], hi[2];
        for (int axis = 0; axis < 2; ++axis) {
            const double place = places[rng() % std::size(places)];
            lo[axis] = extent_edge(place, size), hi[axis] = extent_edge(place, size);
            if (lo[axis] > hi[axis]) std::swap(lo[axis], hi[axis]);
            if (rng() % 8 == 0) hi[axis] = lo[axis];  // a single point
        }
        const LatticeResult r = lattice_snapped(lo[0], lo[1], hi[0], hi[1], size);
        ASSERT_EQ(r.error, "") << round;
        const Lattice& l = r.lattice;
        SCOPED_TRACE(::testing::Message() << "seed " << seed << " round " << round << std::hexfloat << " extent "
                                          << lo[0] << " " << lo[1] << " " << hi[0] << " " << hi[1] << " size " << size);
        EXPECT_EQ(l.size, size);
        ASSERT_EQ(l.xmin, edge(size, largest_k(lo[0], size, false)));
        ASSERT_EQ(l.cols, floor_cell(hi[0], l.xmin, size) + 1);
        EXPECT_EQ(l.xmax, l.xmin + static_cast<double>(l.cols) * size);
        EXPECT_EQ(floor_cell(lo[0], l.xmin, size), 0);

        const std::int64_t k = -largest_k(-hi[1], size, false);  // fl(size * -k) = -fl(size * k)
        // Within two steps of the sum's doubles of the product, summing to it where it can.
        const double step = ulp_of(std::max(std::fabs(l.ymin), static_cast<double>(l.rows) * size));
        ASSERT_LT(std::fabs(l.ymax - edge(size, k)), 2 * step);
        EXPECT_EQ(l.ymin + static_cast<double>(l.rows) * size, l.ymax);
        const std::int64_t fewest = floor_cell(-lo[1], -edge(size, k), size) + 1;
        if (edge(size, k - fewest) + static_cast<double>(fewest) * size == edge(size, k) &&
            floor_cell(-hi[1], -edge(size, k), size) == 0) {
            EXPECT_EQ(l.ymax, edge(size, k));
            EXPECT_EQ(l.ymin, edge(size, k - fewest));
        }
        moved_top += l.ymax != edge(size, k);
        not_product += l.ymin != edge(size, k - l.rows);
        // The largest Y in row 0, the smallest in the last row: floor((ymax - y) / size), but for a Y
        // within the rounding of the sums of a row edge, which may leave an end row empty.
        const auto on_an_edge = [&](double y) {
            return floor_cell(-(y + 4 * step), -edge(size, k), size) !=
                   floor_cell(-(y - 4 * step), -edge(size, k), size);
        };
        const bool ends = floor_cell(-hi[1], -l.ymax, size) == 0 && floor_cell(-lo[1], -l.ymax, size) == l.rows - 1;
        EXPECT_TRUE(ends || on_an_edge(hi[1]) || on_an_edge(lo[1]));
        EXPECT_LE(l.rows, fewest + 1);
        // And through the lattice's own rule.
        for (const double x : {lo[0], hi[0]}) {
            EXPECT_GE(lattice_column(l, x), 0);
            EXPECT_LE(lattice_column(l, x), l.cols - 1);
        }
        for (const double y : {lo[1], hi[1]}) {
            EXPECT_GE(lattice_row(l, y), 0);
            EXPECT_LE(lattice_row(l, y), l.rows - 1);
        }
    }
    // The sample reaches south edges that are not products, and a north edge above its product.
    EXPECT_GT(not_product, 0);
    EXPECT_GT(moved_top, 0);

    // By hand: x = 480000 is fl(0.1 * 4800000) itself, the grid's west edge,
    // in column 0; y = 0 on an edge belongs south, so the grid starts a row
    // lower, and the four columns and five rows end at 480000.4 and 0.4 (-0.1
    // + 0.5 in doubles), where GDAL puts them too.
    const Lattice l = lattice_snapped(480000, 0, 480000.35, 0.35, 0.1).lattice;
    EXPECT_EQ(l.xmin, 480000);
    EXPECT_EQ(l.ymin, -0.1);
    EXPECT_EQ(l.xmax, 480000.4);
    EXPECT_EQ(l.ymax, 0.4);
    EXPECT_EQ(l.cols, 4);
    EXPECT_EQ(l.rows, 5);
    EXPECT_EQ(lattice_column(l, 480000), 0);
    EXPECT_EQ(lattice_row(l, 0), 4);
    EXPECT_EQ(lattice_column(l, 480000.35), 3);
    EXPECT_EQ(lattice_row(l, 0.35), 0);
}

TEST(Lattice, TypedBoundsAndTheirRefusals)
{
    struct Accepted {
        double xmin, ymin, xmax, ymax, size;
        std::int64_t cols, rows;
    };
    const Accepted accepted[] = {
        {0, 0, 10, 20, 2, 5, 10},
        {480000, 2150000, 490000, 2160000, 0.1, 100000, 100000},  // 0.1 is a hair above a tenth: 1e-13 cells off
        {480000.01, 2150000.02, 480006.01, 2150004.52, 0.3, 20, 15},
        {0, 0, 10 + 5e-10, 3, 1, 10, 3},  // within 1e-9 of a cell
        {-5e6, 5e6, -5e6 + 2.5, 5e6 + 25, 2.5, 1, 10},
    };
    for (const Accepted& a : accepted) {
        const LatticeResult r = lattice_from_bounds(a.xmin, a.ymin, a.xmax, a.ymax, a.size);
        ASSERT_EQ(r.error, "") << a.xmax;
        EXPECT_EQ(r.lattice.cols, a.cols);
        EXPECT_EQ(r.lattice.rows, a.rows);
        EXPECT_EQ(r.lattice.xmin, a.xmin);
        EXPECT_EQ(r.lattice.ymax, a.ymax);
        // The counts are the whole numbers the oracle finds within 1e-9 of a cell.
        EXPECT_LE(std::fabs(exact_oracle::cells_off(a.xmax, a.xmin, a.size, a.cols)), 1e-9L) << a.xmax;
        EXPECT_LE(std::fabs(exact_oracle::cells_off(a.ymax, a.ymin, a.size, a.rows)), 1e-9L) << a.ymax;
    }

    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    struct Refused {
        double xmin, ymin, xmax, ymax, size;
        const char* error;
    };
    const Refused refused[] = {
        {0, 0, 10.5, 4, 2, "--bounds: the width 10.5 is not a whole number of cells of 2"},
        {0, 0, 10, 4.2, 2, "--bounds: the height 4.2 is not a whole number of cells of 2"},
        {0, 0, 10 + 2e-8, 3, 1, "--bounds: the width 10.00000002 is not a whole number of cells of 1"},
        {0, 0, 0.4, 3, 1, "--bounds: the width 0.4 is not a whole number of cells of 1"},  // no cell at all
        {10, 0, 5, 4, 1, "--bounds: XMAX 5 is not greater than XMIN 10"},
        {0, 4, 5, 4, 1, "--bounds: YMAX 4 is not greater than YMIN 4"},
        {nan, 0, 5, 4, 1, "--bounds: XMIN nan is not a finite number"},
        {0, 0, 5, inf, 1, "--bounds: YMAX inf is not a finite number"},
        {0, -inf, 5, 4, 1, "--bounds: YMIN -inf is not a finite number"},
        {0, 0, 1e301, 4, 1, "--bounds: XMAX 1e+301 is beyond the range -1e300 to 1e300"},
        {0, 0, 5, 4, 0, "the cell size 0 is not a positive finite number"},
        {0, 0, 5, 4, -2, "the cell size -2 is not a positive finite number"},
        {0, 0, 5, 4, nan, "the cell size nan is not a positive finite number"},
        {0, 0, 5, 4, inf, "the cell size inf is not a positive finite number"},
        {0, 0, 5, 4, 1e-301, "the cell size 1e-301 is beyond the range 1e-300 to 1e300"},
        {0, 0, 1e6, 1, 1e-7,
         "--bounds: the width 1e+06 holds more than 1099511627776 cells along a side, too many for this program"},
        {0, 0, 4e9, 4e9, 1, "--bounds: a grid of 4000000000 columns and 4000000000 rows is too large for this program"},
    };
    for (const Refused& r : refused)
        EXPECT_EQ(lattice_from_bounds(r.xmin, r.ymin, r.xmax, r.ymax, r.size).error, r.error);

    // The snapped lattice refuses what it cannot hold in the same words.
    EXPECT_EQ(lattice_snapped(0, 0, 1, 1, -1).error, "the cell size -1 is not a positive finite number");
    EXPECT_EQ(lattice_snapped(0, 0, 1e6, 1, 1e-7).error,
              "the cell size 1e-07 gives more than 1099511627776 cells along a side, too many for this program");
    EXPECT_EQ(lattice_snapped(0, 0, 4e9, 4e9, 1).error,
              "the cell size 1 gives a grid of 4000000001 columns and 4000000001 rows, too large for this program");
    EXPECT_EQ(lattice_snapped(5e6, 0, 5e6 + 1, 1, 1e-9).error,
              "the points' extent lies too far from 0 for cells of 1e-09");
    EXPECT_EQ(lattice_snapped(0, nan, 1, 1, 1).error,
              "the points' extent reaches nan, beyond the range -1e300 to 1e300");
    EXPECT_EQ(lattice_snapped(2, 0, 1, 1, 1).error, "the points' extent 2 0 1 1 is empty");
}
