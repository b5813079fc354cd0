#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "files.h"
#include "model_fixtures.h"
#include "models/asc_reader.h"
#include "models/model_error.h"

namespace kp = kestranov::models;

namespace {

kp::ElevationGrid parse(const std::string& text)
{
    std::istringstream in(text);
    return kp::parse_asc(in, "grid_lidar.asc");
}

// The message of the ModelError `text` raises; fails the test if it parses.
std::string parse_error(const std::string& text)
{
    try {
        parse(text);
    } catch (const kp::ModelError& e) {
        return e.what();
    }
    ADD_FAILURE() << "expected a ModelError";
    return {};
}

const std::string kHeader2x3 =
    "ncols 3\r\nnrows 2\r\nxllcorner 512000.000000\r\nyllcorner 5401000.000000\r\ncellsize 2.500000\r\n"
    "nodata_value -9999.9999\r\n";

}  // namespace

TEST(AscReader, ReadsKestranovLayoutNorthRowFirst)
{
    TempDir dir;
    const std::vector<double> z = {2240.17, -3.5, 0.0, 10.25, 11.0, 12.125};
    kp::testing::write_asc(dir / "site_lidar.asc", 2, 3, 2.5, z);
    const kp::ElevationGrid g = kp::read_asc(dir / "site_lidar.asc");
    ASSERT_EQ(g.rows, 2u);
    ASSERT_EQ(g.cols, 3u);
    EXPECT_DOUBLE_EQ(g.cellsize, 2.5);
    ASSERT_EQ(g.z.size(), 6u);
    for (std::size_t i = 0; i < z.size(); ++i) EXPECT_DOUBLE_EQ(g.z[i], z[i]) << "cell " << i;
    EXPECT_DOUBLE_EQ(g.at(0, 0), 2240.17);  // first value is the north-west corner
    EXPECT_DOUBLE_EQ(g.at(1, 2), 12.125);
}

TEST(AscReader, ToleratesLfLinesAndOneRowPerLine)
{
    const kp::ElevationGrid g = parse(
        "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n"
        "1 2   3\n  4\t5 6\n\n");
    ASSERT_EQ(g.z.size(), 6u);
    for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(g.z[static_cast<std::size_t>(i)], i + 1);
}

TEST(AscReader, AcceptsOtherNumberSpellings)
{
    const kp::ElevationGrid g = parse(kHeader2x3 + "1e2\t+4\t-0.5\t.25\t7\t8");  // no trailing tab either
    EXPECT_DOUBLE_EQ(g.z[0], 100.0);
    EXPECT_DOUBLE_EQ(g.z[1], 4.0);
    EXPECT_DOUBLE_EQ(g.z[2], -0.5);
    EXPECT_DOUBLE_EQ(g.z[3], 0.25);
}

TEST(AscReader, NodataCellsAreEmpty)
{
    const kp::ElevationGrid g = parse(kHeader2x3 + "1.000000\t-9999.999900\t3.000000\t-9999.9999\t5.0\t-9999.99\t");
    EXPECT_FALSE(g.has_data(0, 1));
    EXPECT_FALSE(g.has_data(1, 0));
    EXPECT_TRUE(g.has_data(0, 0));
    // Close to, but not, the nodata value: a real (if odd) elevation.
    ASSERT_TRUE(g.has_data(1, 2));
    EXPECT_DOUBLE_EQ(g.at(1, 2), -9999.99);
}

TEST(AscReader, TooFewValuesIsTruncated)
{
    const std::string msg = parse_error(kHeader2x3 + "1\t2\t3\t4\t5\t");
    EXPECT_NE(msg.find("grid_lidar.asc"), std::string::npos) << msg;
    EXPECT_NE(msg.find("truncated"), std::string::npos) << msg;
    EXPECT_NE(msg.find("6 values"), std::string::npos) << msg;
    EXPECT_NE(msg.find("only 5"), std::string::npos) << msg;
}

TEST(AscReader, HeaderOnlyIsTruncated) { EXPECT_NE(parse_error(kHeader2x3).find("truncated"), std::string::npos); }

TEST(AscReader, TooManyValuesIsAnError)
{
    const std::string msg = parse_error(kHeader2x3 + "1\t2\t3\t4\t5\t6\t7\t");
    EXPECT_NE(msg.find("more values"), std::string::npos) << msg;
    EXPECT_NE(msg.find("'7'"), std::string::npos) << msg;
}

TEST(AscReader, NonNumericTokenIsNamedWithItsPosition)
{
    const std::string msg = parse_error(kHeader2x3 + "1\t2\t3\t4\t12,5\t6\t");
    EXPECT_NE(msg.find("non-numeric"), std::string::npos) << msg;
    EXPECT_NE(msg.find("'12,5'"), std::string::npos) << msg;
    EXPECT_NE(msg.find("value 5"), std::string::npos) << msg;
    EXPECT_NE(msg.find("row 2, column 2"), std::string::npos) << msg;
    EXPECT_NE(msg.find("line 7"), std::string::npos) << msg;
}

TEST(AscReader, NonNumericPositionCountsLinesInMultiLineBodies)
{
    const std::string msg = parse_error(kHeader2x3 + "1 2 3\r\n4 5 x6\r\n");
    EXPECT_NE(msg.find("'x6'"), std::string::npos) << msg;
    EXPECT_NE(msg.find("row 2, column 3"), std::string::npos) << msg;
    EXPECT_NE(msg.find("line 8"), std::string::npos) << msg;
}

TEST(AscReader, InfinityAndNanAreNotElevations)
{
    EXPECT_NE(parse_error(kHeader2x3 + "1\tinf\t3\t4\t5\t6\t").find("'inf'"), std::string::npos);
    EXPECT_NE(parse_error(kHeader2x3 + "1\t2\tnan\t4\t5\t6\t").find("'nan'"), std::string::npos);
}

TEST(AscReader, EmptyGridHasNothingToDraw)
{
    const std::string msg =
        parse_error("ncols 5\r\nnrows 0\r\nxllcorner 0\r\nyllcorner 0\r\ncellsize 1\r\nnodata_value -9999.9999\r\n");
    EXPECT_NE(msg.find("nothing to draw"), std::string::npos) << msg;
    EXPECT_NE(parse_error("ncols 0\r\nnrows 4\r\ncellsize 1\r\n").find("nothing to draw"), std::string::npos);
}

TEST(AscReader, HeaderProblemsAreReported)
{
    EXPECT_NE(parse_error("ncols 3\r\nnrows 2\r\n1 2 3 4 5 6").find("cellsize"), std::string::npos);
    EXPECT_NE(parse_error("ncols three\r\nnrows 2\r\ncellsize 1\r\n1 2 3 4 5 6").find("'three'"), std::string::npos);
    EXPECT_NE(parse_error("ncols -3\r\nnrows 2\r\ncellsize 1\r\n1 2 3").find("ncols"), std::string::npos);
    EXPECT_NE(parse_error("ncols 3\r\nnrows 2\r\ncellsize 0\r\n1 2 3 4 5 6").find("cellsize"), std::string::npos);
    EXPECT_NE(parse_error("ncols 3 4\r\nnrows 2\r\ncellsize 1\r\n1 2 3 4 5 6").find("unexpected text"),
              std::string::npos);
    EXPECT_NE(parse_error("").find("ncols"), std::string::npos);
}

TEST(AscReader, HugeHeaderCountsFailWithoutHugeAllocation)
{
    const std::string msg = parse_error("ncols 2000000000\r\nnrows 2000000000\r\ncellsize 1\r\n1 2 3\t");
    EXPECT_NE(msg.find("truncated"), std::string::npos) << msg;
}

TEST(AscReader, MissingFileIsNamed)
{
    TempDir dir;
    try {
        kp::read_asc(dir / "absent_lidar.asc");
        FAIL() << "expected a ModelError";
    } catch (const kp::ModelError& e) {
        EXPECT_NE(std::string(e.what()).find("absent_lidar.asc"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("no such file"), std::string::npos);
    }
}
