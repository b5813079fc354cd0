// End-to-end runs of the built kestranov-preview binary on grids written in
// kestranov's exact output formats.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <functional>
#include <thread>

#include "models/model_error.h"
#include "preview/geotiff_model.h"
#include "preview/render.h"
#include "preview/shading.h"
#include "test_support.h"

namespace kp = kestranov::preview;
namespace kt = kestranov::preview::testing;
using kt::TempDir;

namespace {

std::vector<double> make_grid(std::size_t rows, std::size_t cols, const std::function<double(double, double)>& f)
{
    std::vector<double> z;
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < cols; ++c) z.push_back(f(static_cast<double>(r), static_cast<double>(c)));
    return z;
}

// Mean of R+G+B over the map area.
double map_brightness(const kt::Png& png, const kp::MapGeometry& m)
{
    double sum = 0;
    for (int y = m.y0; y < m.y0 + m.height; ++y)
        for (int x = m.x0; x < m.x0 + m.width; ++x) {
            const kp::Rgb8 p = png.at(x, y);
            sum += p.r + p.g + p.b;
        }
    return sum / (static_cast<double>(m.width) * m.height);
}

// Pixel at the centre of cell (r, c) in an upscaled map.
kp::Rgb8 cell_pixel(const kt::Png& png, const kp::MapGeometry& m, int r, int c)
{
    return png.at(m.x0 + c * m.upscale + m.upscale / 2, m.y0 + r * m.upscale + m.upscale / 2);
}

void expect_map_fits(const kt::Png& png, const kp::MapGeometry& m, std::size_t rows, std::size_t cols)
{
    const int longest = std::max(m.width, m.height);
    EXPECT_GE(longest, 600);
    EXPECT_LE(longest, 2000);
    // Integer factors: whole cells repeated, or whole blocks averaged.
    if (m.block > 1) {
        EXPECT_EQ(static_cast<std::size_t>(m.width),
                  (cols + static_cast<std::size_t>(m.block) - 1) / static_cast<std::size_t>(m.block));
    } else {
        EXPECT_EQ(static_cast<std::size_t>(m.width), cols * static_cast<std::size_t>(m.upscale));
        EXPECT_EQ(static_cast<std::size_t>(m.height), rows * static_cast<std::size_t>(m.upscale));
    }
    // The map really has that size in the picture: its frame runs just outside
    // the expected rectangle, and the white page starts right after it.
    ASSERT_GE(png.width, m.x0 + m.width + 2);
    ASSERT_GE(png.height, m.y0 + m.height + 2);
    const kp::Rgb8 page{255, 255, 255};
    for (int y = m.y0; y < m.y0 + m.height; y += 5) {
        EXPECT_EQ(png.at(m.x0 - 1, y), kp::kFrameColour) << y;
        EXPECT_EQ(png.at(m.x0 + m.width, y), kp::kFrameColour) << y;
        EXPECT_EQ(png.at(m.x0 + m.width + 1, y), page) << y;
    }
    for (int x = m.x0; x < m.x0 + m.width; x += 5) {
        EXPECT_EQ(png.at(x, m.y0 - 1), kp::kFrameColour) << x;
        EXPECT_EQ(png.at(x, m.y0 + m.height), kp::kFrameColour) << x;
        EXPECT_EQ(png.at(x, m.y0 + m.height + 1), page) << x;
    }
}

}  // namespace

TEST(Cli, SunFacingSlopeIsBrighterThanTheAwayFacingOne)
{
    TempDir dir;
    const std::size_t rows = 30, cols = 40;
    // Rising to the south-east means facing the north-west sun.
    kt::write_asc(dir / "toward_lidar.asc", rows, cols, 1.0,
                  make_grid(rows, cols, [](double r, double c) { return 100.0 + 0.8 * (r + c); }));
    kt::write_asc(dir / "away_lidar.asc", rows, cols, 1.0,
                  make_grid(rows, cols, [](double r, double c) { return 100.0 - 0.8 * (r + c); }));
    for (const char* name : {"toward_lidar.asc", "away_lidar.asc"}) {
        const kt::RunResult run = kt::run_cli({name}, dir.path());
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const auto toward = kt::read_png(dir / "toward_lidar.png");
    const auto away = kt::read_png(dir / "away_lidar.png");
    ASSERT_TRUE(toward && away);
    EXPECT_TRUE(toward->rgb8);
    const kp::MapGeometry m = kp::map_geometry(rows, cols);
    expect_map_fits(*toward, m, rows, cols);
    expect_map_fits(*away, m, rows, cols);
    const double lit = map_brightness(*toward, m);
    const double shadowed = map_brightness(*away, m);
    EXPECT_GT(lit, 1.5 * shadowed) << "toward " << lit << ", away " << shadowed;
}

TEST(Cli, LargeGridIsAveragedDownIntoRange)
{
    TempDir dir;
    const std::size_t rows = 2300, cols = 3;
    kt::write_asc(dir / "long_lidar.asc", rows, cols, 1.0,
                  make_grid(rows, cols, [](double r, double c) { return r * 0.1 + c; }));
    const kt::RunResult run = kt::run_cli({"long_lidar.asc"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const auto png = kt::read_png(dir / "long_lidar.png");
    ASSERT_TRUE(png);
    const kp::MapGeometry m = kp::map_geometry(rows, cols);
    EXPECT_EQ(m.block, 2);
    EXPECT_EQ(m.height, 1150);
    expect_map_fits(*png, m, rows, cols);
}

TEST(Cli, PeakAndPitShowTheEndsOfTheColourRamp)
{
    TempDir dir;
    const std::size_t n = 21;
    // One cone-shaped peak centred on cell (14, 14); the lowest cell is (0, 0).
    kt::write_asc(dir / "peak_lidar.asc", n, n, 2.0,
                  make_grid(n, n, [](double r, double c) { return 300.0 - 4.0 * std::hypot(r - 14.0, c - 14.0); }));
    const kt::RunResult run = kt::run_cli({"peak_lidar.asc"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const auto png = kt::read_png(dir / "peak_lidar.png");
    ASSERT_TRUE(png);
    const kp::MapGeometry m = kp::map_geometry(n, n);
    ASSERT_GT(m.upscale, 1);

    // Lowest cell: the low-end colour darkened by the shade, i.e. the same channel
    // ratios (up to 8-bit rounding) at no less than the ambient brightness.
    const kp::RgbF low = kp::kRamp[0].colour;
    const kp::Rgb8 pit = cell_pixel(*png, m, 0, 0);
    EXPECT_GE(pit.g, kp::kAmbient * low.g - 1) << int(pit.r) << "," << int(pit.g) << "," << int(pit.b);
    EXPECT_NEAR(pit.r, pit.g * low.r / low.g, 1.0);
    EXPECT_NEAR(pit.b, pit.g * low.b / low.g, 1.0);

    // Highest cell: white scaled by the shade, a neutral grey well above shadow.
    const kp::Rgb8 top = cell_pixel(*png, m, 14, 14);
    EXPECT_NEAR(top.r, top.g, 1.0);
    EXPECT_NEAR(top.g, top.b, 1.0);
    EXPECT_GE(top.r, 150) << int(top.r);

    // A cell halfway up is neither: not grey, and not the pit's green hue.
    const kp::Rgb8 slope = cell_pixel(*png, m, 14, 4);
    EXPECT_GT(std::abs(slope.r - slope.b), 20);
    EXPECT_GT(std::abs(slope.r - slope.g * low.r / low.g), 5.0);
}

namespace {

// Integer centimetres spanning 250.00 .. 780.55 m, so the 16-bit image wraps
// past 65536 while the range still fits in one 65536 window.
std::vector<std::int64_t> centimetre_terrain(std::size_t rows, std::size_t cols)
{
    std::vector<std::int64_t> cm;
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < cols; ++c)
            cm.push_back(25000 + static_cast<std::int64_t>((r * 1931 + c * 977 + (r * c % 89) * 13) % 53056));
    cm[7] = 25000;
    cm[cm.size() - 3] = 78055;
    return cm;
}

}  // namespace

TEST(Cli, AscAndSixteenBitCentimetreImageGiveIdenticalPictures)
{
    TempDir dir;
    const std::size_t rows = 25, cols = 30;
    const std::vector<std::int64_t> cm = centimetre_terrain(rows, cols);
    ASSERT_TRUE(std::any_of(cm.begin(), cm.end(), [](std::int64_t v) { return v >= 65536; }));
    std::vector<double> metres;
    for (std::int64_t v : cm) metres.push_back(static_cast<double>(v) / 100.0);
    kt::write_asc(dir / "same_lidar.asc", rows, cols, 1.0, metres);
    kt::write_raw16(dir / "same_lidar_m2.raw", rows, cols, 1.0, cm);

    const kt::RunResult a = kt::run_cli({"same_lidar.asc"}, dir.path());
    ASSERT_EQ(a.status, 0) << a.err;
    const kt::RunResult b = kt::run_cli({"same_lidar_m2.raw", "--scale", "cm"}, dir.path());
    ASSERT_EQ(b.status, 0) << b.err;

    const auto pa = kt::read_png(dir / "same_lidar.png");
    const auto pb = kt::read_png(dir / "same_lidar_m2.png");
    ASSERT_TRUE(pa && pb);
    ASSERT_EQ(pa->width, pb->width);
    ASSERT_EQ(pa->height, pb->height);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < pa->rgb.size(); ++i) differing += pa->rgb[i] != pb->rgb[i];
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(read_file(dir / "same_lidar.png"), read_file(dir / "same_lidar_m2.png"));

    // Guard against both runs drawing the same wrong thing: the picture must show
    // varied terrain, and reading the image without its scale must not match.
    const kp::MapGeometry m = kp::map_geometry(rows, cols);
    EXPECT_NE(cell_pixel(*pa, m, 0, 7), cell_pixel(*pa, m, static_cast<int>(rows) - 1, static_cast<int>(cols) - 3));
    const kt::RunResult c = kt::run_cli({"same_lidar_m2.raw", "-o", "unscaled.png"}, dir.path());
    ASSERT_EQ(c.status, 0) << c.err;
    const auto pc = kt::read_png(dir / "unscaled.png");
    ASSERT_TRUE(pc);
    EXPECT_NE(pc->rgb, pa->rgb);
}

TEST(Cli, AscAndThirtyTwoBitMillimetreImageDrawTheSameMap)
{
    TempDir dir;
    const std::size_t rows = 12, cols = 17;
    std::vector<std::int64_t> mm;
    std::vector<double> metres;
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < cols; ++c) {
            const std::int64_t v = -3500 + static_cast<std::int64_t>(r * 811 + c * c * 37);
            mm.push_back(v);
            metres.push_back(static_cast<double>(v) / 1000.0);
        }
    kt::write_asc(dir / "mm_lidar.asc", rows, cols, 0.5, metres);
    kt::write_raw32(dir / "mm_lidar_m4.raw", rows, cols, 0.5, mm);
    ASSERT_EQ(kt::run_cli({"mm_lidar.asc"}, dir.path()).status, 0);
    ASSERT_EQ(kt::run_cli({"mm_lidar_m4.raw", "--scale", "mm"}, dir.path()).status, 0);
    const auto pa = kt::read_png(dir / "mm_lidar.png");
    const auto pb = kt::read_png(dir / "mm_lidar_m4.png");
    ASSERT_TRUE(pa && pb);
    // Legends differ on purpose (millimetres get three decimals); the maps must not.
    const kp::MapGeometry m = kp::map_geometry(rows, cols);
    for (int y = m.y0; y < m.y0 + m.height; ++y)
        for (int x = m.x0; x < m.x0 + m.width; ++x) ASSERT_EQ(pa->at(x, y), pb->at(x, y)) << x << "," << y;
}

TEST(Cli, DefaultAndExplicitOutputNames)
{
    TempDir dir;
    kt::write_asc(dir / "site_lidar.asc", 3, 4, 1.0, make_grid(3, 4, [](double r, double c) { return r * c; }));
    kt::write_raw16(dir / "site_lidar_m2.raw", 3, 4, 1.0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    const kt::RunResult a = kt::run_cli({"site_lidar.asc"}, dir.path());
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_NE(a.out.find("site_lidar.png"), std::string::npos);
    const kt::RunResult b = kt::run_cli({"site_lidar_m2.txt", "-o", "chosen.png"}, dir.path());
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"chosen.png", "site_lidar.asc", "site_lidar.png",
                                                              "site_lidar_m2.raw", "site_lidar_m2.txt"}));
    EXPECT_TRUE(kt::read_png(dir / "chosen.png"));
}

namespace {

struct ErrorCase {
    const char* title;
    std::function<void(const TempDir&)> setup;
    std::vector<std::string> args;
    std::vector<std::string> expect_in_stderr;
    bool usage = false;  // usage errors print the usage text after the message
};

void write_ok_asc(const TempDir& d)
{
    kt::write_asc(d / "ok_lidar.asc", 4, 5, 1.0, make_grid(4, 5, [](double r, double c) { return r + 2 * c; }));
}

void write_ok_raw(const TempDir& d)
{
    std::vector<std::int64_t> v(10 * 10);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::int64_t>(i * 31);
    kt::write_raw16(d / "r_lidar_m2.raw", 10, 10, 1.0, v);
}

std::string without_last_values(std::string text, int values)
{
    for (int i = 0; i < values; ++i) text.erase(text.rfind('\t', text.size() - 2) + 1);
    return text;
}

const ErrorCase kErrorCases[] = {
    {"missing asc", [](const TempDir&) {}, {"absent_lidar.asc"}, {"absent_lidar.asc", "no such file"}},
    {"missing raw", [](const TempDir&) {}, {"absent_lidar_m4.raw"}, {"absent_lidar_m4.raw", "no such file"}},
    {"truncated asc",
     [](const TempDir& d) {
         write_file(d / "t_lidar.asc", without_last_values(kt::asc_text(3, 3, 1.0, std::vector<double>(9, 5.25)), 2));
     },
     {"t_lidar.asc"},
     {"t_lidar.asc", "truncated", "9 values", "only 7"}},
    {"truncated raw",
     [](const TempDir& d) {
         write_ok_raw(d);
         const std::string bytes = read_file(d / "r_lidar_m2.raw");
         write_file(d / "r_lidar_m2.raw", bytes.substr(0, bytes.size() - 3));
     },
     {"r_lidar_m2.raw", "--scale", "cm"},
     {"r_lidar_m2.raw", "truncated", "200 bytes"}},
    {"descriptor missing",
     [](const TempDir& d) {
         write_ok_raw(d);
         std::filesystem::remove(d / "r_lidar_m2.txt");
     },
     {"r_lidar_m2.raw"},
     {"r_lidar_m2.txt", "descriptor missing"}},
    {"descriptor does not match image size",
     [](const TempDir& d) {
         write_ok_raw(d);
         write_file(d / "r_lidar_m2.txt", kt::descriptor_text(10, 8, 2, 0, 3069, 1.0));
     },
     {"r_lidar_m2.raw"},
     {"r_lidar_m2.raw", "does not match", "r_lidar_m2.txt"}},
    {"descriptor bytes contradict the name",
     [](const TempDir& d) {
         write_ok_raw(d);
         write_file(d / "r_lidar_m2.txt", kt::descriptor_text(5, 10, 4, 0, 3069, 1.0));
     },
     {"r_lidar_m2.raw"},
     {"r_lidar_m2.txt", "_m2"}},
    {"non-numeric value",
     [](const TempDir& d) {
         std::vector<double> z(12, 1.0);
         z[6] = 1234.5678;
         std::string text = kt::asc_text(3, 4, 1.0, z);
         text.replace(text.find("1234.567800"), 11, "1234,5678");
         write_file(d / "n_lidar.asc", text);
     },
     {"n_lidar.asc"},
     {"n_lidar.asc", "'1234,5678'", "value 7", "row 2, column 3"}},
    {"zero rows",
     [](const TempDir& d) { write_file(d / "z_lidar.asc", kt::asc_text(0, 6, 1.0, {})); },
     {"z_lidar.asc"},
     {"z_lidar.asc", "nothing to draw"}},
    {"every cell empty",
     [](const TempDir& d) { kt::write_asc(d / "e_lidar.asc", 2, 2, 1.0, std::vector<double>(4, NAN)); },
     {"e_lidar.asc"},
     {"e_lidar.asc", "nothing to draw"}},
    {"unknown file type",
     [](const TempDir& d) { write_file(d / "x.dem", "1 2 3"); },
     {"x.dem"},
     {"x.dem", "unrecognised", "or a GeoTIFF or VRT, .tif or .vrt)"}},
#ifdef KESTRANOV_PREVIEW_GDAL
    {"not a raster",
     [](const TempDir& d) { write_file(d / "bad.tif", "II*\0 cut short"); },
     {"bad.tif"},
     {"bad.tif", "GDAL cannot open it as a raster"}},
    // GDAL's own description of a raster stands for a GeoTIFF whose tile
    // table alone would take gigabytes.
    {"band too large",
     [](const TempDir& d) {
         write_file(d / "big.tif",
                    "<VRTDataset rasterXSize=\"2000000000\" rasterYSize=\"2000000000\">"
                    "<VRTRasterBand dataType=\"Float32\" band=\"1\"/></VRTDataset>");
     },
     {"big.tif"},
     {"big.tif", "its band of 2000000000 columns and 2000000000 rows is too large"}},
#else
    {"GeoTIFF without GDAL",
     [](const TempDir& d) { write_file(d / "g.tif", "II*\0"); },
     {"g.tif"},
     {"g.tif", "built without GDAL"}},
#endif
    {"GeoTIFF missing", [](const TempDir&) {}, {"absent.TIFF"}, {"absent.TIFF", "no such file"}},
    {"output directory missing", write_ok_asc, {"ok_lidar.asc", "-o", "nodir/out.png"}, {"nodir/out.png"}},
    {"output would overwrite input", write_ok_asc, {"ok_lidar.asc", "-o", "ok_lidar.asc"}, {"overwrite"}},
    {"unknown option", write_ok_asc, {"ok_lidar.asc", "--colour"}, {"unknown option", "--colour"}, true},
    {"bad scale", write_ok_asc, {"ok_lidar.asc", "--scale", "km"}, {"--scale", "'km'"}, true},
    {"scale without value", write_ok_asc, {"ok_lidar.asc", "--scale"}, {"--scale needs a value"}, true},
    {"no input", write_ok_asc, {}, {"no input file"}, true},
    {"two inputs", write_ok_asc, {"ok_lidar.asc", "ok_lidar.asc"}, {"more than one input"}, true},
};

}  // namespace

TEST(Cli, EveryWrongInputFailsInOneLineAndLeavesNoPicture)
{
    for (const ErrorCase& ec : kErrorCases) {
        SCOPED_TRACE(ec.title);
        TempDir dir;
        ec.setup(dir);
        const auto before = names_in(dir.path());
        std::vector<std::string> contents;
        for (const auto& name : before) contents.push_back(read_file(dir / name));

        const kt::RunResult run = kt::run_cli(ec.args, dir.path());
        EXPECT_EQ(run.status, ec.usage ? 2 : 1) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
        for (const std::string& want : ec.expect_in_stderr)
            EXPECT_NE(run.err.find(want), std::string::npos) << "stderr lacks '" << want << "': " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        if (ec.usage) {
            EXPECT_NE(run.err.find("--help shows the usage"), std::string::npos) << run.err;
        }
        // Nothing created (no picture, no temporary), nothing altered.
        EXPECT_EQ(names_in(dir.path()), before);
        for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(read_file(dir / before[i]), contents[i]);
    }
}

// Under a file-size limit the picture fails with a message and
// leaves nothing; a link is written through and stays a link; a FIFO is
// written into, not replaced by a file.
TEST(Cli, FileSizeLimitLinkAndFifo)
{
    TempDir dir;
    kt::write_asc(dir / "g_lidar.asc", 30, 40, 1.0, make_grid(30, 40, [](double r, double c) { return r * c; }));
    const kt::RunResult limited = kt::run_cli({"g_lidar.asc"}, dir.path(), "ulimit -f 1;");
    EXPECT_EQ(limited.status, 1);
    EXPECT_NE(limited.err.find("write failed"), std::string::npos) << limited.err;
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"g_lidar.asc"});

    std::filesystem::create_symlink("real.png", dir / "link.png");
    ASSERT_EQ(kt::run_cli({"g_lidar.asc", "-o", "link.png"}, dir.path()).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.png"));
    const auto png = kt::read_png(dir / "real.png");
    ASSERT_TRUE(png);

    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    FifoReader reader(dir / "pipe.png");
    const kt::RunResult piped = kt::run_cli({"g_lidar.asc", "-o", "pipe.png"}, dir.path());
    const std::string received = reader.finish();
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "pipe.png"));
    EXPECT_EQ(received, read_file(dir / "real.png"));
}

#ifdef KESTRANOV_GRID_EXE
// The companions read what the command writes: one cloud with a hole of 3 x 3
// cells left empty (--fill none) gridded by kestranov-grid to a GeoTIFF
// without a coordinate system, to one in feet, to an ESRI grid, and as a
// tile plan in feet whose mosaic (a VRT) is drawn once its jobs have run.
// Each picture shows the hole, and only the hole, in the nodata colour, a
// "nodata" swatch, and the unit its file names: none, feet, the metres of a
// grid without a .prj, and feet.
TEST(Cli, KestranovGridOutputsShowTheirHoleAsNodata)
{
    TempDir dir;
    const auto in_hole = [](int r, int c) { return r >= 3 && r <= 5 && c >= 3 && c <= 5; };
    std::string cloud;
    for (int r = 0; r < 8; ++r)  // row 0 the north
        for (int c = 0; c < 10; ++c)
            if (!in_hole(r, c))
                cloud += std::to_string(100.5 + c) + " " + std::to_string(207.5 - r) + " " +
                         std::to_string(50 + c * 0.5 + (7 - r)) + "\n";
    write_file(dir / "c.xyz", cloud);
    const std::vector<std::string> grid = {"--cell", "1", "--fill", "none", "-q", "c.xyz", "-o"};
    const struct {
        std::vector<std::string> extra;
        std::string max_label;
        std::string drawn = "";  // when not the file written
    } outputs[] = {{{"g.tif"}, "max 61.50"},
                   {{"ft.tif", "--srs", "EPSG:2994"}, "max 61.50 ft"},
                   {{"g.asc"}, "max 61.50 m"},
                   {{"plan", "--srs", "EPSG:2994", "--tile-size", "4"}, "max 61.50 ft", "plan/mosaic.vrt"}};
    std::optional<kt::Png> first;
    const kp::MapGeometry m = kp::map_geometry(8, 10);
    for (const auto& o : outputs) {
        SCOPED_TRACE(o.extra[0]);
        std::vector<std::string> args = grid;
        args.insert(args.end(), o.extra.begin(), o.extra.end());
        const kt::RunResult made = kt::run_program(KESTRANOV_GRID_EXE, args, dir.path());
        ASSERT_EQ(made.status, 0) << made.err;
        if (!o.drawn.empty()) {
            ASSERT_EQ(kt::run_program("sh", {"plan/jobs.txt"}, dir.path()).status, 0);
        }
        const kt::RunResult drawn = kt::run_cli({o.drawn.empty() ? o.extra[0] : o.drawn, "-o", "p.png"}, dir.path());
        ASSERT_EQ(drawn.status, 0) << drawn.err;
        EXPECT_EQ(drawn.err, "");
        const auto png = kt::read_png(dir / "p.png");
        ASSERT_TRUE(png);
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 10; ++c)
                EXPECT_EQ(cell_pixel(*png, m, r, c) == kp::kNoDataColour, in_hole(r, c)) << r << "," << c;
        const int legend_x = m.x0 + m.width + 2;
        EXPECT_TRUE(kt::shows_text(*png, legend_x, kp::kNoDataLabel));
        EXPECT_TRUE(kt::shows_text(*png, legend_x, o.max_label));
        EXPECT_TRUE(kt::shows_text(*png, legend_x, std::string(o.max_label).replace(0, 9, "min 50.00")));
        // One grid, one map, whichever file carried it.
        if (!first) first = png;
        for (int y = m.y0; y < m.y0 + m.height; ++y)
            for (int x = m.x0; x < m.x0 + m.width; ++x) ASSERT_EQ(png->at(x, y), first->at(x, y)) << x << "," << y;
    }
    // Read in-process: the corner and cells of the lattice, the unit, and
    // a band refused before its cells are allocated when memory is short.
    const kestranov::models::Model g = kp::read_geotiff_model(dir / "g.tif", 0);
    EXPECT_EQ(g.grid.xll, 100.0);
    EXPECT_EQ(g.grid.yll, 200.0);
    EXPECT_EQ(g.grid.cellsize, 1.0);
    EXPECT_EQ(g.own_unit, "");
    EXPECT_EQ(kp::read_geotiff_model(dir / "ft.tif", 0).own_unit, "ft");
    try {
        kp::read_geotiff_model(dir / "g.tif", 639);
        ADD_FAILURE() << "a band of 640 bytes read in 639";
    } catch (const kestranov::models::ModelError& e) {
        EXPECT_EQ(e.problem(), "its band of 10 columns and 8 rows needs 1 MB of memory, and 0 MB are available");
    }
    EXPECT_EQ(kp::read_geotiff_model(dir / "g.tif", 640).grid.z.size(), 80u);
    // Several bands: the first drawn, with a warning; a scale is no GeoTIFF's.
    write_file(dir / "two.tif",
               "<VRTDataset rasterXSize=\"3\" rasterYSize=\"2\"><VRTRasterBand dataType=\"Float32\" "
               "band=\"1\"/><VRTRasterBand dataType=\"Float32\" band=\"2\"/></VRTDataset>");
    const kt::RunResult two = kt::run_cli({"two.tif", "--scale", "cm"}, dir.path());
    EXPECT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(
        two.err,
        "kestranov-preview: warning: two.tif: has 2 bands; the first is drawn\n"
        "kestranov-preview: warning: --scale cm ignored: a GeoTIFF's or VRT's values are read as they are stored\n");
    // Reading wrote nothing beside the files (no .aux.xml).
    EXPECT_EQ(names_in(dir.path()),
              (std::vector<std::string>{"c.xyz", "ft.tif", "g.asc", "g.tif", "p.png", "plan", "two.png", "two.tif"}));
}
#endif
