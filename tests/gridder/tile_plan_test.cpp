// kestranov-grid --tile-size as its users run it: the plan written by the
// command, its jobs run by GNU parallel, by a shell reading jobs.txt line by
// line, or by Slurm, and the mosaic.vrt read back through GDAL against the
// single run with the same options: the same size, geotransform, coordinate
// system, nodata and every cell.
#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>
#include <utility>

#include "files.h"
#include "grid/exact_oracle.h"
#include "grid/lattice.h"

namespace {

namespace fs = std::filesystem;
const fs::path shared = KESTRANOV_SHARED_DATA;
const std::string grid_exe = KESTRANOV_GRID_EXE, make_cloud = MAKE_CLOUD_EXE;

std::string quoted(const std::string& word)
{
    std::string q = "'";
    for (const char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A shell command's status; its standard output and error go to `log`.
int shell(const std::string& command, const fs::path& log)
{
    const int s = std::system((command + " >>" + quoted(log.string()) + " 2>&1").c_str());
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
}

// kestranov-grid with these arguments (each quoted), its summary in `out`.
int grid(const std::vector<std::string>& args, const fs::path& out)
{
    std::string command = quoted(grid_exe);
    for (const std::string& a : args) command.append(" ").append(quoted(a));
    return shell(command, out);
}

std::vector<std::string> lines_of(const fs::path& p)
{
    std::vector<std::string> lines;
    std::ifstream in(p);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A raster's band as GDAL reads it: size, georeferencing, nodata, its
// description and every cell as a double.
struct Raster {
    int cols = 0, rows = 0, bands = 0;
    std::string description;
    std::array<double, 6> transform{};
    OGRSpatialReference srs;
    bool has_srs = false;
    int has_nodata = 0;
    double nodata = 0;
    std::string type;
    std::vector<double> cells;
};

Raster read_raster(const fs::path& p, int band_number = 1)
{
    GDALAllRegister();
    Raster r;
    GDALDataset* ds = GDALDataset::Open(p.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY);
    if (!ds) {
        ADD_FAILURE() << "GDAL cannot open " << p;
        return r;
    }
    r.cols = ds->GetRasterXSize(), r.rows = ds->GetRasterYSize();
    EXPECT_EQ(ds->GetGeoTransform(r.transform.data()), CE_None) << p;
    if (const OGRSpatialReference* srs = ds->GetSpatialRef()) r.srs = *srs, r.has_srs = true;
    r.bands = ds->GetRasterCount();
    GDALRasterBand* band = ds->GetRasterBand(band_number);
    r.description = band->GetDescription();
    r.nodata = band->GetNoDataValue(&r.has_nodata);
    r.type = GDALGetDataTypeName(band->GetRasterDataType());
    r.cells.resize(static_cast<std::size_t>(r.cols) * static_cast<std::size_t>(r.rows));
    EXPECT_EQ(band->RasterIO(GF_Read, 0, 0, r.cols, r.rows, r.cells.data(), r.cols, r.rows, GDT_Float64, 0, 0), CE_None)
        << p;
    GDALClose(GDALDataset::ToHandle(ds));
    return r;
}

// Band `band` of the mosaic against the single run's, cell for cell;
// returns its nodata cells.
long expect_same_band(const fs::path& mosaic, const fs::path& single, int band)
{
    SCOPED_TRACE("band " + std::to_string(band));
    const Raster m = read_raster(mosaic, band), s = read_raster(single, band);
    EXPECT_EQ(m.description, s.description);
    EXPECT_EQ(m.cols, s.cols);
    EXPECT_EQ(m.rows, s.rows);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(m.transform[static_cast<std::size_t>(k)], s.transform[static_cast<std::size_t>(k)]) << k;
    EXPECT_EQ(m.has_srs, s.has_srs);
    if (m.has_srs && s.has_srs) {
        EXPECT_TRUE(m.srs.IsSame(&s.srs));
    }
    EXPECT_TRUE(m.has_nodata && s.has_nodata);
    EXPECT_EQ(m.nodata, s.nodata);
    EXPECT_EQ(m.type, s.type);
    if (m.cells.size() != s.cells.size()) return -1;
    long differ = 0, nodata = 0;
    for (std::size_t k = 0; k < m.cells.size(); ++k) {
        nodata += s.cells[k] == s.nodata;
        if (m.cells[k] == s.cells[k]) continue;
        if (differ++ < 5)
            ADD_FAILURE() << "row " << k / static_cast<std::size_t>(s.cols) << " column "
                          << k % static_cast<std::size_t>(s.cols) << ": mosaic " << m.cells[k] << ", single run "
                          << s.cells[k];
    }
    EXPECT_EQ(differ, 0);
    return nodata;
}

// The mosaic against the single run, cell for cell, band for band; returns
// the nodata cells of its first band.
long expect_same_grid(const fs::path& mosaic, const fs::path& single)
{
    const int bands = read_raster(single).bands;
    EXPECT_EQ(read_raster(mosaic).bands, bands);
    long nodata = 0;
    for (int k = bands; k >= 1; --k) nodata = expect_same_band(mosaic, single, k);
    return nodata;
}

struct Planned {
    std::vector<std::string> jobs;
    std::string summary, mosaic, single;  // of the plan, of --mosaic, of the single run
};

// The line of `summary` that begins with `start`.
std::string line_of(const std::string& summary, const std::string& start)
{
    const std::size_t at = summary.find("\n" + start);
    return at == std::string::npos ? "" : summary.substr(at + 1, summary.find('\n', at + 1) - at);
}

// The plan of `args` (and `plan_only`) in tiles of `tile` into `folder`,
// then its jobs run by `runner` (a shell command reading the jobs from
// standard input), each telling one line, then the last step, --mosaic,
// whose sums are the single run's of the same arguments into `single`.
Planned plan_and_run(std::vector<std::string> args, const char* tile, const fs::path& folder, const std::string& runner,
                     const fs::path& single, const std::vector<std::string>& plan_only = {})
{
    Planned p;
    std::vector<std::string> plan = args;
    plan.insert(plan.end(), {"--tile-size", tile, "-o", folder.string()});
    plan.insert(plan.end(), plan_only.begin(), plan_only.end());
    const fs::path log = folder.string() + ".log", ran = folder.string() + ".ran";
    fs::remove(log);
    fs::remove(ran);
    EXPECT_EQ(grid(plan, log), 0) << read_file(log);
    p.summary = read_file(log);
    p.jobs = lines_of(folder / "jobs.txt");
    // No tile before its job: an earlier plan's would stand in the mosaic.
    EXPECT_TRUE(fs::is_empty(folder / "tiles"));
    EXPECT_NE(p.summary.find(" --mosaic "), std::string::npos) << p.summary;
    EXPECT_EQ(shell(runner + " < " + quoted((folder / "jobs.txt").string()), ran), 0) << read_file(ran);
    const std::vector<std::string> told = lines_of(ran);
    EXPECT_EQ(told.size(), p.jobs.size());
    for (const std::string& line : told)
        EXPECT_TRUE(line.starts_with("tile ") &&
                    line.find("/" + std::to_string(p.jobs.size()) + ": ") != std::string::npos &&
                    line.ends_with(".tif"))
            << line;
    const fs::path summed = folder.string() + ".mosaic";
    fs::remove(summed);
    EXPECT_EQ(grid({"--mosaic", folder.string()}, summed), 0) << read_file(summed);
    p.mosaic = "\n" + read_file(summed);
    args.insert(args.end(), {"-o", single.string()});
    const fs::path alone = single.string() + ".log";
    EXPECT_EQ(grid(args, alone), 0) << read_file(alone);
    p.single = "\n" + read_file(alone);
    EXPECT_NE(
        p.mosaic.find("\ntiles: " + std::to_string(p.jobs.size()) + " of " + std::to_string(p.jobs.size()) + " done"),
        std::string::npos)
        << p.mosaic;
    EXPECT_EQ(line_of(p.mosaic, "cells: "), line_of(p.single, "cells: ")) << p.mosaic << p.single;
    EXPECT_EQ(line_of(p.mosaic, "tin: "), line_of(p.single, "tin: ")) << p.mosaic << p.single;
    return p;
}

bool have(const char* tool)
{
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

// Two million points in five files of three formats that straddle tile
// edges, one area covered twice and tiles covered by nothing: each plan's
// mosaic, its jobs run by GNU parallel on two processes, is the single run.
// Once on the points' snapped extent; once on wider --bounds, where some
// tiles read no file at all and are written all nodata, with other options,
// planned over the first plan's folder: refused, then with --overwrite.
// Last, two files swapped between a plan and its jobs: the jobs that read
// them refuse, and the last step names their tiles.
TEST(TilePlan, TheMosaicIsTheSingleRun)
{
    if (!have("parallel")) GTEST_SKIP() << "GNU parallel is not installed (tools/install_deps.sh)";
    TempDir dir;
    const fs::path in = dir / "in";
    fs::create_directories(in);
    const struct {
        const char* name;
        const char* points;
        const char* size;
        const char* x0;
        const char* y0;
        const char* more;
    } clouds[] = {
        {"a.las", "700000", "500", "494000", "4877500", "--las"},
        {"b.xyz", "600000", "400", "494350", "4877750", "--seed 2"},
        {"c.las", "500000", "250", "494600", "4878350", "--las --seed 3"},
        {"d.xyz", "200000", "150", "494050", "4878500", "--order random --xy-decimals 3 --seed 4"},
    };
    for (const auto& c : clouds)
        ASSERT_EQ(shell(quoted(make_cloud) + " " + quoted((in / c.name).string()) + " --points " + c.points +
                            " --size " + c.size + " --x0 " + c.x0 + " --y0 " + c.y0 + " " + c.more,
                        dir / "make.log"),
                  0)
            << read_file(dir / "make.log");
    // 40 points spread over 1 km by 1.4 km: the snapped extent is theirs.
    fs::copy_file(fs::path(KESTRANOV_TEST_DATA) / "laz" / "point10_4x10.laz", in / "e.laz");

    const std::string runner = "parallel -j 2";
    {
        SCOPED_TRACE("snapped");
        const Planned p =
            plan_and_run({in.string(), "--cell", "2"}, "300", dir / "snapped", runner, dir / "snapped.tif");
        // Tiles of 150 cells from the north-west corner over the single run's grid.
        const Raster single = read_raster(dir / "snapped.tif");
        const std::size_t across = (single.cols + 149) / 150, down = (single.rows + 149) / 150;
        EXPECT_GE(across * down, 9u);
        EXPECT_EQ(p.jobs.size(), across * down);
        EXPECT_NE(p.summary.find("tiles: " + std::to_string(across * down) + " (" + std::to_string(across) + " x " +
                                 std::to_string(down) + ") of 150 x 150 cells"),
                  std::string::npos)
            << p.summary;
        EXPECT_NE(p.summary.find("sbatch --array=1-" + std::to_string(across * down) + " "), std::string::npos)
            << p.summary;
        EXPECT_GT(expect_same_grid(dir / "snapped" / "mosaic.vrt", dir / "snapped.tif"), 0);
        // On the points' own extent every point lies in one tile's cells.
        EXPECT_TRUE(line_of(p.mosaic, "points: ").starts_with("points: 2000040 in the grid's cells")) << p.mosaic;
        EXPECT_NE(p.single.find("\nread 2000040 points from 5 files"), std::string::npos) << p.single;
    }
    {
        SCOPED_TRACE("bounds");
        const std::vector<std::string> args = {in.string(), "--cell", "2",          "--bounds",      "493600",
                                               "4877000",   "495400", "4879200",    "--keep",        "lowest",
                                               "--fill",    "none",   "--type",     "float64",       "--nodata",
                                               "-1.5",      "--srs",  "EPSG:32617", "--output-type", "min,mean,count"};
        std::vector<std::string> plan = args;
        plan.insert(plan.end(), {"--tile-size", "400", "-o", (dir / "snapped").string()});
        EXPECT_EQ(grid(plan, dir / "refused.log"), 1);
        EXPECT_EQ(read_file(dir / "refused.log"),
                  "kestranov-grid: " + (dir / "snapped").string() +
                      ": holds another plan: plan into a new or empty folder, or give --overwrite to replace it (its "
                      "tiles are removed)\n");
        const Planned p = plan_and_run(args, "400", dir / "snapped", runner, dir / "bounds.tif", {"--overwrite"});
        ASSERT_EQ(p.jobs.size(), 30u);  // 900 x 1100 cells: 5 x 6 tiles
        // The tiles of the east column lie beyond every file (e.laz's header
        // reaches 494994, c.las 494850): no input, all nodata.
        EXPECT_EQ(p.jobs[4].substr(p.jobs[4].size() - 3), " --") << p.jobs[4];
        EXPECT_NE(p.summary.find("tiles read none (all nodata)"), std::string::npos) << p.summary;
        const Raster corner = read_raster(dir / "snapped" / "tiles" / "4_0.tif");
        EXPECT_EQ(std::count(corner.cells.begin(), corner.cells.end(), -1.5), 100 * 200);
        EXPECT_TRUE(corner.has_srs);
        // With --output-type, a band for each statistic, named; count never nodata.
        EXPECT_EQ(corner.bands, 3);
        EXPECT_EQ(read_raster(dir / "bounds.tif", 2).description, "mean");
        const Raster count = read_raster(dir / "snapped" / "tiles" / "4_0.tif", 3);
        EXPECT_EQ(count.description, "count");
        EXPECT_EQ(std::count(count.cells.begin(), count.cells.end(), 0.0), 100 * 200);
        EXPECT_GT(expect_same_grid(dir / "snapped" / "mosaic.vrt", dir / "bounds.tif"), 200 * 200);
    }
    {
        SCOPED_TRACE("swapped");
        const fs::path folder = dir / "swapped", b = in / "b.xyz", d = in / "d.xyz";
        ASSERT_EQ(grid({in.string(), "--cell", "2", "--tile-size", "300", "-o", folder.string()}, dir / "s.log"), 0);
        const auto b_size = fs::file_size(b), d_size = fs::file_size(d);
        fs::rename(b, in / "t.xyz");
        fs::rename(d, b);
        fs::rename(in / "t.xyz", d);
        EXPECT_NE(shell(runner + " < " + quoted((folder / "jobs.txt").string()), dir / "s.ran"), 0);
        // Each job naming a swapped file says so and writes no tile; the others run.
        const std::vector<std::string> jobs = lines_of(folder / "jobs.txt");
        std::vector<std::string> refused, tiles;
        std::string numbers;
        for (std::size_t n = 0; n < jobs.size(); ++n) {
            const std::size_t at = jobs[n].find("/tiles/") + 1;
            const std::string tile = jobs[n].substr(at, jobs[n].find(".tif", at) + 4 - at);
            const bool reads =
                jobs[n].find(b.string()) != std::string::npos || jobs[n].find(d.string()) != std::string::npos;
            EXPECT_EQ(fs::exists(folder / tile), !reads) << jobs[n];
            if (!reads) continue;
            refused.push_back(jobs[n]);
            if (tiles.size() < 10)
                numbers += (tiles.empty() ? "" : ", ") + std::to_string(n + 1), tiles.push_back(tile);
        }
        ASSERT_GE(refused.size(), 2u);
        const std::string said = read_file(dir / "s.ran");
        EXPECT_EQ(static_cast<std::size_t>(std::count(said.begin(), said.end(), '\n')), jobs.size()) << said;
        const fs::path one = dir / "one.log";
        EXPECT_EQ(shell("printf '%s\\n' " + quoted(std::as_const(refused).back()) + " | sh", one), 1);
        const bool has_b = refused.back().find(b.string()) != std::string::npos;
        EXPECT_EQ(read_file(one), "kestranov-grid: " + (has_b ? b : d).string() +
                                      ": changed since the plan was made (" + std::to_string(has_b ? d_size : b_size) +
                                      " bytes, " + std::to_string(has_b ? b_size : d_size) +
                                      " when planned): plan again (--overwrite) and run the new jobs\n");
        std::string listed;
        for (const std::string& t : tiles) listed += (listed.empty() ? "" : ", ") + t;
        const std::size_t more = refused.size() - tiles.size();
        const std::string and_more = more ? " and " + std::to_string(more) + " more" : "";
        EXPECT_EQ(grid({"--mosaic", folder.string()}, dir / "s.mosaic"), 1);
        EXPECT_EQ(read_file(dir / "s.mosaic"),
                  "kestranov-grid: " + folder.string() + ": " + std::to_string(refused.size()) + " of " +
                      std::to_string(jobs.size()) + " tiles are not done (lines " + numbers + and_more +
                      " of jobs.txt: " + listed + and_more + "): run them again, then --mosaic again\n");
    }
}

// Cells of 0.1 from x = 480000, where the double 480000 + c * 0.1 of a
// tile's corner is in general not the real one: points on every tile and
// cell edge as the tiles' corners make them, as decimals read from text,
// and one ulp either side; some of them would change cells under a rule
// measured from a tile's own corner, which the test counts. The jobs run
// one after the other by the shell reading jobs.txt, from folders whose
// names need quoting for the shell and for Slurm; a folder or file whose
// name a job's line or Slurm's directive cannot carry is refused. A tile
// gone, or one of the other plan's put in its place, is named by the last
// step.
TEST(TilePlan, PointsOnTileEdgesFallAsInTheSingleRun)
{
    TempDir dir;
    const fs::path in = dir / "it's here";
    const double xmin = 480000, ymin = 2150000, size = 0.1;
    const std::int64_t cols = 31, rows = 23, tile = 7;  // 5 x 4 tiles, the last ones cut
    std::mt19937 random(5);
    std::string text;
    long own_corner_moves = 0;
    char line[96];
    for (std::int64_t c = -1; c <= cols + 1; ++c)
        for (std::int64_t r = -1; r <= rows + 1; ++r) {
            const double edge_x[] = {xmin + static_cast<double>(c) * size, xmin + static_cast<double>(c) / 10};
            const double edge_y[] = {ymin + static_cast<double>(r) * size, ymin + static_cast<double>(r) / 10};
            for (double x : edge_x)
                for (double y : edge_y)
                    for (const int ulps : {-1, 0, 1}) {
                        const double px = ulps ? std::nextafter(x, ulps * 1e300) : x;
                        const double py = ulps ? std::nextafter(y, -ulps * 1e300) : y;
                        std::snprintf(line, sizeof line, "%.17g %.17g %d\n", px, py, static_cast<int>(random() % 1000));
                        text += line;
                        const std::int64_t col = exact_oracle::floor_cell(px, xmin, size);
                        const std::int64_t c0 = std::clamp<std::int64_t>(col, 0, cols - 1) / tile * tile;
                        own_corner_moves +=
                            exact_oracle::floor_cell(px, xmin + static_cast<double>(c0) * size, size) != col - c0;
                    }
        }
    EXPECT_GT(own_corner_moves, 10);
    write_file(in / "edges.xyz", text);
    const std::string bounds[] = {"480000", "2150000", "480003.1", "2150002.3"};
    fs::copy_file(in / "edges.xyz", in / "line\nbreak.xyz");
    const struct {
        const char* folder;
        const char* file;
        const char* why;
    } refused[] = {
        {"back\\slash", "edges.xyz",
         ": Slurm cannot name the tiles' logs in a folder whose path holds a backslash: plan into another folder"},
        {"line\nbreak", "edges.xyz",
         ": a folder whose name holds a line break cannot be written in jobs.txt (a line a job) nor in slurm.sbatch: "
         "plan into another folder"},
        {"fine", "line\nbreak.xyz",
         ": a file whose name holds a line break cannot be written in jobs.txt (a line a job): rename it"},
    };
    for (const auto& r : refused) {
        const fs::path log = dir / "refused.log";
        fs::remove(log);
        EXPECT_EQ(
            grid({(in / r.file).string(), "--cell", "0.1", "--tile-size", "0.7", "-o", (dir / r.folder).string()}, log),
            1);
        std::string named = (std::string(r.file) == "edges.xyz" ? dir / r.folder : in / r.file).string();
        std::replace(named.begin(), named.end(), '\n', '?');
        EXPECT_EQ(read_file(log), "kestranov-grid: " + named + r.why + "\n");
        EXPECT_FALSE(fs::exists(dir / r.folder));
    }
    fs::path earlier;
    for (const char* fill : {"none", "once"}) {
        SCOPED_TRACE(fill);
        const fs::path folder = dir / (*fill == 'n' ? "plan \"none\" 100%" : "plan $HOME `once` it's");
        const Planned p = plan_and_run({(in / "edges.xyz").string(), "--cell", "0.1", "--bounds", bounds[0], bounds[1],
                                        bounds[2], bounds[3], "--fill", fill, "--nodata", "-7"},
                                       "0.7", folder, "sh", dir / (std::string("single ") + fill + ".tif"));
        EXPECT_EQ(p.jobs.size(), 20u);
        expect_same_grid(folder / "mosaic.vrt", dir / (std::string("single ") + fill + ".tif"));
        // A tile's own file: its corner as GDAL computes the single run's.
        const Raster t = read_raster(folder / "tiles" / "3_2.tif");
        EXPECT_EQ(t.transform[0], 480000 + 21 * 0.1);
        EXPECT_EQ(t.transform[3], 2150002.3 - 14 * 0.1);
        EXPECT_EQ(t.cols, 7);
        EXPECT_EQ(t.rows, 7);
        // A tile gone: the last step names its line, and that line run again completes the plan.
        fs::remove(folder / "tiles" / "3_2.tif");
        const fs::path log = folder.string() + ".again";
        // --mosaic refused, and the one line it says after "kestranov-grid: FOLDER/tiles/".
        const auto mosaic_refused = [&](const std::string& told) {
            fs::remove(log);
            EXPECT_EQ(grid({"--mosaic", folder.string()}, log), 1);
            EXPECT_EQ(read_file(log), "kestranov-grid: " + folder.string() + "/tiles/" + told + "\n");
        };
        EXPECT_EQ(grid({"--mosaic", folder.string()}, log), 1);
        EXPECT_EQ(read_file(log), "kestranov-grid: " + folder.string() +
                                      ": 1 of 20 tiles are not done (line 14 of jobs.txt: tiles/3_2.tif): run it "
                                      "again, then --mosaic again\n");
        if (!earlier.empty()) {
            // The other plan's tile in its place, its record with it: the same layout, other values.
            for (const char* f : {"3_2.tif", "3_2.tif.done"})
                fs::copy_file(earlier / "tiles" / f, folder / "tiles" / f, fs::copy_options::overwrite_existing);
            const auto id = [](const fs::path& plan) { return lines_of(plan / "plan.txt").at(0).substr(5); };
            mosaic_refused("3_2.tif is a tile of another plan (plan " + id(earlier) + ", not this folder's " +
                           id(folder) + "): run line 14 of jobs.txt again, then --mosaic again");
            // The other plan's tile alone over this one's, its record left: told by its size and time.
            EXPECT_EQ(shell("sed -n 14p " + quoted((folder / "jobs.txt").string()) + " | sh", log), 0);
            fs::copy_file(earlier / "tiles" / "3_2.tif", folder / "tiles" / "3_2.tif",
                          fs::copy_options::overwrite_existing);
            mosaic_refused(
                "3_2.tif is not the tile its job wrote (its size or modification time is not its "
                "record's): run line 14 of jobs.txt again, then --mosaic again");
        }
        EXPECT_EQ(shell("sed -n 14p " + quoted((folder / "jobs.txt").string()) + " | sh", log), 0);
        EXPECT_EQ(grid({"-q", "--mosaic", folder.string()}, log), 0) << read_file(log);
        if (earlier.empty()) {
            // Tiles cut short after their jobs: each named by its line.
            for (const char* f : {"1_0.tif", "0_0.tif"}) fs::resize_file(folder / "tiles" / f, 100);
            mosaic_refused(
                "0_0.tif and 1 more tiles are not the ones their jobs wrote (their sizes or "
                "modification times are not their records'): run lines 1, 2 of jobs.txt again, then "
                "--mosaic again");
        }
        earlier = folder;
    }

    // Files whose one point lies in the ring of a tile, beside each side of
    // each tile (the grid's own ring on the outer sides), nowhere else: the
    // tile reads them for the fill of its edge cells. On this lattice from
    // x = 0.3 the double corner 0.3 + 6 * 0.1 lies beyond the first double
    // of column 6, so a ring of one cell measured on the doubles would miss
    // the point there.
    const fs::path ring = dir / "ring";
    const double x0 = 0.3, y1 = 2.6;
    const std::int64_t ring_cols = 31, ring_rows = 23;
    // The first (or last) double of column `c`, exactly.
    const auto column_end = [&](std::int64_t c, bool last) {
        double x = x0 + static_cast<double>(last ? c + 1 : c) * size;
        while (exact_oracle::floor_cell(x, x0, size) < c) x = std::nextafter(x, 1e300);
        while (exact_oracle::floor_cell(x, x0, size) > c) x = std::nextafter(x, -1e300);
        while (last && exact_oracle::floor_cell(std::nextafter(x, 1e300), x0, size) == c) x = std::nextafter(x, 1e300);
        while (!last && exact_oracle::floor_cell(std::nextafter(x, -1e300), x0, size) == c)
            x = std::nextafter(x, -1e300);
        return x;
    };
    const auto mid = [&](std::int64_t cell) { return (static_cast<double>(cell) + 0.5) * size; };
    int files = 0;
    for (std::int64_t c0 = 0; c0 < ring_cols; c0 += tile)
        for (std::int64_t r0 = 0; r0 < ring_rows; r0 += tile) {
            const std::int64_t c1 = std::min(c0 + tile, ring_cols), r1 = std::min(r0 + tile, ring_rows);
            const double y_mid = y1 - mid((r0 + r1) / 2), x_mid = x0 + mid((c0 + c1) / 2);
            const std::pair<double, double> beside[] = {{column_end(c0 - 1, false), y_mid},
                                                        {column_end(c1, true), y_mid},
                                                        {x_mid, y1 - mid(r0 - 1)},
                                                        {x_mid, y1 - mid(r1)}};
            for (const auto& [x, y] : beside) {
                std::snprintf(line, sizeof line, "%.17g %.17g %d\n", x, y, static_cast<int>(random() % 1000));
                // Appended piece by piece: GCC 12 warns (-Wrestrict) on "p" + to_string(...).
                std::string name = "p";
                name += std::to_string(files++);
                name += ".xyz";
                write_file(ring / name, line);
            }
        }
    const Planned p = plan_and_run({ring.string(), "--cell", "0.1", "--bounds", "0.3", "0.3", "3.4", "2.6"}, "0.7",
                                   dir / "ring plan", "sh", dir / "ring.tif");
    EXPECT_EQ(p.jobs.size(), 20u);
    EXPECT_GT(expect_same_grid(dir / "ring plan" / "mosaic.vrt", dir / "ring.tif"), 0);

    // A TIN's tiles read the files of their buffer too: two files of points
    // at the west and east ends of three tiles, which the single run's
    // triangles span; the middle tile holds no point of its own, nor its
    // ring. With a buffer reaching both, every tile is the single run's and
    // the plan's sums its summary; with none, the middle tile's band is all
    // nodata, which the last step notes.
    const fs::path gap = dir / "gap";
    std::string west, east;
    for (int j = 0; j < 10; ++j)
        for (int i = 0; i < 3; ++i) {
            west += std::to_string(i) + ".5 " + std::to_string(j) + ".5 " + std::to_string(i * j % 7) + "\n";
            east += std::to_string(27 + i) + ".5 " + std::to_string(j) + ".5 " + std::to_string(i + j) + "\n";
        }
    write_file(gap / "west.xyz", west);
    write_file(gap / "east.xyz", east);
    const std::vector<std::string> tin = {gap.string(), "--cell", "1",  "--bounds",      "0",
                                          "0",          "30",     "10", "--output-type", "tin"};
    const Planned spanned = plan_and_run(tin, "10", dir / "tin plan", "sh", dir / "tin.tif", {"--buffer", "20"});
    EXPECT_EQ(expect_same_grid(dir / "tin plan" / "mosaic.vrt", dir / "tin.tif"), 0);
    EXPECT_NE(spanned.mosaic.find("\npoints: 60 in the grid's cells"), std::string::npos) << spanned.mosaic;
    EXPECT_NE(spanned.mosaic.find("\ntin: 300 cells with a value, 0 nodata (-9999)\n"), std::string::npos);
    EXPECT_EQ(spanned.mosaic.find("\ncells: "), std::string::npos) << spanned.mosaic;  // no statistic's band
    std::vector<std::string> unbuffered = tin;
    unbuffered.insert(unbuffered.end(), {"--tile-size", "10", "--buffer", "0", "-o", (dir / "no buffer").string()});
    ASSERT_EQ(grid(unbuffered, dir / "nb.log"), 0) << read_file(dir / "nb.log");
    ASSERT_EQ(shell("sh " + quoted((dir / "no buffer" / "jobs.txt").string()), dir / "nb.ran"), 0);
    EXPECT_EQ(grid({"--mosaic", (dir / "no buffer").string()}, dir / "nb.mosaic"), 0);
    EXPECT_NE(read_file(dir / "nb.mosaic")
                  .find("\nnote: tiles/1_0.tif: the tin band is all nodata: its 0 points hold 0 distinct (X, Y), "
                        "fewer than 3, and span no triangle\nmosaic: "),
              std::string::npos)
        << read_file(dir / "nb.mosaic");
}

// The real samples: a LAS delivery and the same points as LAZ 1.4 under
// --class 2 and --bounds (their headers decide the files of each tile), and
// the LAS with a text twin on their snapped extent (every file read once
// for its extent, the coordinate system from the LAS alone).
TEST(TilePlan, RealSamplesMosaicAsTheSingleRun)
{
    const fs::path las = shared / "las" / "autzen_trim.las", laz = shared / "laz" / "autzen_f6.laz",
                   xyz = shared / "pdal_autzen_trim_ft.xyz";
    if (const std::string why = missing_sample({las, laz, xyz}); !why.empty()) GTEST_SKIP() << why;
    if (!have("parallel")) GTEST_SKIP() << "GNU parallel is not installed (tools/install_deps.sh)";
    TempDir dir;
    const Planned classed = plan_and_run({las.string(), laz.string(), "--cell", "10", "--class", "2", "--bounds",
                                          "635990", "848880", "638990", "853380"},
                                         "1000", dir / "classed", "parallel -j 2", dir / "classed.tif");
    EXPECT_EQ(classed.jobs.size(), 3u * 5u);  // 300 x 450 cells in tiles of 100
    EXPECT_NE(classed.summary.find("extents: from the LAS headers"), std::string::npos) << classed.summary;
    expect_same_grid(dir / "classed" / "mosaic.vrt", dir / "classed.tif");
    const Planned mixed = plan_and_run({las.string(), xyz.string(), "--cell", "10"}, "200", dir / "mixed",
                                       "parallel -j 2", dir / "mixed.tif");
    EXPECT_GE(mixed.jobs.size(), 9u);
    EXPECT_NE(mixed.summary.find("extents: read from the points of 2 files"), std::string::npos) << mixed.summary;
    expect_same_grid(dir / "mixed" / "mosaic.vrt", dir / "mixed.tif");
}

namespace {

// munged, slurmctld and slurmd on this machine alone, with their files,
// sockets and ports (unprivileged) of their own in a temporary folder,
// stopped by their pids when the owner goes.
class LocalSlurm {
public:
    LocalSlurm()
    {
        fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        std::random_device random;
        std::string key(1024, '\0');
        for (char& c : key) c = static_cast<char>(random());
        write_file(dir_ / "munge.key", key);
        fs::permissions(dir_ / "munge.key", fs::perms::owner_read);
        const std::string d = dir_.path().string();
        const int port = 20000 + static_cast<int>(getpid() % 20000);
        write_file(dir_ / "slurm.conf",
                   "ClusterName=kestranov\nSlurmctldHost=localhost\nSlurmUser=root\nSlurmdUser=root\n"
                   "AuthType=auth/munge\nCredType=cred/munge\nAuthInfo=socket=" +
                       d + "/munge.sock\n" + "SlurmctldPort=" + std::to_string(port) + "\nSlurmdPort=" +
                       std::to_string(port + 1) + "\nStateSaveLocation=" + d + "/state\nSlurmdSpoolDir=" + d +
                       "/spool\nSlurmctldPidFile=" + d + "/slurmctld.pid\nSlurmdPidFile=" + d +
                       "/slurmd.pid\nSlurmctldLogFile=" + d + "/slurmctld.log\nSlurmdLogFile=" + d +
                       "/slurmd.log\nProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\n"
                       "JobAcctGatherType=jobacct_gather/none\nAccountingStorageType=accounting_storage/none\n"
                       "JobCompType=jobcomp/none\nMpiDefault=none\nSchedulerType=sched/builtin\n"
                       "SelectType=select/cons_tres\nSelectTypeParameters=CR_Core\nReturnToService=2\n"
                       // Room for every task at once (the jobs are small), whatever the cores.
                       "NodeName=localhost CPUs=16 State=UNKNOWN\nSlurmdParameters=config_overrides\n"
                       "PartitionName=tiles Nodes=localhost Default=YES MaxTime=INFINITE State=UP\n");
        fs::create_directories(dir_ / "state");
        fs::create_directories(dir_ / "spool");
        env_ = "SLURM_CONF=" + quoted(d + "/slurm.conf") + " ";
        const fs::path log = dir_ / "start.log";
        if (shell("munged -f --socket=" + d + "/munge.sock --key-file=" + d + "/munge.key --log-file=" + d +
                      "/munged.log --pid-file=" + d + "/munged.pid --seed-file=" + d + "/munged.seed",
                  log) != 0 ||
            shell(env_ + "slurmctld -f " + d + "/slurm.conf", log) != 0 ||
            shell(env_ + "slurmd -f " + d + "/slurm.conf -N localhost", log) != 0) {
            why_ = "cannot start munged, slurmctld or slurmd: " + one_line(read_file(log));
            return;
        }
        for (int k = 0; k < 100 && !ready(); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (!ready()) why_ = "slurmd's node did not become idle within 20 s";
    }
    ~LocalSlurm()
    {
        for (const char* daemon : {"slurmd", "slurmctld", "munged"}) {
            const std::string pid = read_pid(dir_ / (std::string(daemon) + ".pid"));
            if (!pid.empty()) kill(static_cast<pid_t>(std::stol(pid)), SIGTERM);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    LocalSlurm(const LocalSlurm&) = delete;
    LocalSlurm& operator=(const LocalSlurm&) = delete;

    const std::string& why_not() const { return why_; }
    // `command` with this cluster's configuration.
    std::string with_conf(const std::string& command) const { return env_ + command; }

private:
    static std::string one_line(std::string text)
    {
        std::replace(text.begin(), text.end(), '\n', ' ');
        return text.substr(0, 200);
    }
    static std::string read_pid(const fs::path& p)
    {
        std::error_code ec;
        if (!fs::exists(p, ec)) return "";
        std::string pid = read_file(p);
        while (!pid.empty() && !std::isdigit(static_cast<unsigned char>(pid.back()))) pid.pop_back();
        return pid;
    }
    bool ready() const
    {
        const fs::path state = dir_ / "sinfo.txt";
        std::error_code ec;
        fs::remove(state, ec);
        return shell(env_ + "sinfo -h -o %t", state) == 0 && read_file(state).rfind("idle", 0) == 0;
    }

    TempDir dir_;
    std::string env_, why_;
};

}  // namespace

// A Slurm array of the plan's jobs on a cluster of this one machine,
// submitted as the summary says (sbatch --array=1-N), waited for: its
// mosaic is the single run.
// The plan in a folder whose name holds a space, a % (a Slurm pattern) and
// quotes (Slurm's directive is in double quotes).
TEST(TilePlan, SlurmRunsThePlanAsAnArrayJob)
{
    if (!have("munged") || !have("slurmctld") || !have("slurmd") || !have("sbatch"))
        GTEST_SKIP() << "Slurm is not installed (slurm-wlm and munge: tools/install_deps.sh)";
    const LocalSlurm slurm;
    if (!slurm.why_not().empty()) GTEST_SKIP() << "no local Slurm: " << slurm.why_not();
    TempDir dir;
    const std::string plan = "my \"plan\" %j 'x'";
    ASSERT_EQ(shell(quoted(make_cloud) + " " + quoted((dir / "c.las").string()) + " --points 200000 --size 300 --las",
                    dir / "make.log"),
              0);
    const fs::path log = dir / "plan.log";
    ASSERT_EQ(grid({(dir / "c.las").string(), "--cell", "1", "--bounds", "480000", "2150000", "480300", "2150300",
                    "--tile-size", "100", "-o", (dir / plan).string()},
                   log),
              0)
        << read_file(log);
    const std::size_t n = lines_of(dir / plan / "jobs.txt").size();
    EXPECT_EQ(n, 9u);
    EXPECT_EQ(shell(slurm.with_conf("timeout 300 sbatch --wait --array=1-" + std::to_string(n) + " " +
                                    quoted((dir / plan / "slurm.sbatch").string())),
                    log),
              0)
        << read_file(log);
    ASSERT_EQ(grid({(dir / "c.las").string(), "--cell", "1", "--bounds", "480000", "2150000", "480300", "2150300", "-q",
                    "-o", (dir / "single.tif").string()},
                   log),
              0);
    expect_same_grid(dir / plan / "mosaic.vrt", dir / "single.tif");
    // Each task's log is its tile's one line; the last step finds them all.
    const std::vector<std::string> told = lines_of(dir / plan / "logs" / ("tile-" + std::to_string(n) + ".out"));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(told[0].starts_with("tile 9/9: ")) << told[0];
    EXPECT_EQ(grid({"--mosaic", (dir / plan).string()}, log), 0) << read_file(log);
}
