// kestranov-export run as a user runs it, its GeoTIFFs read back through GDAL.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <sstream>

#include "export/band_cells.h"
#include "export/geotiff_readback.h"
#include "files.h"
#include "model_fixtures.h"

namespace fs = std::filesystem;
namespace fx = kestranov::models::testing;

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

// `program` with `args` in `dir`, after the shell text `before` ("ulimit -f 1;").
Outcome run(const char* program, const std::vector<std::string>& args, const fs::path& dir,
            const std::string& stdin_text = "", const std::string& before = "")
{
    const fs::path in = dir.string() + ".in", out = dir.string() + ".out", err = dir.string() + ".err";
    write_file(in, stdin_text);
    // Appended piecewise: GCC 12 warns spuriously about "literal" + std::string&&.
    std::string cmd = "cd ";
    for (const std::string& part :
         {shell_quoted(dir.string()), std::string(" && "), before, std::string(" exec "), shell_quoted(program)})
        cmd += part;
    for (const std::string& a : args) {
        cmd += ' ';
        cmd += shell_quoted(a);
    }
    for (const auto& [redirect, file] : {std::pair{" <", &in}, std::pair{" >", &out}, std::pair{" 2>", &err}}) {
        cmd += redirect;
        cmd += shell_quoted(file->string());
    }
    const int raw = std::system(cmd.c_str());
    Outcome r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(out), read_file(err)};
    fs::remove(in), fs::remove(out), fs::remove(err);
    return r;
}

Outcome export_run(const std::vector<std::string>& args, const fs::path& dir, const std::string& before = "")
{
    return run(KESTRANOV_EXPORT_EXE, args, dir, "", before);
}

// The values of an ASCII grid's body as a GIS reads them: each text rounded
// to a Float32.
std::vector<float> asc_values(const fs::path& asc)
{
    std::istringstream in(read_file(asc));
    std::string word;
    for (int k = 0; k < 12; ++k) in >> word;  // six header lines, a key and a value each
    std::vector<float> z;
    while (in >> word) z.push_back(static_cast<float>(std::strtod(word.c_str(), nullptr)));
    return z;
}

// One cloud gridded by the program to an ASCII grid and to a 16-bit
// centimetre image. Every cell of the 20 x 20 grid holds one point, so no
// cell is a mean; the elevations are quarter metres from 600 to 699.75 m, so
// the centimetre values cross 65536 and the 16-bit image stores them wrapped.
class SameRun : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        drive_ = new TempDir();
        const fs::path folder = drive_->path() / "images" / "site";
        fs::create_directories(folder);
        std::string cloud;
        for (int i = 0; i < 20; ++i)
            for (int j = 0; j < 20; ++j)
                cloud += std::to_string(481000 + i) + " " + std::to_string(2150000 + j) + " " +
                         std::to_string(600 + ((i * 7 + j * 13) % 400) * 0.25) + "\n";
        write_file(folder / "cloud.xyz", cloud);
        // folder, one file, its name, 1 m cells, first return, model name, format [, 16 bits, cm]
        ascii_ = run(KESTRANOV_EXE, {}, drive_->path(), "site\n1\ncloud\n1\n0\ndem\n0\n");
        raster_ = run(KESTRANOV_EXE, {}, drive_->path(), "site\n1\ncloud\n1\n0\ndem\n1\n0\n2\n");
    }
    static void TearDownTestSuite() { delete drive_; }

    static fs::path folder() { return drive_->path() / "images" / "site"; }

    static TempDir* drive_;
    static Outcome ascii_, raster_;
};
TempDir* SameRun::drive_ = nullptr;
Outcome SameRun::ascii_, SameRun::raster_;

TEST_F(SameRun, BothFormatsExportToTheAsciiGridsCellsAndGeoreference)
{
    ASSERT_EQ(ascii_.status, 0) << ascii_.out;
    ASSERT_EQ(raster_.status, 0) << raster_.out;
    // The descriptor's maximum (line 5) beyond 65535: the image holds wrapped values.
    std::istringstream descriptor(read_file(folder() / "dem_lidar_m2.txt"));
    long long line[5] = {};
    for (long long& v : line) descriptor >> v;
    ASSERT_GT(line[4], 65535);

    const Outcome a = export_run({"dem_lidar.asc"}, folder());
    const Outcome r = export_run({"dem_lidar_m2.raw", "--scale", "cm", "-o", "raster.tif"}, folder());
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(r.status, 0) << r.err;
    // The console's metres are not contradicted: only the missing system is noted.
    EXPECT_EQ(a.err,
              "kestranov-export: note: dem_lidar.tif has no coordinate system: the model files hold none (give "
              "--epsg CODE to write one)\n");

    const auto asc = read_geotiff((folder() / "dem_lidar.asc").string());  // GDAL's own reading of the grid
    const auto from_asc = read_geotiff((folder() / "dem_lidar.tif").string());
    const auto from_raw = read_geotiff((folder() / "raster.tif").string());
    ASSERT_TRUE(asc && from_asc && from_raw);
    const std::vector<float> expected = asc_values(folder() / "dem_lidar.asc");
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(asc->cols) * static_cast<std::size_t>(asc->rows));
    // Without a coordinate system nothing says the unit: the summary names none.
    const std::string cells = std::to_string(asc->cols) + "x" + std::to_string(asc->rows) + " cells, Float32)\n";
    EXPECT_EQ(a.out, "wrote dem_lidar.tif (" + cells);
    EXPECT_EQ(r.out, "wrote raster.tif (" + cells);
    for (const GeoTiffContents* g : {&*from_asc, &*from_raw}) {
        EXPECT_EQ(g->driver, "GTiff");
        EXPECT_EQ(g->layout, "COG");
        EXPECT_EQ(g->compression, "DEFLATE");
        EXPECT_EQ(g->predictor, "3");
        EXPECT_TRUE(g->float32);
        EXPECT_EQ(g->bands, 1);
        EXPECT_EQ(g->cols, asc->cols);
        EXPECT_EQ(g->rows, asc->rows);
        for (int k = 0; k < 6; ++k) EXPECT_EQ(g->transform[k], asc->transform[k]) << k;
        EXPECT_EQ(g->z, expected);
        EXPECT_TRUE(g->epsg.empty());
        EXPECT_EQ(g->unit, "");
    }
}

TEST_F(SameRun, EpsgCodeIsReadBackAsThatSystemAndAScaleIsIgnoredForAnAsciiGrid)
{
    ASSERT_EQ(ascii_.status, 0);
    const Outcome a = export_run({"dem_lidar.asc", "--epsg", "32642", "--scale", "cm", "-o", "utm.tif"}, folder());
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(a.err, "kestranov-export: warning: --scale cm ignored: ASCII grid values are already in metres\n");
    const auto g = read_geotiff((folder() / "utm.tif").string());
    ASSERT_TRUE(g);
    EXPECT_EQ(g->epsg, "32642");
    EXPECT_EQ(g->z, asc_values(folder() / "dem_lidar.asc"));
    EXPECT_NE(a.out.find("Float32 metres, EPSG:32642"), std::string::npos) << a.out;
    // A system in feet: the numbers are feet, and the label and the band say
    // which foot (the US survey foot is longer by 2 parts in a million).
    const struct {
        const char* epsg;
        const char* label;
        const char* band;
    } feet_systems[] = {{"2994", "feet", "ft"}, {"2264", "US survey feet", "US survey foot"}};
    for (const auto& f : feet_systems) {
        const Outcome feet = export_run({"dem_lidar.asc", "--epsg", f.epsg, "-o", "ft.tif"}, folder());
        ASSERT_EQ(feet.status, 0) << feet.err;
        EXPECT_NE(feet.out.find(std::string("Float32 ") + f.label + ", EPSG:" + f.epsg), std::string::npos) << feet.out;
        EXPECT_EQ(read_geotiff((folder() / "ft.tif").string())->unit, f.band);
    }
    // A geographic system's cells are degrees: nothing says the heights' unit.
    const Outcome degrees = export_run({"dem_lidar.asc", "--epsg", "4326", "-o", "deg.tif"}, folder());
    ASSERT_EQ(degrees.status, 0) << degrees.err;
    EXPECT_NE(degrees.out.find(" cells, Float32, EPSG:4326)\n"), std::string::npos) << degrees.out;
    const auto deg = read_geotiff((folder() / "deg.tif").string());
    ASSERT_TRUE(deg);
    EXPECT_EQ(deg->epsg, "4326");
    EXPECT_EQ(deg->unit, "");
}

// The real UTM 42N sample gridded at 2 m to an ASCII grid and to a 16-bit
// centimetre image: both exports lie cell on cell in that system, and each
// cell of the image's is the grid's truncated to the centimetre.
TEST(RealData, BothFormatsOfOneRunLieCellOnCell)
{
    const fs::path cloud = fs::path(KESTRANOV_SHARED_DATA) / "pdal_hexbin_rect_utm42n.xyz";
    if (!fs::exists(cloud)) GTEST_SKIP() << no_sample(cloud);
    TempDir drive;
    const fs::path folder = drive.path() / "images" / "hx";
    fs::create_directories(folder);
    fs::copy_file(cloud, folder / "h.xyz");
    ASSERT_EQ(run(KESTRANOV_EXE, {}, drive.path(), "hx\n1\nh\n2\n0\nd\n0\n").status, 0);
    ASSERT_EQ(run(KESTRANOV_EXE, {}, drive.path(), "hx\n1\nh\n2\n0\nd\n1\n0\n2\n").status, 0);
    ASSERT_EQ(export_run({"d_lidar.asc", "--epsg", "32642"}, folder).status, 0);
    ASSERT_EQ(export_run({"d_lidar_m2.raw", "--scale", "cm", "--epsg", "32642"}, folder).status, 0);
    const auto a = read_geotiff((folder / "d_lidar.tif").string());
    const auto r = read_geotiff((folder / "d_lidar_m2.tif").string());
    ASSERT_TRUE(a && r);
    EXPECT_EQ(a->epsg, "32642");
    EXPECT_EQ(r->epsg, "32642");
    for (int k = 0; k < 6; ++k) EXPECT_EQ(a->transform[k], r->transform[k]) << k;
    ASSERT_EQ(a->z.size(), r->z.size());
    ASSERT_FALSE(a->z.empty());
    for (std::size_t k = 0; k < a->z.size(); ++k) {
        // Below by less than a centimetre, give or take the Float32 rounding
        // of each (a quarter of a millimetre at these heights).
        const double below = static_cast<double>(a->z[k]) - static_cast<double>(r->z[k]);
        EXPECT_GE(below, -5e-4) << k;
        EXPECT_LT(below, 0.0105) << k;
    }
}

// The address space (KiB, to 1 MiB) the program needs to export a 1 x 1
// image: itself, its libraries and GDAL's own needs, without a grid to speak of.
[[maybe_unused]] std::size_t tiny_export_kib()
{
    TempDir dir;
    fx::write_raw16(dir.path() / "one_lidar_m2.raw", 1, 1, 1.0, {7});
    std::size_t fails = 0, works = std::size_t{1} << 24;  // 16 GiB
    while (works - fails > 1024) {
        const std::size_t mid = (fails + works) / 2;
        const std::string limit = "ulimit -v " + std::to_string(mid) + ";";
        (export_run({"one_lidar_m2.raw", "--scale", "m"}, dir.path(), limit).status == 0 ? works : fails) = mid;
        fs::remove(dir.path() / "one_lidar_m2.tif");
    }
    return works;
}

// Each refusal: status 1 (2 for a usage error), one line naming the fault,
// and the folder as it was.
TEST(ExportFailures, StatusTheMessageAndNoFile)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
        std::function<void(const fs::path&)> setup = nullptr;
        std::string before = "";
        int status = 1;
    };
    const auto grid = [](const fs::path& d) { fx::write_asc(d / "g_lidar.asc", 2, 2, 1.0, {1, 2, 3, 4}); };
    const auto image = [](const fs::path& d) { fx::write_raw16(d / "i_lidar_m2.raw", 2, 2, 1.0, {1, 2, 3, 4}); };
    std::vector<Case> cases = {
        {{"absent_lidar.asc"}, "absent_lidar.asc: no such file"},
        {{"i_lidar_m2.raw"}, "i_lidar_m2.raw: a raster image needs --scale m, dm, cm or mm", image},
        {{"g_lidar.asc", "--epsg", "12x"}, "bad --epsg value '12x'", grid, "", 2},
        {{"g_lidar.asc", "--bogus"}, "unknown option '--bogus' (kestranov-export --help", grid, "", 2},
        {{}, "kestranov-export: no input file given", nullptr, "", 2},
        // The warning for the scale is not shown: a failure is one line.
        {{"g_lidar.asc", "--scale", "cm", "--epsg", "999999"},
         "--epsg 999999: EPSG:999999 is not a coordinate system GDAL knows",
         grid},
        // Systems no grid lies in, refused as kestranov-grid refuses them,
        // before the model is read (the vertical one's file is absent).
        {{"g_lidar.asc", "--epsg", "4978"},
         "--epsg 4978: EPSG:4978 (WGS 84) is neither a projected nor a geographic system",
         grid},
        {{"absent_lidar.asc", "--epsg", "5703"}, "--epsg 5703: EPSG:5703 (NAVD88 height) is neither a projected"},
        {{"g_lidar.asc", "--scale", "km"}, "bad --scale value 'km'", grid, "", 2},
        {{"i_lidar_m2.raw", "--scale", "cm"},
         "descriptor missing",
         [&](const fs::path& d) {
             image(d);
             fs::remove(d / "i_lidar_m2.txt");
         }},
        {{"n_lidar.asc"},
         "the header has no xllcorner or no yllcorner",
         [](const fs::path& d) { write_file(d / "n_lidar.asc", "ncols 1\nnrows 1\ncellsize 1\n5\n"); }},
        {{"h_lidar.asc"},
         "h_lidar.asc: the elevation 1e+39 of row 0, column 1 from the north-west does not fit a Float32",
         [](const fs::path& d) {
             write_file(d / "h_lidar.asc", "ncols 2\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 1e39\n");
         }},
        {{"g_lidar.asc", "-o", "g_lidar.asc"}, "would overwrite the input", grid},
        {{"f_lidar.asc"},
         "f_lidar.asc: is not a regular file",
         [](const fs::path& d) { mkfifo((d / "f_lidar.asc").c_str(), 0600); }},
        {{"e_lidar.asc"},
         "e_lidar.asc: the model's edges are beyond the numbers a GeoTIFF holds",
         [](const fs::path& d) {
             write_file(d / "e_lidar.asc", "ncols 1\nnrows 3\nxllcorner 0\nyllcorner 1.7e308\ncellsize 1e307\n1 2 3\n");
         }},
        {{"z_lidar.asc"},
         "z_lidar.asc: the elevation of row 0, column 1 from the north-west would read as the nodata value",
         [](const fs::path& d) {
             write_file(d / "z_lidar.asc",
                        "ncols 3\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value 1e-50\n1e-50 0 5\n");
         }},
        {{"t_lidar.asc"},
         "t_lidar.asc: the cell size is too small",
         [](const fs::path& d) {
             write_file(d / "t_lidar.asc", "ncols 1\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1e-310\n5\n");
         }},
        {{"w_lidar_m2.raw", "--scale", "m"},
         "w_lidar_m2.txt: descriptor line 4 should be the minimum elevation (a 32-bit",
         [](const fs::path& d) {
             fx::write_raw16(d / "w_lidar_m2.raw", 1, 1, 1.0, {7});
             write_file(d / "w_lidar_m2.txt", "1\n1\n2\n9223372036854775807\n9223372036854775807\n1.0\n");
         }},
        {{"d_lidar.asc"},
         "d_lidar.asc: the elevation of row 0, column 1 from the north-west would read as the nodata value",
         [](const fs::path& d) {
             fx::write_asc(d / "d_lidar.asc", 1, 3, 1.0, {std::nan(""), -10000.0, 5.0});
         }},
        {{"s_lidar_m2.raw", "--scale", "cm"},
         "s_lidar_m2.txt: gives 3 rows, but its corners hold 2 cells",
         [](const fs::path& d) {
             fx::write_raw16(d / "s_lidar_m2.raw", 2, 3, 1.0, {1, 2, 3, 4, 5, 6});
             // Rows and columns swapped: the image still has the bytes they promise.
             write_file(d / "s_lidar_m2.txt", "3\r\n2\r\n" + fx::descriptor_text(2, 3, 2, 1, 6, 1.0).substr(6));
         }},
        {{"c_lidar_m2.raw", "--scale", "cm"},
         "c_lidar_m2.txt: has no \"X min : ... Y min : ...\" line",
         [](const fs::path& d) {
             fx::write_raw16(d / "c_lidar_m2.raw", 1, 1, 1.0, {7});
             write_file(d / "c_lidar_m2.txt", "1\n1\n2\n7\n7\n1.0\n");
         }},
        {{"g_lidar.asc", "-o", "absent/g.tif"}, "absent/g.tif: cannot be created", grid},
        {{"g_lidar.asc"},
         "g_lidar.tif: write failed; nothing was kept",
         [](const fs::path& d) {
             std::vector<double> z(64 * 64);
             for (std::size_t k = 0; k < z.size(); ++k) z[k] = std::sin(static_cast<double>(k)) * 100;
             fx::write_asc(d / "g_lidar.asc", 64, 64, 1.0, z);
         },
         "ulimit -f 2;"},
    };
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // they reserve more than any such limit
    // Room for the program, its libraries and the reader's grid (8 bytes a
    // cell, with half a byte to spare) but not for what GDAL holds beside
    // it: the tiles it compresses, the overviews, the file (over a byte a
    // cell).
    constexpr std::size_t rows = 2048, cols = 4096;
    cases.push_back({{"m_lidar_m2.raw", "--scale", "m"},
                     "m_lidar_m2.raw: not enough memory to convert a grid of 2048 rows and 4096 columns",
                     [](const fs::path& d) {
                         fx::write_raw16(d / "m_lidar_m2.raw", rows, cols, 1.0,
                                         std::vector<std::int64_t>(rows * cols, 7));
                     },
                     "ulimit -v " + std::to_string(tiny_export_kib() + 17 * rows * cols / 2048) + ";"});
#endif
    for (const Case& c : cases) {
        TempDir dir;
        if (c.setup) c.setup(dir.path());
        const std::vector<std::string> before = names_in(dir.path());
        const Outcome r = export_run(c.args, dir.path(), c.before);
        EXPECT_EQ(r.status, c.status) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line
        EXPECT_EQ(names_in(dir.path()), before) << c.message;
    }
}

// What the encoder checks of a band, row after row, against a reading of
// each cell alone: values at either edge of the nodata value's Float32
// rounding (just in, just out), placed in each lane of a row and in its
// last, odd cell, beside empty cells and cells beyond a Float32.
TEST(BandScan, TellsWhatACellByCellReadingTells)
{
    using kestranov::exporter::BandCells;
    using kestranov::exporter::BandScan;
    constexpr std::size_t cols = 5;
    const auto where = [](const std::optional<kestranov::exporter::CellAt>& cell) {
        return cell ? std::optional(std::pair(cell->row, cell->col)) : std::nullopt;
    };
    // The last two: the least double that does not fit a Float32, and the one below it (stored as the largest).
    const double overflow = 0x1p128 - 0x1p103;
    for (const double nodata :
         {-9999.0, 1.0, 0.0, -0.0, 0.1, 16777216.0, 1e-40, 3.4e38, -3.4e38, overflow, -std::nextafter(overflow, 0.0)}) {
        const double stored = static_cast<float>(nodata);
        std::vector<double> near = {nodata, stored};
        for (const float side : {-INFINITY, INFINITY}) {
            const double edge = (stored + std::nextafter(static_cast<float>(stored), side)) / 2;
            for (const double v : {edge, std::nextafter(edge, 0.0), std::nextafter(edge, side)}) near.push_back(v);
        }
        for (const bool float64 : {false, true})
            for (const double v : near)
                for (std::size_t at = 0; at < cols; ++at) {
                    SCOPED_TRACE(std::to_string(nodata) + " " + std::to_string(v) + " " + std::to_string(at) +
                                 (float64 ? " Float64" : " Float32"));
                    // Row 0 plain, row 1 the value at `at` and an empty cell, row 2 the value again.
                    std::vector<std::vector<double>> rows(3, std::vector<double>(cols, 250.5));
                    rows[1][at] = rows[2][at] = v;
                    rows[1][(at + 2) % cols] = std::nan("");
                    if (at == 1) rows[2][4] = 1e39;  // beyond a Float32 after a clash
                    BandScan scan(nodata, float64);
                    BandCells alone;
                    for (std::size_t r = 0; r < rows.size() && !scan.done(); ++r) {
                        scan.see_row(rows[r].data(), r, cols);
                        for (std::size_t c = 0; c < cols && !alone.wide; ++c) {
                            const double x = rows[r][c];
                            alone.any_empty |= std::isnan(x);
                            const auto as_stored = [float64](double y) { return float64 ? y : static_cast<float>(y); };
                            if (!alone.clash && !std::isnan(x) && as_stored(x) == as_stored(nodata))
                                alone.clash = {r, c, x};
                            const double written = std::isnan(x) ? nodata : x;
                            if (!float64 && std::isinf(static_cast<float>(written))) alone.wide = {r, c, written};
                        }
                    }
                    const BandCells& seen = scan.cells();
                    EXPECT_EQ(seen.any_empty, alone.any_empty);
                    EXPECT_EQ(where(seen.clash), where(alone.clash));
                    EXPECT_EQ(where(seen.wide), where(alone.wide));
                }
    }
}

}  // namespace
