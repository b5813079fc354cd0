#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <random>
#include <vector>

#include "grid/cell_batch.h"
#include "grid/cell_position.h"
#include "grid/grid_size.h"
#include "platform/cpu_features.h"
#include "support.h"

using namespace kestranov;

namespace {
Extents extents(double Xmin, double Xmax, double Ymin, double Ymax)
{
    Extents e;
    e.Xmin = Xmin, e.Xmax = Xmax, e.Ymin = Ymin, e.Ymax = Ymax;
    return e;
}
}  // namespace

TEST(CellPosition, TheWorkedGridExample)
{
    const struct {
        double Xmin, Ymax, pix_size;
    } st{1000, 2009, 2};
    const GridSize size = size_grid(extents(1000, 1011, 2000, 2009), 2, 0);
    EXPECT_EQ(size.nb_col, 5);  // from 5.5
    EXPECT_EQ(size.nb_lig, 4);  // from 4.5

    struct Case {
        double x, y;
        int row, col;
    };
    const Case cases[] = {
        {1003.0, 2006.0, 2, 2}, {1004.0, 2005.0, 2, 2},  // whole-number positions stay in the lower cell
        {1001.0, 2008.0, 1, 1}, {1000.0, 2009.0, 0, 0},  // only the edges reach row 0 and column 0
        {1009.5, 2001.2, 4, 5}, {1011.0, 2000.0, 5, 6},  // spare cells, inside the allocation
    };
    for (const Case& c : cases) {
        EXPECT_EQ(row_of(c.y, st.Ymax, st.pix_size), c.row) << c.x << " " << c.y;
        EXPECT_EQ(column_of(c.x, st.Xmin, st.pix_size), c.col) << c.x << " " << c.y;
    }
}

// Cases found by an exact rational search: the quotient formed with a 64-bit
// significand gives another cell or grid size than the same formula in
// plain doubles. Both differences are shown, so the test fails if the code
// ever slips back to double arithmetic.
TEST(CellPosition, ExtendedPrecisionDecidesCellsAndGridSize)
{
    const double xmin = 3.66, x = 3557.04, pix = 0.03;
    const double plain = (x - xmin) / pix;
    const int plain_cell = static_cast<int>(std::ceil(plain));
    EXPECT_EQ(column_of(x, xmin, pix), 118446);
    EXPECT_EQ(plain_cell, 118447);
    EXPECT_EQ(row_of(xmin, x, pix), 118446);  // rows measure from Ymax the same way

    const Extents wide = extents(647378.18, 651434.18, 0, 1);
    EXPECT_EQ(size_grid(wide, 1.3, 0).nb_col, 3119);
    EXPECT_EQ(static_cast<int>((wide.Xmax - wide.Xmin) / 1.3), 3120);
    EXPECT_EQ(size_grid(extents(0, 1, 647378.18, 651434.18), 1.3, 0).nb_lig, 3119);
}

TEST(CellPosition, GridsTooLargeAreRefusedBeforeAnyAllocation)
{
    // The available memory is given, so that the refusal does not depend
    // on the machine the test runs on.
    struct Case {
        Extents e;
        double pix;
        std::uint64_t available;
        const char* why;
    };
    const Case cases[] = {
        {extents(480000, 480600, 2150000, 2150600), 1e-7, 0,
         "a grid of 6000000000 rows and 6000000000 columns: too many for this program"},
        {extents(480000, 480600, 2150000, 2150600), 2e-3, 1ull << 36,
         "a grid of 299999 rows and 299999 columns: it needs "},
        {extents(0, 300, 0, 300.5), 0.001953125, 1u << 30, "a grid of 153856 rows and 153600 columns: it needs "},
        {extents(0, 300, 0, 300.5), 0.001953125, 1u << 30, " MB of memory, and 1073 MB are available"},
    };
    for (const Case& c : cases) {
        const std::string m = failure_of([&] { size_grid(c.e, c.pix, c.available); });
        EXPECT_NE(m.find(c.why), std::string::npos) << m;
        EXPECT_NE(m.find("A pixel size of "), std::string::npos) << m;
    }
    // The same grid fits when the memory is there.
    EXPECT_EQ(size_grid(extents(0, 300, 0, 300.5), 0.001953125, 1ull << 40).nb_lig, 153856);
}

// The double shortcut against the extended-precision definition, on
// positions built to sit on, just beside and far from cell boundaries.
TEST(CellPosition, TheDoubleShortcutAgreesWithTheExtendedDefinition)
{
    const unsigned seed = 1208;
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double sizes[] = {0.25, 0.5, 1.0, 2.0, 0.3, 1.3, 0.03, 0.1, 5.0, 0.7, 3.3};
    long long near_boundary = 0, exact = 0;
    for (int round = 0; round < sweep(4000000); ++round) {
        const double pix = round % 5 == 0 ? 0.01 + unit(rng) * 10 : sizes[rng() % std::size(sizes)];
        double edge = round % 7 == 0 ? unit(rng) * 100 - 50 : 100000 + std::floor(unit(rng) * 9e6) / 100;
        const double k = std::floor(unit(rng) * 20000);
        double x = edge + k * pix;
        switch (rng() % 4) {
            case 0:
                break;  // on a boundary, as double arithmetic puts it
            case 1:
                x = std::nextafter(x, 1e300);
                break;  // one ulp east
            case 2:
                x = std::nextafter(x, -1e300);
                break;  // one ulp west
            default:
                x = edge + unit(rng) * 20000 * pix;
                break;  // anywhere
        }
        if (x < edge) x = edge;
        const int expected = cell_index(cell_position(edge, x, pix));
        near_boundary += std::fabs(cell_position(edge, x, pix) - std::round(cell_position(edge, x, pix))) < 1e-6;
        ASSERT_EQ(column_of(x, edge, pix), expected) << "seed " << seed << " round " << round << std::hexfloat
                                                     << " edge " << edge << " x " << x << " pix " << pix;
        // The exact rule, where it claims to hold (a power-of-two size, the
        // distances within a factor of two), both ways.
        const ExactCells rule = exact_cells(edge, x, edge, x, pix);
        if (rule.exact) {
            ++exact;
            ASSERT_EQ(exact_cell(edge, x, rule.inverse), expected) << round << std::hexfloat << " " << edge << " " << x;
            ASSERT_EQ(exact_cell(edge, x, rule.inverse), cell_index(cell_position(edge, x, pix))) << round;
        }
    }
    EXPECT_GT(near_boundary, 1000000);  // the sample really probes the boundaries
    EXPECT_GT(exact, 500000);
}

// The cells of a batch eight at a time are those of exact_cell one at a
// time, on and next to cell boundaries, and the first point outside the
// extents is found whichever of the eight it is.
TEST(CellPosition, EightAtATimeIsOneAtATime)
{
    if (!vector_path_available(VectorPath::avx512)) GTEST_SKIP() << "this processor has no AVX-512";
    std::mt19937_64 rng(77);
    const int rows = 600, cols = 500;
    std::vector<double> cells(static_cast<std::size_t>(rows + 2) * (cols + 2));
    std::vector<double*> dtab;
    for (int i = 0; i < rows + 2; ++i) dtab.push_back(cells.data() + static_cast<std::size_t>(i) * (cols + 2));
    for (const double pix : {1.0, 0.5, 2.0}) {
        const Extents e{480000.0, 480000.0 + cols * pix, 2150000.0, 2150000.0 + rows * pix, -4.0, 2400.0};
        const double inverse = exact_cells(e.Xmin, e.Xmax, e.Ymin, e.Ymax, pix).inverse;
        for (int round = 0; round < 200; ++round) {
            std::vector<Point> pts(1 + rng() % 100);
            for (Point& p : pts) {
                p = {e.Xmin + static_cast<double>(rng() % (cols + 1)) * pix,
                     e.Ymin + static_cast<double>(rng() % (rows + 1)) * pix, -4.0 + static_cast<double>(rng() % 2404)};
                if (rng() % 3 == 0) p.x = std::min(e.Xmax, std::nextafter(p.x, rng() % 2 ? 1e300 : -1e300));
                if (rng() % 3 == 0) p.y = std::max(e.Ymin, std::nextafter(p.y, rng() % 2 ? 1e300 : -1e300));
                p.x = std::max(p.x, e.Xmin), p.y = std::min(p.y, e.Ymax);
            }
            const std::size_t outside = rng() % (pts.size() + 10);  // beyond the batch: none
            if (outside < pts.size()) (rng() % 2 ? pts[outside].y : pts[outside].z) += 1e4;
            std::vector<double*> cell(pts.size());
            const std::size_t placed =
                place_exact_vector(VectorPath::avx512, pts.data(), pts.size(), e, inverse, dtab.data(), cell.data());
            for (std::size_t k = 0; k < placed; ++k)
                ASSERT_EQ(cell[k], dtab[static_cast<std::size_t>(exact_cell(pts[k].y, e.Ymax, inverse))] +
                                       exact_cell(e.Xmin, pts[k].x, inverse))
                    << pix << " " << round << " " << k;
            // Whole eights are placed, up to the one holding the point outside.
            EXPECT_EQ(placed, std::min(outside, pts.size()) / 8 * 8);
        }
    }
}
