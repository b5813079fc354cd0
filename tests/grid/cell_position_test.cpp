#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <random>

#include "grid/cell_position.h"
#include "grid/grid_size.h"
#include "run/fatal.h"
#include "support.h"

TEST(CellPosition, TheWorkedGridExample)
{
    RunState st;
    st.Xmin = 1000, st.Xmax = 1011, st.Ymin = 2000, st.Ymax = 2009, st.pix_size = 2;
    size_grid(st);
    EXPECT_EQ(st.nb_col, 5);  // from 5.5
    EXPECT_EQ(st.nb_lig, 4);  // from 4.5

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

    RunState st;
    st.Xmin = 647378.18, st.Xmax = 651434.18, st.Ymin = 0, st.Ymax = 1, st.pix_size = 1.3;
    size_grid(st);
    EXPECT_EQ(st.nb_col, 3119);
    EXPECT_EQ(static_cast<int>((st.Xmax - st.Xmin) / st.pix_size), 3120);
    std::swap(st.Xmin, st.Ymin);
    std::swap(st.Xmax, st.Ymax);
    size_grid(st);
    EXPECT_EQ(st.nb_lig, 3119);
}

TEST(CellPosition, GridsTooLargeAreRefusedBeforeAnyAllocation)
{
    struct Case {
        double pix;
        const char* why;
    };
    const Case cases[] = {
        {1e-7, "too many for this program"},
        {2e-3, " MB are available"},  // 3e8 x 3e8 cells
    };
    for (const Case& c : cases) {
        RunState st;
        st.Xmin = 480000, st.Xmax = 480600, st.Ymin = 2150000, st.Ymax = 2150600, st.pix_size = c.pix;
        try {
            size_grid(st);
            ADD_FAILURE() << "no refusal at " << c.pix;
        } catch (const Fatal& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find(c.why), std::string::npos) << m;
            EXPECT_NE(m.find("A pixel size of "), std::string::npos) << m;
        }
        EXPECT_EQ(st.dtab, nullptr);
    }
    RunState st;
    st.Xmin = 0, st.Xmax = 300, st.Ymin = 0, st.Ymax = 300.5, st.pix_size = 0.001953125;
    try {
        size_grid(st);
        ADD_FAILURE();
    } catch (const Fatal& e) {
        EXPECT_NE(std::string(e.what()).find("a grid of 153856 rows and 153600 columns"), std::string::npos)
            << e.what();
    }
}

// The double shortcut against the extended-precision definition, on
// positions built to sit on, just beside and far from cell boundaries.
TEST(CellPosition, TheDoubleShortcutAgreesWithTheExtendedDefinition)
{
    const unsigned seed = 1208;
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double sizes[] = {0.25, 0.5, 1.0, 2.0, 0.3, 1.3, 0.03, 0.1, 5.0, 0.7, 3.3};
    long long near_boundary = 0;
    for (int round = 0; round < sweep(4000000); ++round) {
        const double pix = round % 5 == 0 ? 0.01 + unit(rng) * 10 : sizes[rng() % std::size(sizes)];
        double edge = round % 7 == 0 ? unit(rng) * 100 - 50 : 100000 + std::floor(unit(rng) * 9e6) / 100;
        const double k = std::floor(unit(rng) * 20000);
        double x = edge + k * pix;
        switch (rng() % 4) {
        case 0: break;                                               // on a boundary, as double arithmetic puts it
        case 1: x = std::nextafter(x, 1e300); break;                 // one ulp east
        case 2: x = std::nextafter(x, -1e300); break;                // one ulp west
        default: x = edge + unit(rng) * 20000 * pix; break;          // anywhere
        }
        if (x < edge) x = edge;
        const int expected = cell_index(cell_position(edge, x, pix));
        near_boundary += std::fabs(cell_position(edge, x, pix) - std::round(cell_position(edge, x, pix))) < 1e-6;
        ASSERT_EQ(column_of(x, edge, pix), expected)
            << "seed " << seed << " round " << round << std::hexfloat << " edge " << edge << " x " << x << " pix " << pix;
    }
    EXPECT_GT(near_boundary, 1000000);  // the sample really probes the boundaries
}
