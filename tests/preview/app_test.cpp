#include <gtest/gtest.h>

#include <sstream>

#include "preview_app.h"

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
    };
    for (const auto& args : bad)
        EXPECT_THROW(kp::parse_arguments(args), kp::UsageError) << ::testing::PrintToString(args);
}

TEST(Arguments, RunReportsUsageOnStderrWithStatusOne)
{
    std::ostringstream out, err;
    EXPECT_EQ(kp::run_preview({"a_lidar.asc", "--scale", "furlongs"}, out, err), 1);
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
