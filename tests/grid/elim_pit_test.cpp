#include <gtest/gtest.h>

#include "grid/elim_pit.h"
#include "support.h"

using namespace kestranov;

namespace {

struct Filled {
    Rows rows;
    long long pits_left;
};

// The message that goes with the filling is the run's: see the runs below.
Filled fill(const Rows& rows)
{
    const TestGrid g(rows);
    elim_pit(g.view());
    return {values_of(g.view()), count_pits(g.view())};
}

}  // namespace

TEST(ElimPit, TheWorkedGrids)
{
    EXPECT_EQ(fill({{100, 100, 100}, {100, 0, 104}, {104, 104, 104}}).rows[1][1], 102.0);
    EXPECT_EQ(fill({{0, 10, 12}, {20, 12, 12}, {12, 12, 12}}).rows[0][0], 14.0);
    {
        Filled f = fill({{8, 8, 8, 8}, {8, 0, 0, 16}, {8, 8, 8, 16}, {8, 8, 8, 8}});
        EXPECT_EQ(f.rows[1][1], 8.0);   // its E neighbour is still a pit
        EXPECT_EQ(f.rows[1][2], 10.0);  // the new 8.0 of its W neighbour counts
    }
    {
        Filled f = fill({{10, 10, 10, 10}, {10, 10, 10, 10}, {10, 30, 10, 10}, {10, 0, 0, 10}});
        EXPECT_EQ(f.rows[3][1], 15.0);
        EXPECT_EQ(f.rows[3][2], 15.0);
    }
    {
        // The corner is visited first, while all its neighbours are pits.
        Filled f = fill({{0, 0, 12}, {0, 0, 12}, {12, 12, 12}});
        EXPECT_EQ(f.rows, (Rows{{0, 12, 12}, {12, 12, 12}, {12, 12, 12}}));
        EXPECT_EQ(f.pits_left, 1);
    }
}

TEST(ElimPit, NarrowGridsAndTheOrderOfTheEdgePasses)
{
    // Two rows: the first-row pass sees the pit it filled just before.
    EXPECT_EQ(fill({{10, 0, 0, 10}, {2, 4, 6, 8}}).rows, (Rows{{10, 5.5, 6.7, 10}, {2, 4, 6, 8}}));
    // Two columns: the same along the first column.
    EXPECT_EQ(fill({{10, 2}, {0, 4}, {0, 6}, {10, 8}}).rows, (Rows{{10, 2}, {5.5, 4}, {6.7, 6}, {10, 8}}));
    // Two by two: only the corners, each seeing the earlier ones.
    EXPECT_EQ(fill({{0, 0}, {0, 9}}).rows, (Rows{{9, 9}, {9, 9}}));
    // One row and one column: only cells of the model enter a mean, never
    // the spare rows and columns below or beside it.
    EXPECT_EQ(fill({{0, 4, 0, 8, 0}}).rows, (Rows{{4, 4, 6, 8, 8}}));
    EXPECT_EQ(fill({{0}, {4}, {0}, {8}, {0}}).rows, (Rows{{4}, {4}, {6}, {8}, {8}}));
    {
        Filled f = fill({{0}});
        EXPECT_EQ(f.pits_left, 1);
        EXPECT_EQ(f.rows, (Rows{{0}}));
    }
    // The last cells of the model border the spare cells.
    EXPECT_EQ(fill({{3, 3, 3}, {3, 3, 3}, {3, 3, 0}}).rows[2][2], 3.0);
}

TEST(ElimPit, AllPitsStayPits)
{
    Filled f = fill({{0, 0, 0}, {0, 0, 0}});
    EXPECT_EQ(f.pits_left, 6);
    EXPECT_EQ(f.rows, (Rows{{0, 0, 0}, {0, 0, 0}}));
}

// A cell that received a point keeps it, whatever its elevation, and enters
// the means of its neighbours like any other value.
TEST(ElimPit, ZeroAndNegativeElevationsAreValues)
{
    TestGrid st({{5, 5, 5}, {5, -2, 5}, {5, 5, 5}});
    st.dtab[0][1] = 0.0;  // a point at elevation 0.0: a value, not a pit
    st.dtab[2][2] = 0.0;
    st.tab_util[2][2] = cell_empty;  // and one real pit
    EXPECT_EQ(count_pits(st.view()), 1);
    elim_pit(st.view());
    Rows g = values_of(st.view());
    EXPECT_EQ(g[1][1], -2.0);
    EXPECT_EQ(g[0][1], 0.0);
    EXPECT_EQ(g[2][2], (5.0 + -2.0 + 5.0) / 3.0);  // W, NW, N
    EXPECT_EQ(count_pits(st.view()), 0);
    EXPECT_EQ(st.tab_util[2][2], cell_filled);
}

// The same grids, built as point clouds and run through the whole program.
TEST(ElimPit, WorkedGridsThroughPointClouds)
{
    struct Case {
        Rows cloud, expected;
    };
    const Case cases[] = {
        {{{8, 8, 8, 8}, {8, 0, 0, 16}, {8, 8, 8, 16}, {8, 8, 8, 8}},
         {{8, 8, 8, 8}, {8, 8, 10, 16}, {8, 8, 8, 16}, {8, 8, 8, 8}}},
        {{{10, 10, 10, 10}, {10, 10, 10, 10}, {10, 30, 10, 10}, {10, 0, 0, 10}},
         {{10, 10, 10, 10}, {10, 10, 10, 10}, {10, 30, 10, 10}, {10, 15, 15, 10}}},
        {{{10, 2}, {0, 4}, {0, 6}, {10, 8}}, {{10, 2}, {5.5, 4}, {6.7, 6}, {10, 8}}},
        {{{100, 100, 100}, {100, 0, 104}, {104, 104, 104}}, {{100, 100, 100}, {100, 102, 104}, {104, 104, 104}}},
        {{{0, 10, 12}, {20, 12, 12}, {12, 12, 12}}, {{14, 10, 12}, {20, 12, 12}, {12, 12, 12}}},
    };
    for (const Case& c : cases) {
        Session s;
        s.put("a.xyz", cloud_for(c.cloud));
        ASSERT_EQ(s.run(gridding_answers({"a"}, "1", 0) + "dem\n0\n"), 0) << s.console();
        EXPECT_EQ(asc_values(read_file(s.zone("dem_lidar.asc"))), flat(c.expected));
        EXPECT_EQ(count_of(s.console(), "\n\tElimination of local pits"), 1u);
    }
}

TEST(ElimPit, ACornerWithoutFilledNeighboursStopsTheRunThroughAPointCloud)
{
    Session s;
    s.put("a.xyz", cloud_for({{0, 0, 12}, {0, 0, 12}, {12, 12, 12}}));
    EXPECT_EQ(s.run(gridding_answers({"a"}, "1", 0)), 1);
    EXPECT_NE(s.console().find("at the end of the first treatment = 4 \n\n\tElimination of local pits\n\n\tDespite"),
              std::string::npos)
        << s.console();
    EXPECT_EQ(s.files_in_zone(), std::vector<std::string>{"a.xyz"});
}
