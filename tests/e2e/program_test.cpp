#include <gtest/gtest.h>

#include "e2e/program_runner.h"

namespace {

const std::filesystem::path golden = KESTRANOV_TEST_DATA "/golden";

struct GoldenDrive {
    TempDir drive;
    GoldenDrive() { write_file(zone("slope.xyz"), read_file(golden / "slope.xyz")); }
    std::filesystem::path zone(const std::string& rel) const { return drive.path() / "images" / "golden" / rel; }
};

}  // namespace

TEST(Program, GoldenRunToAnAsciiGrid)
{
    GoldenDrive g;
    ProgramRun r = run_program(g.drive.path(), "golden\n1\nslope\n1\n0\nascii\n0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.console, read_file(golden / "ascii.console"));
    EXPECT_EQ(read_file(g.zone("ascii_lidar.asc")), read_file(golden / "ascii_lidar.asc"));
}

TEST(Program, GoldenRunToA16BitRaster)
{
    GoldenDrive g;
    ProgramRun r = run_program(g.drive.path(), "golden\n1\nslope\n1\n1\nraster\n1\n0\n2\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.console, read_file(golden / "raster.console"));
    EXPECT_EQ(read_file(g.zone("raster_lidar_m2.raw")), read_file(golden / "raster_lidar_m2.raw"));
    EXPECT_EQ(read_file(g.zone("raster_lidar_m2.txt")), read_file(golden / "raster_lidar_m2.txt"));
}

// Failures end with status 1 and, with no key to press on a closed input,
// do not wait for one.
TEST(Program, FailuresEndWithStatus1WithoutWaitingAtTheEndOfInput)
{
    {
        GoldenDrive g;
        ProgramRun r = run_program(g.drive.path(), "golden\n2\nslope\nmissing\n1\n0\n");
        EXPECT_EQ(r.status, 1);
        const std::string tail = "\n\n\tFile c:\\images\\golden\\missing.xyz unknown\n";
        ASSERT_GE(r.console.size(), tail.size());
        EXPECT_EQ(r.console.substr(r.console.size() - tail.size()), tail);
    }
    {
        GoldenDrive g;
        ProgramRun r = run_program(g.drive.path(), "golden\n1\nslope\n0.1\n0\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.console.find("Despite an attempt to eliminate the pits"), std::string::npos);
    }
    {
        GoldenDrive g;
        ProgramRun r = run_program(g.drive.path(), "golden\n1\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.console.find("End of console input"), std::string::npos);
    }
}

// The ASCII grid is an ESRI ASCII grid: a GIS reader, where one is
// installed (GDAL's gdalinfo), takes it with every cell and the right size.
TEST(Program, AStandardGisReaderOpensTheAsciiGrid)
{
    if (std::system("command -v gdalinfo >/dev/null 2>&1") != 0) GTEST_SKIP() << "gdalinfo is not installed";
    GoldenDrive g;
    ASSERT_EQ(run_program(g.drive.path(), "golden\n1\nslope\n1\n0\nascii\n0\n").status, 0);
    const std::filesystem::path report = g.drive.path() / "gdalinfo.txt";
    const std::string command =
        "gdalinfo -stats '" + g.zone("ascii_lidar.asc").string() + "' > '" + report.string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << read_file(report);
    const std::string info = read_file(report);
    EXPECT_NE(info.find("Driver: AAIGrid"), std::string::npos) << info;
    EXPECT_NE(info.find("Size is 12, 8"), std::string::npos) << info;
    EXPECT_NE(info.find("Origin = (500000.000000000000000,4100008.000000000000000)"), std::string::npos) << info;
    EXPECT_NE(info.find("STATISTICS_VALID_PERCENT=100"), std::string::npos) << info;
}
