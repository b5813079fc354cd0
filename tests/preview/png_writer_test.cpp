#include <gtest/gtest.h>

#include "models/model_error.h"
#include "preview/png_writer.h"
#include "test_support.h"

namespace kp = kestranov::preview;
using kp::testing::TempDir;

namespace {

kp::RgbImage pattern(int w, int h)
{
    kp::RgbImage img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.set(x, y,
                    {static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(y * 13),
                     static_cast<std::uint8_t>((x ^ y) & 0xFF)});
    return img;
}

}  // namespace

TEST(PngWriter, RoundTripsEveryPixelAsEightBitRgb)
{
    TempDir dir;
    const kp::RgbImage img = pattern(37, 23);
    kp::write_png(dir / "out.png", img);
    const auto png = kp::testing::read_png(dir / "out.png");
    ASSERT_TRUE(png.has_value());
    EXPECT_TRUE(png->rgb8);
    ASSERT_EQ(png->width, 37);
    ASSERT_EQ(png->height, 23);
    EXPECT_EQ(png->rgb, img.data());
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"out.png"});
}

TEST(PngWriter, ReplacesAnExistingFile)
{
    TempDir dir;
    write_file(dir / "out.png", "old contents");
    kp::write_png(dir / "out.png", pattern(4, 4));
    const auto png = kp::testing::read_png(dir / "out.png");
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(png->width, 4);
}

TEST(PngWriter, MissingDirectoryFailsAndCreatesNothing)
{
    TempDir dir;
    EXPECT_THROW(kp::write_png(dir / "nope" / "out.png", pattern(4, 4)), kestranov::models::ModelError);
    EXPECT_TRUE(names_in(dir.path()).empty());
}

TEST(PngWriter, FailedRenameRemovesTheTemporary)
{
    TempDir dir;
    // A non-empty directory where the picture should go: the final rename fails
    // after the whole PNG has been written to the temporary.
    std::filesystem::create_directory(dir / "out.png");
    write_file(dir / "out.png" / "keep", "x");
    try {
        kp::write_png(dir / "out.png", pattern(8, 8));
        FAIL() << "expected a ModelError";
    } catch (const kestranov::models::ModelError& e) {
        EXPECT_NE(std::string(e.what()).find("out.png"), std::string::npos);
    }
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"out.png"});
}
