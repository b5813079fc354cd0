#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>

#include "grid/assignment.h"
#include "grid/elim_pit.h"
#include "grid/grid_size.h"
#include "points/extent_pass.h"
#include "support.h"

using namespace kestranov;

namespace {

// The grids after the assignment pass for the given point files; every
// cell, the spare ones too, holds a stray value and flag before it.
GridView assign_files(const std::vector<std::string>& files, double pix, int retorno, CellGrids& grids)
{
    Session s;
    std::vector<std::pair<std::string, std::string>> named;
    for (std::size_t k = 0; k < files.size(); ++k) named.push_back({"f" + std::to_string(k), files[k]});
    s.use_points(named);
    const ConsoleFiles points = console_files(s.st);
    SeenFiles seen;
    const Extents e = console_extent_pass(s.out, points, seen);
    const GridSize size = size_grid(e, pix, 0);
    grids = allocate_grids(size, pix);
    for (int i = 0; i < size.nb_lig + 2; ++i)
        for (int j = 0; j < size.nb_col + 2; ++j) grids.dtab[i][j] = 123.25, grids.tab_util[i][j] = cell_filled;
    const GridView grid{grids.dtab.rows(), grids.tab_util.rows(), size.nb_lig, size.nb_col};
    ConsoleReading lines(s.out, points);
    assignment_pass(lines, points.files, seen, e, pix, retorno, grid);
    return grid;
}

// The model's cells after the assignment pass.
Rows assigned(const std::vector<std::string>& files, double pix, int retorno)
{
    CellGrids grids;
    return values_of(assign_files(files, pix, retorno, grids));
}

}  // namespace

TEST(Assignment, ReturnSelectionKeepsTheHighestOrTheLowestInAnyOrder)
{
    // Three points in cell (1, 1) of a 2 x 2 model, plus edge points fixing the extents.
    std::vector<std::string> pts = {"-0.5 0.5 10.0\n", "-0.3 0.2 12.5\n", "-0.9 0.9 11.0\n"};
    const std::string frame = "-1 1 50\n1 -1 60\n";
    std::sort(pts.begin(), pts.end());
    do {
        const std::string cloud = frame + pts[0] + pts[1] + pts[2];
        EXPECT_EQ(assigned({cloud}, 1.0, 0)[1][1], 12.5) << cloud;
        EXPECT_EQ(assigned({cloud}, 1.0, 1)[1][1], 10.0) << cloud;
        // Split over files, in either order of the files.
        EXPECT_EQ(assigned({pts[0], frame + pts[1] + pts[2]}, 1.0, 0)[1][1], 12.5);
        EXPECT_EQ(assigned({frame + pts[1], pts[2] + pts[0]}, 1.0, 1)[1][1], 10.0);
    } while (std::next_permutation(pts.begin(), pts.end()));
}

TEST(Assignment, EqualElevationsKeepTheFirstDownToTheSignOfZero)
{
    // Points of cell (1, 1) after the frame: the first of equal elevations
    // stays bit for bit; a lone point is taken whatever its value.
    const std::string frame = "-1 1 50\n1 -1 60\n", minus = "-0.5 0.5 -0.0\n", plus = "-0.5 0.5 0.0\n";
    for (const int retorno : {0, 1}) {
        EXPECT_TRUE(std::signbit(assigned({frame + minus + plus}, 1.0, retorno)[1][1]));
        EXPECT_FALSE(std::signbit(assigned({frame + plus, minus}, 1.0, retorno)[1][1]));
        EXPECT_TRUE(std::signbit(assigned({minus + frame}, 1.0, retorno)[1][1]));
        EXPECT_EQ(assigned({frame + "-0.5 0.5 -7.5\n"}, 1.0, retorno)[1][1], -7.5);
    }
}

TEST(Assignment, AssignmentFlagsEveryCellAndLeavesZeroWhereNoPointFell)
{
    // A 2 x 3 model; the points on the southern and eastern edges fall in
    // the spare row and column. Each cell ends flagged hit or empty, and an
    // empty one holds +0.0.
    const bool hit[4][5] = {{0, 0, 0, 1, 0}, {0, 1, 0, 0, 0}, {1, 0, 0, 0, 0}, {0, 0, 0, 0, 0}};
    CellGrids grids;
    const GridView g = assign_files({"0 0 -1\n3 2 5\n0.5 1.5 -0.0\n"}, 1.0, 1, grids);
    ASSERT_EQ(g.nb_lig * 10 + g.nb_col, 23);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 5; ++j) {
            EXPECT_EQ(g.tab_util[i][j], hit[i][j] ? cell_hit : cell_empty) << i << " " << j;
            EXPECT_TRUE(hit[i][j] || std::bit_cast<std::uint64_t>(g.dtab[i][j]) == 0) << i << " " << j;
        }
    EXPECT_EQ(g.dtab[2][0] + g.dtab[0][3], 4.0);
    EXPECT_EQ(count_pits(g), 5);
}

TEST(Assignment, ZeroAndNegativeElevationsAreKeptNotFilled)
{
    // Every cell holds a point; some at 0.0 and below (a coast below the
    // ellipsoid): nothing is a pit, nothing is overwritten.
    const Rows cloud = {{0.5, -1.25, 3}, {-0.75, 2, 0.25}, {4, -3.5, 1}};
    Session s;
    s.put("a.xyz", cloud_for(cloud) + "100000 200003 0.0\n");  // a second point of (0, 0), at 0.0
    ASSERT_EQ(s.run(gridding_answers({"a"}, "1", 1) + "dem\n0\n"), 0) << s.console();
    EXPECT_NE(s.console().find("at the end of the first treatment = 0 \n"), std::string::npos);
    EXPECT_EQ(s.console().find("Elimination"), std::string::npos);
    Rows expected = cloud;
    expected[0][0] = 0.0;  // last return keeps the lower of 0.5 and 0.0
    EXPECT_EQ(asc_values(read_file(s.zone("dem_lidar.asc"))), flat(expected));

    // A pit beside cells at 0.0 takes them into its mean.
    Session p;
    p.put("a.xyz", cloud_for({{6, 6, 6}, {6, 6, 6}, {6, 6, 0}}) + "100000.5 200001.5 0\n100001.5 200002.5 -0.0\n");
    ASSERT_EQ(p.run(gridding_answers({"a"}, "1", 1) + "dem\n0\n"), 0) << p.console();
    EXPECT_EQ(asc_values(read_file(p.zone("dem_lidar.asc"))).back(), 2.0);  // W 0.0, NW 6, N -0.0
}
