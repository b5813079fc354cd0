#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <set>
#include <stdexcept>

#include "preview/bitmap_font.h"
#include "preview/render.h"
#include "preview/shading.h"

namespace kp = kestranov::preview;

namespace {

kp::ElevationGrid grid_from(std::size_t rows, std::size_t cols, double cellsize, auto f)
{
    kp::ElevationGrid g;
    g.rows = rows;
    g.cols = cols;
    g.cellsize = cellsize;
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < cols; ++c) g.z.push_back(f(static_cast<double>(r), static_cast<double>(c)));
    return g;
}

const double kSin45 = std::sin(std::numbers::pi / 4);

}  // namespace

TEST(MapGeometry, LongSideLandsInRangeWithTheSmallestIntegerFactor)
{
    const std::pair<std::size_t, std::size_t> sizes[] = {{1, 1},     {1, 10},    {10, 10},    {37, 599},
                                                         {599, 3},   {600, 600}, {2000, 5},   {2001, 2001},
                                                         {4001, 10}, {10, 4000}, {100000, 3}, {7, 12345}};
    for (const auto& [rows, cols] : sizes) {
        SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(cols));
        const kp::MapGeometry m = kp::map_geometry(rows, cols);
        const int longest = std::max(m.width, m.height);
        EXPECT_GE(longest, kp::kMinLongSide);
        EXPECT_LE(longest, kp::kMaxLongSide);
        ASSERT_GE(m.upscale, 1);
        ASSERT_GE(m.block, 1);
        EXPECT_FALSE(m.upscale > 1 && m.block > 1);
        const std::size_t n = std::max(rows, cols);
        if (m.block > 1) {
            const auto b = static_cast<std::size_t>(m.block);
            EXPECT_EQ(static_cast<std::size_t>(m.width), (cols + b - 1) / b);
            EXPECT_EQ(static_cast<std::size_t>(m.height), (rows + b - 1) / b);
            EXPECT_GT((n + b - 2) / (b - 1), static_cast<std::size_t>(kp::kMaxLongSide)) << "a smaller block fits";
        } else {
            EXPECT_EQ(static_cast<std::size_t>(m.width), cols * static_cast<std::size_t>(m.upscale));
            EXPECT_EQ(static_cast<std::size_t>(m.height), rows * static_cast<std::size_t>(m.upscale));
            if (m.upscale > 1) {
                EXPECT_LT(n * static_cast<std::size_t>(m.upscale - 1), static_cast<std::size_t>(kp::kMinLongSide))
                    << "a smaller factor reaches the minimum";
            }
        }
    }
    EXPECT_THROW(kp::map_geometry(0, 5), std::invalid_argument);
}

TEST(Hillshade, FlatGroundGetsTheSineOfTheSunAltitude)
{
    const auto g = grid_from(3, 3, 1.0, [](double, double) { return 42.0; });
    EXPECT_NEAR(kp::hillshade(g, 1, 1), kSin45, 1e-12);
}

TEST(Hillshade, NorthWestFacingSlopeIsLitAndSouthEastFacingIsDark)
{
    // z rises towards the east (columns) and the south (rows): faces the north-west sun.
    const auto toward = grid_from(5, 5, 2.0, [](double r, double c) { return 2.0 * (r + c); });
    const auto away = grid_from(5, 5, 2.0, [](double r, double c) { return -2.0 * (r + c); });
    // Unit slopes along both axes: normal (-1, 1, 1)/sqrt(3) against the sun (-1/2, 1/2, sqrt(2)/2).
    const double expect = (0.5 + 0.5 + kSin45) / std::sqrt(3.0);
    EXPECT_NEAR(kp::hillshade(toward, 2, 2), expect, 1e-12);
    EXPECT_NEAR(kp::hillshade(away, 2, 2), 0.0, 1e-12);
}

TEST(Hillshade, RowsRunNorthToSouth)
{
    // Rising to the south means the slope faces north, towards the sun's side.
    const auto rising_south = grid_from(5, 5, 1.0, [](double r, double) { return r; });
    const auto rising_north = grid_from(5, 5, 1.0, [](double r, double) { return -r; });
    EXPECT_GT(kp::hillshade(rising_south, 2, 2), kSin45);
    EXPECT_LT(kp::hillshade(rising_north, 2, 2), kSin45);
}

TEST(Hillshade, SlopeAcrossTheSunDirectionOnlyTilts)
{
    // Gradient along the north-east axis: no component towards the sun's azimuth.
    // z = c - r: dz/dx = 1 and dz/dy (north) = +1, so the gradient points north-east.
    const auto g = grid_from(5, 5, 1.0, [](double r, double c) { return c - r; });
    EXPECT_NEAR(kp::hillshade(g, 2, 2), kSin45 / std::sqrt(3.0), 1e-12);
}

TEST(Hillshade, CellSizeScalesTheSlope)
{
    const auto steep = grid_from(3, 3, 1.0, [](double r, double c) { return r + c; });
    const auto gentle = grid_from(3, 3, 10.0, [](double r, double c) { return r + c; });
    const double lit_flat = kSin45;
    EXPECT_GT(kp::hillshade(steep, 1, 1), kp::hillshade(gentle, 1, 1));
    EXPECT_GT(kp::hillshade(gentle, 1, 1), lit_flat);
}

TEST(Hillshade, EdgesAndHolesUseOneSidedDifferencesOnAPlane)
{
    // Every remaining cell keeps at least one neighbour along each axis.
    auto g = grid_from(5, 5, 1.5, [](double r, double c) { return 3.0 * c - 1.0 * r; });
    g.z[2 * 5 + 2] = kp::ElevationGrid::kNoData;
    const double interior = kp::hillshade(g, 2, 3);
    for (std::size_t r = 0; r < g.rows; ++r)
        for (std::size_t c = 0; c < g.cols; ++c)
            if (g.has_data(r, c)) {
                EXPECT_NEAR(kp::hillshade(g, r, c), interior, 1e-12) << r << "," << c;
            }
}

TEST(Hillshade, AxisWithoutNeighboursCountsAsLevel)
{
    // A single row has no north or south neighbour: only the east-west slope counts.
    const auto row = grid_from(1, 4, 1.0, [](double, double c) { return c; });
    const double expect = (0.5 + kSin45) / std::sqrt(2.0);
    for (std::size_t c = 0; c < 4; ++c) EXPECT_NEAR(kp::hillshade(row, 0, c), expect, 1e-12) << c;
}

TEST(Ramp, EndsAndMiddle)
{
    const kp::RgbF lo = kp::ramp_colour(0.0), hi = kp::ramp_colour(1.0);
    EXPECT_DOUBLE_EQ(lo.g, kp::kRamp[0].colour.g);
    EXPECT_DOUBLE_EQ(hi.r, 255.0);
    EXPECT_DOUBLE_EQ(hi.b, 255.0);
    EXPECT_GT(lo.g, lo.r);  // low end is green
    EXPECT_GT(lo.g, lo.b);
    const kp::RgbF mid = kp::ramp_colour(0.5);  // yellow: red and green high, blue low
    EXPECT_GT(mid.r, 200.0);
    EXPECT_GT(mid.g, 200.0);
    EXPECT_LT(mid.b, 150.0);
    const kp::RgbF clamped = kp::ramp_colour(-3.0);
    EXPECT_DOUBLE_EQ(clamped.r, lo.r);
    // Halfway between two stops is their average.
    const kp::RgbF q = kp::ramp_colour((kp::kRamp[1].t + kp::kRamp[2].t) / 2);
    EXPECT_NEAR(q.r, (kp::kRamp[1].colour.r + kp::kRamp[2].colour.r) / 2, 1e-9);
    // No height, however shaded or averaged, takes the nodata colour: the
    // ramp never has more blue than green, and the nodata colour has.
    for (int k = 0; k <= 1000; ++k) EXPECT_LE(kp::ramp_colour(k / 1000.0).b, kp::ramp_colour(k / 1000.0).g) << k;
    EXPECT_GT(kp::kNoDataColour.b, kp::kNoDataColour.g);
}

TEST(ColourCells, LowestAndHighestCellsGetTheRampEndsTimesTheLight)
{
    const auto g = grid_from(3, 3, 1.0, [](double r, double c) { return r == 1 && c == 1 ? 50.0 : 10.0; });
    const kp::CellColours cc = kp::colour_cells(g, kp::elevation_range(g));
    const double light_centre = kp::kAmbient + (1 - kp::kAmbient) * kp::hillshade(g, 1, 1);
    EXPECT_NEAR(cc.rgb[4].r, 255.0 * light_centre, 1e-9);
    const double light_corner = kp::kAmbient + (1 - kp::kAmbient) * kp::hillshade(g, 0, 0);
    EXPECT_NEAR(cc.rgb[0].g, kp::kRamp[0].colour.g * light_corner, 1e-9);
}

TEST(ColourCells, FlatGridAndEmptyCells)
{
    auto g = grid_from(2, 2, 1.0, [](double, double) { return 7.0; });
    g.z[3] = kp::ElevationGrid::kNoData;
    const kp::ElevationRange range = kp::elevation_range(g);
    ASSERT_TRUE(range.any);
    EXPECT_DOUBLE_EQ(range.min, 7.0);
    EXPECT_DOUBLE_EQ(range.max, 7.0);
    const kp::CellColours cc = kp::colour_cells(g, range);
    EXPECT_EQ(cc.valid[3], 0);
    EXPECT_EQ(cc.valid[0], 1);
    EXPECT_FALSE(std::isnan(cc.rgb[0].r));
    g.z = {kp::ElevationGrid::kNoData, kp::ElevationGrid::kNoData, kp::ElevationGrid::kNoData,
           kp::ElevationGrid::kNoData};
    EXPECT_FALSE(kp::elevation_range(g).any);
}

TEST(Resample, UpscaleRepeatsWholeCells)
{
    kp::CellColours cc;
    cc.rows = 2;
    cc.cols = 3;
    for (int i = 0; i < 6; ++i) cc.rgb.push_back({10.0 * i, 100.0 + i, 200.0 - i});
    cc.valid.assign(6, 1);
    cc.valid[4] = 0;
    kp::MapGeometry m;
    m.upscale = 3;
    m.width = 9;
    m.height = 6;
    const kp::RgbImage img = kp::resample_cells(cc, m);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x) {
            const int i = (y / 3) * 3 + x / 3;
            const kp::Rgb8 want = i == 4
                                      ? kp::kNoDataColour
                                      : kp::Rgb8{static_cast<std::uint8_t>(10 * i), static_cast<std::uint8_t>(100 + i),
                                                 static_cast<std::uint8_t>(200 - i)};
            EXPECT_EQ(img.get(x, y), want) << x << "," << y;
        }
}

TEST(Resample, DownscaleAveragesBlocksSkippingEmptyCells)
{
    // 3x3 cells, block 2 -> 2x2 pixels; the right and bottom blocks are partial.
    kp::CellColours cc;
    cc.rows = 3;
    cc.cols = 3;
    const double v[9] = {0, 100, 40, 200, 60, 80, 10, 30, 250};
    for (double x : v) cc.rgb.push_back({x, x / 2, 255 - x});
    cc.valid.assign(9, 1);
    cc.valid[4] = 0;  // excluded from the top-left block's average
    cc.valid[7] = 0;
    cc.valid[6] = 0;  // bottom-left block now entirely empty
    kp::MapGeometry m;
    m.block = 2;
    m.width = 2;
    m.height = 2;
    const kp::RgbImage img = kp::resample_cells(cc, m);
    EXPECT_EQ(img.get(0, 0).r, 100);  // (0 + 100 + 200) / 3
    EXPECT_EQ(img.get(0, 0).g, 50);
    EXPECT_EQ(img.get(1, 0).r, 60);  // (40 + 80) / 2
    EXPECT_EQ(img.get(0, 1), kp::kNoDataColour);
    EXPECT_EQ(img.get(1, 1).r, 250);  // lone corner cell
    EXPECT_EQ(img.get(1, 1).b, 5);
}

TEST(Labels, FormatAndFont)
{
    EXPECT_EQ(kp::format_elevation(2240.17, 2, "m"), "2240.17 m");
    EXPECT_EQ(kp::format_elevation(-3.5, 2, "m"), "-3.50 m");
    EXPECT_EQ(kp::format_elevation(-0.001, 2, "m"), "0.00 m");
    EXPECT_EQ(kp::format_elevation(224017, 0, "units"), "224017 units");
    EXPECT_EQ(kp::format_elevation(-4.0, 0, ""), "-4");
    const std::string huge = kp::format_elevation(-1.5e30, 2, "m");
    EXPECT_LE(huge.size(), 16u) << huge;
    for (const std::string& s : {huge, kp::format_elevation(-1234567.891, 3, "m"),
                                 "max " + kp::format_elevation(1, 0, "units"), std::string("min 0123456789.+-e")})
        for (char ch : s) EXPECT_NE(kp::glyph(ch), nullptr) << "no glyph for '" << ch << "' in " << s;
}

TEST(Labels, GlyphsAreDistinctAndDrawnInsideTheirBox)
{
    std::set<std::uint64_t> seen;  // each glyph's seven rows packed into one number
    for (char ch : std::string("0123456789.-+emaxinuts?fodrvyUS")) {
        const std::uint8_t* g = kp::glyph(ch);
        ASSERT_NE(g, nullptr) << ch;
        std::uint64_t packed = 0;
        for (int row = 0; row < kp::kGlyphHeight; ++row) packed = (packed << 8) | g[row];
        EXPECT_TRUE(seen.insert(packed).second) << "duplicate " << ch;
        for (int row = 0; row < kp::kGlyphHeight; ++row) EXPECT_LT(g[row], 32) << ch;
    }
    const std::string text = "min -3.50 m";
    const int scale = 2;
    kp::RgbImage img(200, 40, {255, 255, 255});
    kp::draw_text(img, 10, 5, text, scale, {0, 0, 0});
    int inked = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.get(x, y).r == 0) {
                ++inked;
                EXPECT_GE(x, 10);
                EXPECT_LT(x, 10 + kp::text_width(text, scale));
                EXPECT_GE(y, 5);
                EXPECT_LT(y, 5 + kp::text_height(scale));
            }
    EXPECT_GT(inked, 0);
    // The last character ('m') reaches the right end of the measured width.
    bool right_edge_inked = false;
    for (int y = 5; y < 5 + kp::text_height(scale); ++y)
        right_edge_inked |= img.get(10 + kp::text_width(text, scale) - 1, y).r == 0;
    EXPECT_TRUE(right_edge_inked);
}

TEST(RenderPreview, CanvasHoldsMapFrameAndLegend)
{
    auto g = grid_from(20, 30, 1.0, [](double r, double c) { return 100.0 + r + c; });
    g.z[0] = kp::ElevationGrid::kNoData;
    const kp::Rendered out = kp::render_preview(g, {"m", 2});
    const kp::MapGeometry& m = out.map;
    EXPECT_EQ(m.upscale, 20);
    EXPECT_GE(out.image.width(), m.x0 + m.width + kp::kMargin);
    EXPECT_GE(out.image.height(), m.y0 + m.height + kp::kMargin);
    EXPECT_EQ(out.image.get(m.x0 + 1, m.y0 + 1), kp::kNoDataColour);
    EXPECT_DOUBLE_EQ(out.range.min, 101.0);
    EXPECT_DOUBLE_EQ(out.range.max, 148.0);
    // Legend right of the map: the ramp's low colour sits below its yellow middle,
    // and there is dark label ink.
    const kp::Rgb8 low{40, 120, 50};
    int ink = 0, low_y = -1, yellow_y = -1;
    for (int y = 0; y < out.image.height(); ++y)
        for (int x = m.x0 + m.width + 1; x < out.image.width(); ++x) {
            const kp::Rgb8 p = out.image.get(x, y);
            if (p.r < 60 && p.g < 60 && p.b < 60) ++ink;
            if (p == low) low_y = y;
            if (p.r > 200 && p.g > 200 && p.b < 150) yellow_y = y;
        }
    EXPECT_GT(ink, 100);
    ASSERT_GE(low_y, 0);
    ASSERT_GE(yellow_y, 0);
    EXPECT_GT(low_y, yellow_y);
    EXPECT_GE(low_y, m.y0 + m.height / 2);

    // The empty cell puts a square swatch of the nodata colour in the legend,
    // below the ramp, on a taller canvas; without one there is none.
    const auto swatch = [](const kp::Rendered& r) {
        int n = 0, x0 = r.image.width(), x1 = -1, y0 = r.image.height(), y1 = -1;
        for (int y = 0; y < r.image.height(); ++y)
            for (int x = r.map.x0 + r.map.width + 1; x < r.image.width(); ++x)
                if (r.image.get(x, y) == kp::kNoDataColour)
                    ++n, x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
        return std::array<int, 4>{n, x1 - x0 + 1, y1 - y0 + 1, y0};
    };
    EXPECT_TRUE(out.nodata_swatch);
    const auto [n, w, h, top] = swatch(out);
    EXPECT_EQ(n, w * h);
    EXPECT_EQ(w, h);
    EXPECT_GT(w, 10);
    EXPECT_GT(top, low_y);
    g.z[0] = 100.0;
    const kp::Rendered plain = kp::render_preview(g, {"m", 2});
    EXPECT_FALSE(plain.nodata_swatch);
    EXPECT_EQ(swatch(plain)[0], 0);
    EXPECT_LT(plain.image.height(), out.image.height());
    kp::ElevationGrid empty = grid_from(1, 1, 1.0, [](double, double) { return kp::ElevationGrid::kNoData; });
    EXPECT_THROW(kp::render_preview(empty, {"m", 2}), std::invalid_argument);
}
