#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

using namespace kestranov;

TEST(Treatment, TooSparseACloudEndsWithTheDensityMessage)
{
    Session s;
    // Four corner points of a 10 m square at 1 m cells: almost every cell is empty.
    s.put("a.xyz", "0 0 1\n10 0 2\n0 10 3\n10 10 4\n");
    EXPECT_EQ(s.run(gridding_answers({"a"}, "1", 0) + "k"), 1);
    const std::string expected_tail =
        "\n\tTotal number of pits (empty pixels) at the end of the first treatment = 99 \n"
        "\n\tElimination of local pits"
        "\n\n\tDespite an attempt to eliminate the pits, the density "
        "\n\tof the point cloud is not enough to generate an MDE with "
        "\n\ta pixel size of 1.000000 meter ";
    const std::string t = s.console();
    ASSERT_GE(t.size(), expected_tail.size());
    EXPECT_EQ(t.substr(t.size() - expected_tail.size()), expected_tail);
    EXPECT_EQ(s.files_in_zone(), std::vector<std::string>{"a.xyz"});
    EXPECT_EQ(s.in.get(), EOF);
}

TEST(Treatment, ReportAndNarrowClouds)
{
    // Narrower than one cell in X: no column, no pit, straight to the output.
    Session s;
    s.put("a.xyz", "480000.25 2150000.5 10\n480000.75 2150010.5 12\n");
    ASSERT_EQ(s.run(gridding_answers({"a"}, "2", 0) + "dem\n0\n"), 0);
    const std::string t = s.console();
    EXPECT_NE(t.find("\n\n\tEnd of initial treatment\n\n\tXmin 480000.250000 Xmax 480000.750000 Ymin 2150000.500000 "
                     "Ymax 2150010.500000 \n \n\tTotal number of pits (empty pixels) at the end of the first "
                     "treatment = 0 \n\n\n\tName of the resulting DEM"),
              std::string::npos)
        << t;
    EXPECT_EQ(read_file(s.zone("dem_lidar.asc")),
              "ncols 0\r\nnrows 5\r\nxllcorner 480000.250000\r\nyllcorner 2150000.500000\r\ncellsize 2.000000\r\n"
              "nodata_value -9999.9999\r\n");
}

TEST(Treatment, AGridTooLargeForTheMachineFailsAtOnce)
{
    Session s;
    s.put("a.xyz", "480000 2150000 10\n481000 2151000 12\n");
    EXPECT_EQ(s.run(gridding_answers({"a"}, "0.0000152587890625", 0)), 1);
    EXPECT_NE(s.console().find("A pixel size of 0.000015 meter gives a grid of 65536000 rows and 65536000 columns"),
              std::string::npos)
        << s.console();
    EXPECT_EQ(s.files_in_zone(), std::vector<std::string>{"a.xyz"});
}
