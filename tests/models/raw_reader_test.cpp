#include <gtest/gtest.h>

#include <sstream>

#include "files.h"
#include "model_fixtures.h"
#include "models/model_error.h"
#include "models/raw_reader.h"

namespace kp = kestranov::models;

namespace {

std::string read_error(const std::filesystem::path& input)
{
    try {
        kp::read_raw(input);
    } catch (const kp::ModelError& e) {
        return e.what();
    }
    ADD_FAILURE() << "expected a ModelError for " << input;
    return {};
}

std::uint16_t wrap16(std::int64_t v)
{
    std::int64_t m = v % 65536;
    if (m < 0) m += 65536;
    return static_cast<std::uint16_t>(m);
}

}  // namespace

TEST(Raw16Recovery, ValuesAcrossAMultipleOf65536)
{
    EXPECT_EQ(kp::recover_16bit(4464, 60000), 70000);
    EXPECT_EQ(kp::recover_16bit(60000, 60000), 60000);
    EXPECT_EQ(kp::recover_16bit(65535, 60000), 65535);
    EXPECT_EQ(kp::recover_16bit(0, 60000), 65536);
    EXPECT_EQ(kp::recover_16bit(59999, 60000), 60000 + 65535);
}

TEST(Raw16Recovery, NegativeMinimum)
{
    EXPECT_EQ(kp::recover_16bit(wrap16(-500), -500), -500);
    EXPECT_EQ(kp::recover_16bit(wrap16(-1), -500), -1);
    EXPECT_EQ(kp::recover_16bit(1000, -500), 1000);
    EXPECT_EQ(kp::recover_16bit(wrap16(-70000), -70000), -70000);
}

TEST(Raw16Recovery, EveryValueInTheWindowRoundTrips)
{
    for (std::int64_t zmin :
         {std::int64_t{-131072}, std::int64_t{-350}, std::int64_t{0}, std::int64_t{60000}, std::int64_t{1234567}}) {
        for (std::int64_t v = zmin; v < zmin + 65536; v += 7)
            ASSERT_EQ(kp::recover_16bit(wrap16(v), zmin), v) << "zmin " << zmin;
        ASSERT_EQ(kp::recover_16bit(wrap16(zmin + 65535), zmin), zmin + 65535);
    }
}

TEST(RawReader, SixteenBitImageDecodesWrappedValuesInRowOrder)
{
    TempDir dir;
    // 2 rows x 3 columns spanning 60000..70000: some cells wrap past 65536.
    const std::vector<std::int64_t> cm = {60000, 65535, 65536, 70000, 61234, 69999};
    kp::testing::write_raw16(dir / "hill_lidar_m2.raw", 2, 3, 0.5, cm);
    const kp::RawGrid r = kp::read_raw(dir / "hill_lidar_m2.raw");
    EXPECT_EQ(r.descriptor.zmin, 60000);
    EXPECT_EQ(r.descriptor.zmax, 70000);
    EXPECT_EQ(r.descriptor.bytes_per_cell, 2);
    ASSERT_EQ(r.grid.rows, 2u);
    ASSERT_EQ(r.grid.cols, 3u);
    EXPECT_DOUBLE_EQ(r.grid.cellsize, 0.5);
    for (std::size_t i = 0; i < cm.size(); ++i) EXPECT_DOUBLE_EQ(r.grid.z[i], static_cast<double>(cm[i])) << i;
    EXPECT_TRUE(r.warnings.empty());
}

TEST(RawReader, ThirtyTwoBitImageIsSignedLittleEndian)
{
    TempDir dir;
    const std::vector<std::int64_t> mm = {-350, 0, 2240170, -2147483647, 16777217, 258};
    kp::testing::write_raw32(dir / "coast_lidar_m4.raw", 3, 2, 1.0, mm);
    const kp::RawGrid r = kp::read_raw(dir / "coast_lidar_m4.raw");
    ASSERT_EQ(r.grid.rows, 3u);
    ASSERT_EQ(r.grid.cols, 2u);
    for (std::size_t i = 0; i < mm.size(); ++i) EXPECT_DOUBLE_EQ(r.grid.z[i], static_cast<double>(mm[i])) << i;
}

TEST(RawReader, DescriptorCanBeTheFileNamed)
{
    TempDir dir;
    kp::testing::write_raw16(dir / "a_lidar_m2.raw", 1, 2, 1.0, {5, 9});
    const kp::RawGrid r = kp::read_raw(dir / "a_lidar_m2.txt");
    ASSERT_EQ(r.grid.z.size(), 2u);
    EXPECT_DOUBLE_EQ(r.grid.z[1], 9.0);
}

TEST(RawReader, DescriptorWithLfLinesAndNoNotes)
{
    std::istringstream in("4\n5\n2\n-12\n300\n0.250000\n");
    const kp::RawDescriptor d = kp::parse_descriptor(in, "d.txt");
    EXPECT_EQ(d.rows, 4);
    EXPECT_EQ(d.cols, 5);
    EXPECT_EQ(d.bytes_per_cell, 2);
    EXPECT_EQ(d.zmin, -12);
    EXPECT_EQ(d.zmax, 300);
    EXPECT_DOUBLE_EQ(d.cellsize, 0.25);
}

TEST(RawReader, BadDescriptorLinesAreNamed)
{
    const auto msg = [](const std::string& text) -> std::string {
        std::istringstream in(text);
        try {
            kp::parse_descriptor(in, "d_lidar_m2.txt");
        } catch (const kp::ModelError& e) {
            return e.what();
        }
        return "parsed";
    };
    EXPECT_NE(msg("x\r\n5\r\n2\r\n0\r\n9\r\n1.0\r\n").find("line 1"), std::string::npos);
    EXPECT_NE(msg("4\r\n5\r\n3\r\n0\r\n9\r\n1.0\r\n").find("line 3"), std::string::npos);
    EXPECT_NE(msg("4\r\n5\r\n2\r\n0.5\r\n9\r\n1.0\r\n").find("line 4"), std::string::npos);
    EXPECT_NE(msg("4\r\n5\r\n2\r\n0\r\n9\r\n-1\r\n").find("line 6"), std::string::npos);
    EXPECT_NE(msg("4\r\n5\r\n2\r\n0\r\n9\r\n").find("5 lines"), std::string::npos);
    EXPECT_NE(msg("4\r\n5\r\n2\r\n10\r\n9\r\n1.0\r\n").find("exceeds"), std::string::npos);
}

TEST(RawReader, ShortImageIsTruncated)
{
    TempDir dir;
    kp::testing::write_raw16(dir / "s_lidar_m2.raw", 2, 2, 1.0, {1, 2, 3, 4});
    write_file(dir / "s_lidar_m2.raw", std::string(6, '\1'));
    const std::string msg = read_error(dir / "s_lidar_m2.raw");
    EXPECT_NE(msg.find("s_lidar_m2.raw: truncated"), std::string::npos) << msg;
    EXPECT_NE(msg.find("8 bytes"), std::string::npos) << msg;
}

TEST(RawReader, ImageLargerThanDescriptorIsRejected)
{
    TempDir dir;
    kp::testing::write_raw32(dir / "l_lidar_m4.raw", 2, 2, 1.0, {1, 2, 3, 4});
    write_file(dir / "l_lidar_m4.raw", std::string(20, '\0'));
    const std::string msg = read_error(dir / "l_lidar_m4.raw");
    EXPECT_NE(msg.find("does not match"), std::string::npos) << msg;
    EXPECT_NE(msg.find("l_lidar_m4.txt"), std::string::npos) << msg;
}

TEST(RawReader, MissingDescriptorIsNamed)
{
    TempDir dir;
    write_file(dir / "m_lidar_m2.raw", std::string(8, '\0'));
    const std::string msg = read_error(dir / "m_lidar_m2.raw");
    EXPECT_NE(msg.find("m_lidar_m2.txt: descriptor missing"), std::string::npos) << msg;
}

TEST(RawReader, BytesPerCellMustMatchTheName)
{
    TempDir dir;
    // Consistent with its own 4-byte claim, but the name says 16-bit.
    write_file(dir / "b_lidar_m2.raw", std::string(16, '\0'));
    write_file(dir / "b_lidar_m2.txt", kp::testing::descriptor_text(2, 2, 4, 0, 0, 1.0));
    const std::string msg = read_error(dir / "b_lidar_m2.raw");
    EXPECT_NE(msg.find("_m2"), std::string::npos) << msg;
    EXPECT_NE(msg.find("4 bytes per cell"), std::string::npos) << msg;
}

TEST(RawReader, EmptyImageHasNothingToDraw)
{
    TempDir dir;
    write_file(dir / "e_lidar_m4.raw", "");
    write_file(dir / "e_lidar_m4.txt", kp::testing::descriptor_text(0, 7, 4, 0, 0, 1.0));
    EXPECT_NE(read_error(dir / "e_lidar_m4.raw").find("nothing to draw"), std::string::npos);
}

TEST(RawReader, CellsOutsideTheDescriptorRangeRaiseAWarning)
{
    TempDir dir;
    kp::testing::write_raw32(dir / "w_lidar_m4.raw", 1, 3, 1.0, {10, 20, 30});
    write_file(dir / "w_lidar_m4.txt", kp::testing::descriptor_text(1, 3, 4, 10, 25, 1.0));
    const kp::RawGrid r = kp::read_raw(dir / "w_lidar_m4.raw");
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("1 cells"), std::string::npos) << r.warnings[0];
}

TEST(RawDescriptor, CornersAreNarrowedBackInDecimal)
{
    const struct {
        const char* text;
        std::optional<double> extent;
    } cases[] = {
        {"479997.750000", 480000.25},  {"-2.500000", 0.0}, {"-3.000001", -0.500001},
        {"4099997.500000", 4100000.0}, {"1e3", 1002.5},    {"12x", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(kp::narrowed_corner(c.text), c.extent) << c.text;

    std::istringstream without("2\n2\n2\n0\n1\n1.0\n");
    EXPECT_FALSE(kp::parse_descriptor(without, "d.txt").xmin);
    std::istringstream with(kp::testing::descriptor_text(2, 2, 2, 0, 1, 1.0));
    const kp::RawDescriptor d = kp::parse_descriptor(with, "d.txt");
    EXPECT_EQ(d.xmin, kp::testing::fixture_xll);
    EXPECT_EQ(d.ymin, kp::testing::fixture_yll);
}
