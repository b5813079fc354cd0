#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "preview/preview_app.h"
#include "preview/prj_unit.h"

namespace kp = kestranov::preview;

TEST(Arguments, FileScaleAndOutput)
{
    const kp::Options a = kp::parse_arguments({"x_lidar_m2.raw", "--scale", "cm", "-o", "pic.png"});
    EXPECT_EQ(a.input, "x_lidar_m2.raw");
    ASSERT_TRUE(a.scale);
    EXPECT_EQ(a.scale->name, "cm");
    EXPECT_DOUBLE_EQ(a.scale->divisor, 100.0);
    EXPECT_EQ(a.scale->decimals, 2);
    ASSERT_TRUE(a.output);
    EXPECT_EQ(*a.output, "pic.png");

    const kp::Options b = kp::parse_arguments({"--scale=mm", "y_lidar_m4.raw"});
    ASSERT_TRUE(b.scale);
    EXPECT_DOUBLE_EQ(b.scale->divisor, 1000.0);
    EXPECT_FALSE(b.output);

    const kp::Options c = kp::parse_arguments({"z_lidar.asc"});
    EXPECT_FALSE(c.scale);

    const kp::Options d = kp::parse_arguments({"--", "-odd_lidar.asc"});
    EXPECT_EQ(d.input, "-odd_lidar.asc");

    EXPECT_TRUE(kp::parse_arguments({"--help"}).help);
    for (const char* unit : {"m", "dm", "cm", "mm"}) EXPECT_TRUE(kp::scale_unit(unit)) << unit;
    EXPECT_DOUBLE_EQ(kp::scale_unit("dm")->divisor, 10.0);
    EXPECT_DOUBLE_EQ(kp::scale_unit("m")->divisor, 1.0);
}

TEST(Arguments, MalformedCommandLinesAreUsageErrors)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"a.asc", "--frobnicate"},
        {"a.asc", "--scale", "km"},
        {"a.asc", "--scale", "CM"},
        {"a.asc", "--scale"},
        {"a.asc", "-o"},
        {"a.asc", "-o", ""},
        {"a.asc", "b.asc"},
        {"-x", "a.asc"},
        {"--help=yes", "a.asc"},   // a flag takes no =value
        {"a.asc", "--epsg=4326"},  // only kestranov-export takes --epsg
        {"a.asc", "-o=b.png"},     // =value after a long name only
    };
    for (const auto& args : bad)
        EXPECT_THROW(kp::parse_arguments(args), kp::UsageError) << ::testing::PrintToString(args);
}

TEST(Arguments, RunReportsUsageOnStderrWithStatusTwo)
{
    std::ostringstream out, err;
    EXPECT_EQ(kp::run_preview({"a_lidar.asc", "--scale", "furlongs"}, out, err), 2);
    EXPECT_NE(err.str().find("furlongs"), std::string::npos);
    EXPECT_NE(err.str().find("--help shows the usage"), std::string::npos);
    EXPECT_EQ(err.str().find('\n'), err.str().size() - 1);  // one line
    EXPECT_TRUE(out.str().empty());
}

TEST(Naming, DefaultOutputReplacesTheExtension)
{
    EXPECT_EQ(kp::default_output("dir/site_lidar.asc"), "dir/site_lidar.png");
    EXPECT_EQ(kp::default_output("site_lidar_m2.raw"), "site_lidar_m2.png");
    EXPECT_EQ(kp::default_output("a.b/site_lidar_m4.txt"), "a.b/site_lidar_m4.png");
    EXPECT_EQ(kp::default_output("noext"), "noext.png");
}

TEST(Naming, InputKindFollowsTheExtension)
{
    EXPECT_EQ(kp::input_kind("a_lidar.asc"), kp::InputKind::ascii_grid);
    EXPECT_EQ(kp::input_kind("A_LIDAR.ASC"), kp::InputKind::ascii_grid);
    EXPECT_EQ(kp::input_kind("a_lidar_m2.raw"), kp::InputKind::raw_image);
    EXPECT_EQ(kp::input_kind("a_lidar_m4.txt"), kp::InputKind::raw_image);
    EXPECT_FALSE(kp::input_kind("a_lidar.png"));
    EXPECT_FALSE(kp::input_kind("a_lidar"));
}

// A .prj beside the model names the legend's unit: feet for a system in
// feet, metres for one in metres, nothing without a .prj (the models'
// metres then).
TEST(Naming, TheUnitIsThatOfAPrjBesideTheModel)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kestranov-prj-unit-test";
    std::filesystem::create_directories(dir);
    EXPECT_FALSE(kestranov::preview::unit_beside(dir / "none.asc"));
#ifdef KESTRANOV_PREVIEW_GDAL
    const char* feet =
        "PROJCS[\"NAD83 / Oregon GIC Lambert (ft)\",GEOGCS[\"NAD83\",DATUM[\"D_North_American_1983\","
        "SPHEROID[\"GRS_1980\",6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]"
        ","
        "PROJECTION[\"Lambert_Conformal_Conic\"],PARAMETER[\"False_Easting\",1312335.958],"
        "PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\",-120.5],"
        "PARAMETER[\"Standard_Parallel_1\",43.0],PARAMETER[\"Standard_Parallel_2\",45.5],"
        "PARAMETER[\"Latitude_Of_Origin\",41.75],UNIT[\"Foot\",0.3048]]";
    std::ofstream(dir / "ft.prj") << feet;
    ASSERT_TRUE(kestranov::preview::unit_beside(dir / "ft.asc"));
    EXPECT_EQ(kestranov::preview::unit_beside(dir / "ft.asc")->code, "ft");
    // The US survey foot is another foot, and says so.
    const std::string us_feet = std::string(feet).replace(std::string(feet).rfind("UNIT["), std::string::npos,
                                                          "UNIT[\"US survey foot\",0.304800609601219]]");
    std::ofstream(dir / "ftus.prj") << us_feet;
    ASSERT_TRUE(kestranov::preview::unit_beside(dir / "ftus.asc"));
    EXPECT_EQ(kestranov::preview::unit_beside(dir / "ftus.asc")->code, "US survey foot");
    EXPECT_EQ(kestranov::preview::unit_beside(dir / "ftus.asc")->many, "US survey feet");
    // Degrees are no unit of height: a geographic system names none.
    std::ofstream(dir / "deg.prj") << "GEOGCS[\"WGS 84\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
                                      "298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
    ASSERT_TRUE(kestranov::preview::unit_beside(dir / "deg.asc"));
    EXPECT_EQ(kestranov::preview::unit_beside(dir / "deg.asc")->code, "");
    std::ofstream(dir / "broken.prj") << "PROJCS[";
    EXPECT_FALSE(kestranov::preview::unit_beside(dir / "broken.asc"));
#endif
    std::filesystem::remove_all(dir);
}
