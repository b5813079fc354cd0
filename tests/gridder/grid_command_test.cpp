// kestranov-grid as its users run it: the command line, the lattice's edges
// against an oracle of its own, the fill and the nodata cells, the filters,
// the coordinate system reaching the outputs, --like-console against the
// console itself, and every failure in one line with nothing written.
#include <gtest/gtest.h>

#include <cpl_conv.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <sys/stat.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "grid/exact_oracle.h"
#include "grid/lattice.h"
#include "gridder/door_reading.h"
#include "gridder/grid_app.h"
#include "gridder/progress.h"
#include "gridder/tin_band.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
const fs::path shared = KESTRANOV_SHARED_DATA;

struct Outcome {
    int status;
    std::string out, err;
};

Outcome grid(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int status = kestranov::gridder::run_grid(args, out, err, false);
    return {status, out.str(), err.str()};
}

// A point of a survey: where, how high, and what the scanner said of it.
struct SurveyPoint {
    double x, y, z;
    int classification = 2, return_number = 1, returns = 1;
    int flags = 0;  // synthetic 1, key-point 2, withheld 4: beside the class, never part of it
};

void put_le(std::string& b, std::size_t at, std::uint64_t v, int n)
{
    for (int k = 0; k < n; ++k) b[at + static_cast<std::size_t>(k)] = static_cast<char>(v >> (8 * k));
}
void put_double(std::string& b, std::size_t at, double v)
{
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    put_le(b, at, u, 8);
}

// A projection record of a LAS file: its record id and payload.
using Vlr = std::pair<int, std::string>;

// A LAS file of the points at a scale of 0.001: 1.2 with point format 1, or
// 1.4 with point format 6, with its projection records.
std::string las_file(const std::vector<SurveyPoint>& pts, bool v14, const std::vector<Vlr>& vlrs = {})
{
    const std::size_t header = v14 ? 375 : 227, length = v14 ? 30 : 28;
    std::size_t vlr = 0;
    for (const Vlr& v : vlrs) vlr += 54 + v.second.size();
    std::string b(header + vlr + pts.size() * length, '\0');
    std::memcpy(b.data(), "LASF", 4);
    b[24] = 1, b[25] = v14 ? 4 : 2;
    if (v14 && !vlrs.empty()) put_le(b, 6, 16, 2);  // the WKT bit of the global encoding
    put_le(b, 94, header, 2);
    put_le(b, 96, header + vlr, 4);
    put_le(b, 100, vlrs.size(), 4);
    b[104] = static_cast<char>(v14 ? 6 : 1);
    put_le(b, 105, length, 2);
    if (!v14) put_le(b, 107, pts.size(), 4);
    if (v14) put_le(b, 247, pts.size(), 8);
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (const SurveyPoint& p : pts) {
        const double v[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], v[a]), hi[a] = std::max(hi[a], v[a]);
    }
    for (int a = 0; a < 3; ++a) {
        put_double(b, 131 + 8 * static_cast<std::size_t>(a), 0.001);
        put_double(b, 179 + 16 * static_cast<std::size_t>(a), hi[a]);
        put_double(b, 187 + 16 * static_cast<std::size_t>(a), lo[a]);
    }
    std::size_t at_vlr = header;
    for (const auto& [id, payload] : vlrs) {
        std::memcpy(b.data() + at_vlr + 2, "LASF_Projection", 15);
        put_le(b, at_vlr + 18, static_cast<std::uint64_t>(id), 2);
        put_le(b, at_vlr + 20, payload.size(), 2);
        std::memcpy(b.data() + at_vlr + 54, payload.data(), payload.size());
        at_vlr += 54 + payload.size();
    }
    std::size_t at = header + vlr;
    for (const SurveyPoint& p : pts) {
        const double v[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a)
            put_le(b, at + 4 * static_cast<std::size_t>(a),
                   static_cast<std::uint32_t>(static_cast<std::int32_t>(std::llround(v[a] * 1000))), 4);
        if (v14) {
            b[at + 14] = static_cast<char>(p.return_number | p.returns << 4);
            b[at + 15] = static_cast<char>(p.flags);
            b[at + 16] = static_cast<char>(p.classification);
        } else {
            b[at + 14] = static_cast<char>(p.return_number | p.returns << 3);
            b[at + 15] = static_cast<char>(p.classification | p.flags << 5);
        }
        at += length;
    }
    return b;
}

// An ESRI ASCII grid read back: its header and its rows.
struct Ascii {
    std::map<std::string, double> header;
    std::vector<std::vector<double>> rows;
};

Ascii read_ascii(const fs::path& p)
{
    std::istringstream in(read_file(p));
    Ascii a;
    for (int k = 0; k < 6; ++k) {
        std::string key;
        double v;
        in >> key >> v;
        a.header[key] = v;
    }
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream row(line);
        a.rows.emplace_back();
        for (double v; row >> v;) a.rows.back().push_back(v);
    }
    return a;
}

}  // namespace

// Every malformed command line: status 2, one line naming the option, nothing written.
TEST(GridCommand, AMalformedCommandLineIsStatusTwoInOneLine)
{
    TempDir dir;
    write_file(dir / "a.xyz", "0 0 1\n");
    write_file(dir / "wide.xyz", "0 0 1\n99.9995 99.9995 2\n");
    const std::string in = (dir / "a.xyz").string(), out = (dir / "o.asc").string(), wide = (dir / "wide.xyz").string(),
                      plan = (dir / "plan").string();
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{in, "-o", out}, "--cell SIZE is required"},
        {{in, "--cell", "0", "-o", out}, "--cell"},
        {{in, "--cell", "-1", "-o", out}, "--cell"},
        {{in, "--cell", "nan", "-o", out}, "--cell"},
        {{in, "--cell", "1x", "-o", out}, "'1x' is not a finite number"},
        // A decimal comma, as a French or German locale writes it, in any number.
        {{in, "--cell", "2,5", "-o", out}, "--cell: '2,5' holds a comma: write numbers with a decimal point"},
        {{in, "--cell=0,5", "-o", out}, "--cell: '0,5' holds a comma"},
        {{in, "--cell", "1", "-o", out, "--nodata", "-9999,0"}, "--nodata: '-9999,0' holds a comma"},
        {{in, "--cell", "1", "-o", out, "--bounds", "0", "0", "10,5", "4"}, "--bounds: '10,5' holds a comma"},
        {{in, "--cell", "1", "--tile-size", "1,000", "-o", out}, "--tile-size: '1,000' holds a comma"},
        {{in, "--cell", "1"}, "-o OUTPUT is required"},
        {{"--cell", "1", "-o", out}, "no point file"},
        {{in, "--cell", "1", "-o", (dir / "o.png").string()}, "must end in .tif or .asc"},
        {{in, "--cell", "1", "-o", out, "--keep", "top"}, "--keep: 'top' is none of highest, lowest"},
        {{in, "--cell", "1", "-o", out, "--class", "2,256"}, "--class: '256'"},
        {{in, "--cell", "1", "-o", out, "--class", "2,,3"}, "--class: ''"},
        {{in, "--cell", "1", "-o", out, "--return", "second"}, "--return"},
        {{in, "--cell", "1", "-o", out, "--bounds", "0", "0", "10"}, "--bounds takes four values"},
        {{in, "--cell", "2", "-o", out, "--bounds", "0", "0", "5", "4"}, "--bounds"},
        {{in, "--cell", "1", "-o", out, "--bounds", "5", "0", "0", "4"}, "--bounds"},
        {{in, "--cell", "1", "-o", out, "--type", "float64"}, "--type applies to a .tif output only"},
        {{in, "--cell", "1", "-o", out, "--output-type", "mean,count"},
         "-o " + out +
             ": an ASCII grid holds one statistic, and --output-type names 2 (mean,count): write them to "
             "a .tif, one band each"},
        {{in, "--cell", "1", "-o", out, "--output-type", "mean,median"},
         "--output-type: 'median' is none of min, max, mean, count, stdev, tin"},
        {{in, "--cell", "1", "-o", out, "--output-type", "min,tin"},
         "an ASCII grid holds one statistic, and --output-type names 2 (min,tin)"},
        {{in, "--cell", "1", "-o", out, "--output-type", "tin,max,tin"}, "--output-type: tin is named twice"},
        {{in, "--cell", "1", "-o", out, "--output-type", "tin", "--max-edge", "0"},
         "--max-edge: 0 is not a positive length"},
        {{in, "--cell", "1", "-o", out, "--output-type", "tin", "--max-edge", "-2"}, "--max-edge: -2 is not a"},
        {{in, "--cell", "1", "-o", out, "--output-type", "tin", "--max-edge", "inf"},
         "--max-edge: 'inf' is not a finite number"},
        {{in, "--cell", "1", "-o", out, "--max-edge", "3"}, "--max-edge applies to --output-type tin only"},
        {{in, "--cell", "1", "-o", out, "--output-type", "max", "--max-edge", "3"}, "--max-edge applies to"},
        {{in, "--cell", "1", "--tile-size", "10", "--output-type", "max", "--buffer", "3", "-o", plan},
         "--buffer applies to --output-type tin in tiles only"},
        {{in, "--cell", "1", "--output-type", "tin", "--buffer", "3", "-o", out}, "--buffer applies to"},
        {{in, "--cell", "1", "--tile-size", "10", "--output-type", "tin", "--buffer", "-1", "-o", plan},
         "--buffer: '-1' is not a whole number from 0"},
        {{in, "--cell", "1", "-o", out, "--output-type", "mean,"}, "--output-type: '' is none of"},
        {{in, "--cell", "1", "-o", out, "--output-type", "max,count,max"},
         "--output-type: max is named twice in 'max,count,max'"},
        {{in, "--cell", "1", "-o", out, "--like-console", "--output-type", "max"},
         "--output-type cannot be used with --like-console"},
        {{in, "--cell", "1", "-o", (dir / "o.tif").string(), "--nodata", "1e39"}, "does not fit a Float32 GeoTIFF"},
        {{in, "--cell", "1", "-o", out, "--threads", "0"}, "--threads"},
        {{in, "--cell", "1", "-o", out, "--like-console", "--class", "2"},
         "--class cannot be used with --like-console"},
        {{in, "--cell", "1", "-o", out, "--srs", "EPSG:99999999"}, "--srs"},
        {{in, "--cell", "1", "-o", out, "--srs", "EPSG:5773"}, "is neither a projected nor a geographic system"},
        {{in, "--cell", "0.1", "--tile-size", "0.25", "-o", out}, "--tile-size: 0.25 is not a whole number of cells"},
        {{in, "--cell", "1", "--tile-size", "10", "--like-console", "-o", out}, "--like-console cannot be used with"},
        {{in, "--cell", "1", "--tile-size", "10"}, "-o FOLDER is required with --tile-size"},
        {{"--cell", "1", "--tile-size", "10", "--bounds", "0", "0", "10", "10", "-o", out}, "no point file"},
        {{in, "--cell", "1", "--window", "0", "0", "2", "2", "-o", out}, "--window needs --bounds"},
        {{in, "--cell", "1", "--bounds", "0", "0", "10", "10", "--window", "5", "0", "6", "1", "-o", out},
         "--window: columns 5 to 10 are not inside the 10 columns of --bounds"},
        {{in, "--cell", "1", "--bounds", "0", "0", "10", "10", "--window", "0", "0", "1"},
         "--window takes four values"},
        {{in, "--cell", "1", "-o", out, "--frobnicate"}, "unknown option --frobnicate"},
        {{in, "--cell", "1", "--bounds", "0", "0", "4", "4", "--window", "0", "0", "2", "2", "--job", "3", "-o", out},
         "--job: '3' is not N/M"},
        {{in, "--cell", "1", "--bounds", "0", "0", "4", "4", "--window", "0", "0", "2", "2", "--job", "5/4", "-o", out},
         "--job: '5' is not a whole number from 1 to 4"},
        {{in, "--cell", "1", "--job", "1/4", "-o", out}, "--job needs --window"},
        {{"--mosaic", dir.path().string(), "--cell", "1"}, "--cell cannot be used with --mosaic"},
        {{"--mosaic", dir.path().string(), in}, "--mosaic FOLDER takes no point file"},
        {{in, "--cell=1", "-o", out, "--quiet=yes"}, "--quiet takes no value"},
        {{in, "--cell", "1", "-o", out, "-q=yes"}, "unknown option -q=yes"},
        {{in, "--cell", "1", "-o"}, "-o needs a value"},
        {{in, "--cell", "1", "-o", out, "--bounds=0", "0", "4", "4"}, "--bounds takes four values: --bounds XMIN"},
        // A second value would silently replace the first.
        {{in, "--cell", "1", "--cell", "2", "-o", out}, "--cell given twice: give it once"},
        {{in, "--cell", "1", "-o", out, "--output", out}, "-o given twice (as -o and --output): give it once"},
        {{in, "--cell", "1", "--bounds", "0", "0", "4", "4", "-o", out, "--bounds", "0", "0", "8", "8"},
         "--bounds given twice"},
        {{in, "--cell", "1", "--force", "-o", out}, "--force applies to --tile-size only"},
        // More than 100000 tiles: before the reading with --bounds, after it without.
        {{in, "--cell", "0.001", "--tile-size", "0.1", "--bounds", "0", "0", "100", "100", "-o", plan},
         "--tile-size 0.1 makes 1000000 tiles (1000 x 1000), more than 100000: give --force to plan them all"},
        {{wide, "--cell", "0.001", "--tile-size", "0.3", "-o", plan}, "makes 111556 tiles (334 x 334)"},
    };
    for (const Case& c : cases) {
        const Outcome r = grid(c.args);
        SCOPED_TRACE(c.says);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("kestranov-grid: ", 0), 0u) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a.xyz", "wide.xyz"}));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"--cell", "abc", "--help"}}) {
        const Outcome help = grid(args);
        EXPECT_EQ(help.status, 0);
        EXPECT_NE(help.out.find("usage: kestranov-grid --cell SIZE"), std::string::npos);
    }
}

namespace {

// The oracle: points on a 1/8 lattice and cells of 1/2 or 1, so that every
// difference and quotient below is exact in a double and floor() decides as
// real arithmetic does. Rows of the grid plus its ring, north first.
struct Oracle {
    double xmin, ymin, size;
    long cols, rows;
    std::vector<std::vector<double>> z;  // NaN: no point

    Oracle(double x0, double y0, double s, long c, long r)
        : xmin(x0), ymin(y0), size(s), cols(c), rows(r), z(r + 2, std::vector<double>(c + 2, std::nan("")))
    {
    }
    void add(double x, double y, double v, bool highest)
    {
        const long c = static_cast<long>(std::floor((x - xmin) / size));
        const long r = static_cast<long>(std::floor((ymin + static_cast<double>(rows) * size - y) / size));
        if (c < -1 || c > cols || r < -1 || r > rows) return;
        double& cell = z[r + 1][c + 1];
        if (std::isnan(cell) || (highest ? v > cell : v < cell)) cell = v;
    }
    // Inner cells, the fill read from the values as gridded.
    std::vector<std::vector<double>> filled(bool fill) const
    {
        std::vector<std::vector<double>> out(rows, std::vector<double>(cols));
        for (long r = 0; r < rows; ++r)
            for (long c = 0; c < cols; ++c) {
                double v = z[r + 1][c + 1];
                if (std::isnan(v) && fill) {
                    double sum = 0;
                    int n = 0;
                    for (const auto& [dr, dc] :
                         {std::pair{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}})
                        if (const double w = z[r + 1 + dr][c + 1 + dc]; !std::isnan(w)) sum += w, ++n;
                    if (n) v = sum / n;
                }
                out[r][c] = v;
            }
        return out;
    }
};

}  // namespace

// Random points on and off the cell edges, the ring and beyond, each cell's
// value against the oracle: through text and LAS, highest and lowest, with
// and without the fill, the empty cells as nodata.
TEST(GridCommand, EachCellHoldsWhatFellInsideItByTheEdgeRule)
{
    TempDir dir;
    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
        const double size = round % 2 ? 0.5 : 1.0;
        const long cols = 3 + round % 4, rows = 2 + round % 3;
        const double xmin = 1000 + round, ymin = -20.0 - round;
        const bool highest = round % 3 != 0, fill = round % 4 != 1;
        Oracle oracle(xmin, ymin, size, cols, rows);
        std::vector<SurveyPoint> pts;
        std::uniform_int_distribution<int> ex(-16, static_cast<int>((cols * size + 2) * 8)),
            ey(-16, static_cast<int>((rows * size + 2) * 8)), ez(-4000, 4000);
        const int count = 4 + round * 2;
        for (int k = 0; k < count; ++k) {
            const SurveyPoint p{xmin + ex(random) / 8.0, ymin + ey(random) / 8.0, ez(random) / 8.0};
            pts.push_back(p);
            oracle.add(p.x, p.y, p.z, highest);
        }
        std::vector<std::vector<double>> text;
        for (const SurveyPoint& p : pts) text.push_back({p.x, p.y, p.z});
        write_file(dir / "p.xyz", cloud_text(text));
        write_file(dir / "p.las", las_file(pts, round % 2 == 1));
        const std::vector<std::vector<double>> want = oracle.filled(fill);
        for (const char* input : {"p.xyz", "p.las"}) {
            SCOPED_TRACE(std::to_string(round) + " " + input);
            std::ostringstream b;
            b.precision(17);
            const Outcome r =
                grid({(dir / input).string(), "--cell", size == 1 ? "1" : "0.5", "--bounds", std::to_string(xmin),
                      std::to_string(ymin), std::to_string(xmin + cols * size), std::to_string(ymin + rows * size),
                      "--keep", highest ? "highest" : "lowest", "--fill", fill ? "once" : "none", "--nodata", "-77",
                      "-o", (dir / "g.asc").string()});
            ASSERT_EQ(r.status, 0) << r.err;
            const Ascii a = read_ascii(dir / "g.asc");
            EXPECT_EQ(a.header.at("ncols"), cols);
            EXPECT_EQ(a.header.at("nrows"), rows);
            EXPECT_EQ(a.header.at("xllcorner"), xmin);
            EXPECT_EQ(a.header.at("yllcorner"), ymin);
            EXPECT_EQ(a.header.at("NODATA_value"), -77);
            ASSERT_EQ(a.rows.size(), static_cast<std::size_t>(rows));
            long nodata = 0;
            for (long i = 0; i < rows; ++i) {
                ASSERT_EQ(a.rows[i].size(), static_cast<std::size_t>(cols));
                for (long j = 0; j < cols; ++j) {
                    const double w = want[i][j];
                    nodata += std::isnan(w);
                    EXPECT_EQ(a.rows[i][j], std::isnan(w) ? -77 : w) << i << " " << j;
                }
            }
            EXPECT_NE(r.out.find(std::to_string(nodata) + " nodata"), std::string::npos) << r.out;
            EXPECT_FALSE(fs::exists(dir / "g.prj"));
        }
    }
    // A corner typed -0 is a 0 wherever it is written: the grid's header,
    // the summary, the plan's summary and jobs.
    write_file(dir / "z.xyz", "-0 -0 -0\n1 1 2\n");
    const std::vector<std::string> at_zero = {
        (dir / "z.xyz").string(), "--cell", "1", "--bounds", "-0", "-0", "2", "2"};
    std::vector<std::string> one = at_zero, plan = at_zero;
    one.insert(one.end(), {"-o", (dir / "z.asc").string()});
    plan.insert(plan.end(), {"--tile-size", "1", "-o", (dir / "plan").string()});
    for (const Outcome& r : {grid(one), grid(plan)}) {
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("west 0 south 0 east 2 north 2"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find(" -0"), std::string::npos) << r.out;
    }
    EXPECT_EQ(read_file(dir / "z.asc").rfind("ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\n", 0), 0u);
    EXPECT_EQ(read_file(dir / "plan" / "jobs.txt").find(" -0 "), std::string::npos);
}

// --output-type: a band for each statistic, described by its name, nodata
// on each; the mean against exact arithmetic (a cell of 1e8 and 300 times
// 0.1, whose mean summing in doubles in file order misses), count 0 where
// no point fell and never filled; the same bytes on one thread and two,
// from the points in another order and split over two files.
TEST(GridCommand, StatisticsAreExactWhateverTheThreadsAndTheOrder)
{
    TempDir dir;
    std::mt19937_64 random(5);
    std::vector<std::vector<double>> pts = {{0.5, 3.5, 1e8}};
    for (int k = 0; k < 300; ++k) pts.push_back({0.5, 3.5, 0.1});
    // Columns 0 to 3 of rows 1 to 3, off the cell edges: column 4 is
    // filled, column 5 has no neighbour.
    for (int k = 0; k < 60000; ++k)
        pts.push_back({(static_cast<double>(random() % 4000) + 0.5) / 1000.0,
                       (static_cast<double>(random() % 3000) + 0.5) / 1000.0,
                       static_cast<double>(random() % 2000000) / 700.0 - 400});
    std::map<std::pair<int, int>, exact_oracle::CellSums> oracle;
    for (const auto& p : pts)
        oracle
            .emplace(std::pair{3 - static_cast<int>(p[1]), static_cast<int>(p[0])},
                     exact_oracle::CellSums{-70, 0, 0, {}})
            .first->second.add(p[2]);
    std::vector<std::vector<double>> shuffled = pts;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    const auto half = shuffled.begin() + static_cast<std::ptrdiff_t>(shuffled.size() / 2);
    write_file(dir / "a.xyz", cloud_text(pts));
    write_file(dir / "b.xyz", cloud_text(shuffled));
    write_file(dir / "c1.xyz", cloud_text({shuffled.begin(), half}));
    write_file(dir / "c2.xyz", cloud_text({half, shuffled.end()}));
    const std::vector<std::string> statistics = {"min", "max", "mean", "count", "stdev"};
    const auto run = [&](std::vector<std::string> files, const char* threads, const char* out) {
        files.insert(files.end(),
                     {"--cell", "1", "--bounds", "0", "0", "6", "4", "--type", "float64", "--threads", threads,
                      "--output-type", "min,max,mean,count,stdev", "--srs", "EPSG:2994", "-o", (dir / out).string()});
        const Outcome r = grid(files);
        EXPECT_EQ(r.status, 0) << r.err;
        return read_file(dir / out);
    };
    const std::string one = run({(dir / "a.xyz").string()}, "1", "one.tif");
    EXPECT_EQ(run({(dir / "a.xyz").string()}, "2", "two.tif"), one);
    EXPECT_EQ(run({(dir / "b.xyz").string()}, "2", "shuffled.tif"), one);
    EXPECT_EQ(run({(dir / "c1.xyz").string(), (dir / "c2.xyz").string()}, "2", "split.tif"), one);
    GDALAllRegister();
    GDALDataset* ds = GDALDataset::Open((dir / "one.tif").c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY);
    ASSERT_NE(ds, nullptr);
    ASSERT_EQ(ds->GetRasterCount(), 5);
    std::vector<std::vector<double>> band(5, std::vector<double>(24));
    for (int k = 0; k < 5; ++k) {
        GDALRasterBand* b = ds->GetRasterBand(k + 1);
        EXPECT_EQ(b->GetDescription(), statistics[static_cast<std::size_t>(k)]);
        // Elevations in the system's feet; a count of points has no unit.
        EXPECT_EQ(std::string(b->GetUnitType()), k == 3 ? "" : "ft");
        int has = 0;
        EXPECT_EQ(b->GetNoDataValue(&has), -9999);
        EXPECT_TRUE(has);
        EXPECT_EQ(b->RasterIO(GF_Read, 0, 0, 6, 4, band[static_cast<std::size_t>(k)].data(), 6, 4, GDT_Float64, 0, 0),
                  CE_None);
    }
    GDALClose(GDALDataset::ToHandle(ds));
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 6; ++c) {
            const auto at = static_cast<std::size_t>(r) * 6 + static_cast<std::size_t>(c);
            const auto cell = oracle.find({r, c});
            SCOPED_TRACE(std::to_string(r) + " " + std::to_string(c));
            EXPECT_EQ(band[3][at], cell == oracle.end() ? 0 : static_cast<double>(cell->second.count));
            if (cell != oracle.end()) {
                EXPECT_TRUE(exact_oracle::nearest_mean(cell->second, band[2][at])) << band[2][at];
                EXPECT_TRUE(exact_oracle::near_stdev(cell->second, band[4][at], 1)) << band[4][at];
            }
            for (const std::size_t k : {0, 1, 2, 4}) EXPECT_EQ(band[k][at] == -9999, c == 5);
        }
    double in_file_order = 0;
    for (int k = 0; k < 301; ++k) in_file_order += pts[static_cast<std::size_t>(k)][2];
    EXPECT_NE(in_file_order / 301, band[2][0]);
}

// A grid wider than a tile, two bands: a Cloud Optimized GeoTIFF (GDAL's
// own checker says so where it is installed) with the overviews it needs,
// each band in tiles of its own, the same bytes whether one thread
// compresses the tiles or three, and each cell's mean and count read back.
TEST(GridCommand, AGeoTiffOfSeveralTilesIsACogWhateverTheThreads)
{
    TempDir dir;
    // 1100 x 3 cells: three tiles a row, overviews 550 and 275 wide. The
    // middle row's cell c holds c % 3 points: c % 7, then 2 higher each.
    std::vector<std::vector<double>> pts;
    for (int c = 0; c < 1100; ++c)
        for (int k = 0; k < c % 3; ++k) pts.push_back({c + 0.5, 1.5, static_cast<double>(c % 7 + 2 * k)});
    write_file(dir / "a.xyz", cloud_text(pts));
    const auto run = [&](const char* threads, const std::string& out) {
        const Outcome r =
            grid({(dir / "a.xyz").string(), "--cell", "1", "--bounds", "0", "0", "1100", "3", "--fill", "none",
                  "--threads", threads, "--output-type", "mean,count", "-o", (dir / out).string()});
        EXPECT_EQ(r.status, 0) << r.err;
        return read_file(dir / out);
    };
    const std::string one = run("1", "one.tif");
    EXPECT_EQ(run("3", "three.tif"), one);
    GDALAllRegister();
    GDALDataset* ds = GDALDataset::Open((dir / "one.tif").c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY);
    ASSERT_NE(ds, nullptr);
    EXPECT_STREQ(ds->GetMetadataItem("INTERLEAVE", "IMAGE_STRUCTURE"), "BAND");
    std::vector<std::vector<double>> band(2, std::vector<double>(3300));
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    for (int k = 0; k < 2; ++k) {
        GDALRasterBand* b = ds->GetRasterBand(k + 1);
        EXPECT_EQ(b->GetDescription(), std::string(k ? "count" : "mean"));
        EXPECT_EQ(b->GetOverviewCount(), 2);
        EXPECT_EQ(
            b->RasterIO(GF_Read, 0, 0, 1100, 3, band[static_cast<std::size_t>(k)].data(), 1100, 3, GDT_Float64, 0, 0),
            CE_None);
        // The first overview as GDAL makes it of these cells with its own
        // mask of the nodata value (the writer makes the mask itself).
        const std::unique_ptr<GDALDataset> cells(mem->Create("", 1100, 3, 1, GDT_Float32, nullptr));
        const std::unique_ptr<GDALDataset> half(mem->Create("", 550, 1, 1, GDT_Float32, nullptr));
        cells->GetRasterBand(1)->SetNoDataValue(-9999), half->GetRasterBand(1)->SetNoDataValue(-9999);
        std::vector<double> expected(550), written(550);
        GDALRasterBandH level = GDALRasterBand::ToHandle(half->GetRasterBand(1));
        EXPECT_EQ(cells->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, 1100, 3, band[static_cast<std::size_t>(k)].data(),
                                                    1100, 3, GDT_Float64, 0, 0),
                  CE_None);
        ASSERT_EQ(GDALRegenerateOverviews(GDALRasterBand::ToHandle(cells->GetRasterBand(1)), 1, &level, "CUBIC",
                                          nullptr, nullptr),
                  CE_None);
        ASSERT_EQ(half->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, 550, 1, expected.data(), 550, 1, GDT_Float64, 0, 0),
                  CE_None);
        EXPECT_EQ(b->GetOverview(0)->RasterIO(GF_Read, 0, 0, 550, 1, written.data(), 550, 1, GDT_Float64, 0, 0),
                  CE_None)
            << CPLGetLastErrorMsg();
        EXPECT_EQ(written, expected) << k;
    }
    GDALClose(GDALDataset::ToHandle(ds));
    for (std::size_t at = 0; at < 3300; ++at) {
        const std::size_t row = at / 1100, c = at % 1100, n = row == 1 ? c % 3 : 0;
        SCOPED_TRACE(std::to_string(row) + " " + std::to_string(c));
        EXPECT_EQ(band[0][at], n ? static_cast<double>(c % 7 + n - 1) : -9999);
        EXPECT_EQ(band[1][at], static_cast<double>(n));
        if (HasFailure()) break;
    }
    const char* checker = "/usr/lib/python3/dist-packages/osgeo_utils/samples/validate_cloud_optimized_geotiff.py";
    if (!fs::exists(checker) || !fs::exists("/usr/bin/python3"))
        GTEST_SKIP() << "GDAL's COG checker is missing: " << checker;
    const std::string command = std::string("/usr/bin/python3 ") + checker + " " + (dir / "one.tif").string() + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string said;
    for (int ch = 0; (ch = std::fgetc(pipe)) != EOF;) said += static_cast<char>(ch);
    EXPECT_EQ(pclose(pipe), 0) << said;
    EXPECT_EQ(said.rfind((dir / "one.tif").string() + " is a valid cloud optimized GeoTIFF\n", 0), 0u) << said;
}

// Without --bounds the extent is the points', snapped outward to multiples
// of the cell, a point on an edge in the cell east or south of it: the
// north-east point lies on a column edge (one more column) and on the north
// edge (row 0), the south-west one on the west edge.
TEST(GridCommand, WithoutBoundsTheExtentSnapsOutwardToTheCell)
{
    TempDir dir;
    write_file(dir / "p.xyz", "10.5 20.25 1\n13 22 2\n11 21.5 3\n");
    const Outcome r = grid({(dir / "p.xyz").string(), "--cell", "0.5", "-o", (dir / "g.asc").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const Ascii a = read_ascii(dir / "g.asc");
    EXPECT_EQ(a.header.at("xllcorner"), 10.5);
    EXPECT_EQ(a.header.at("yllcorner"), 20);
    EXPECT_EQ(a.header.at("ncols"), 6);  // 10.5 .. 13.5: 13 lies in the last column
    EXPECT_EQ(a.header.at("nrows"), 4);  // 20 .. 22: 22 lies in the first row
    EXPECT_EQ(a.rows[0][5], 2);          // the north-east point
    EXPECT_EQ(a.rows[3][0], 1);
    const std::string text = read_file(dir / "g.asc");
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.rfind("ncols 6\nnrows 4\nxllcorner 10.5\nyllcorner 20\ncellsize 0.5\nNODATA_value -9999\n", 0), 0u);

    // Far from 0 on cells no binary fraction holds, GDAL reads each point's
    // value at its own coordinates, in the GeoTIFF and in the ESRI grid,
    // whose corners place the cells alike: the extent's corners half a cell
    // inside their cells, points 16 ulps inside a corner of a cell of their
    // own (beyond the rounding of GDAL's inverse geotransform, see
    // grid/lattice.h), and a pair whose west point, on the grid's west edge,
    // GDAL once read one column east of the snapped corner written.
    if (std::system("command -v gdallocationinfo >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gdallocationinfo is not installed (gdal-bin)";
    const struct {
        const char* size;
        std::int64_t kx, ky;
    } far[] = {
        {"0.1", 4800000, 0}, {"0.05", 100000000, 100000000}, {"0.3", -1600001, -16666666}, {"0.1", -4800000, 21500000}};
    std::mt19937 random(11);
    std::vector<std::pair<const char*, std::vector<std::vector<double>>>> clouds = {
        {"0.1", {{480000, 0, 1}, {480000.35, 0.35, 2}}}};
    for (const auto& f : far) {
        const double size = std::stod(f.size), x0 = size * static_cast<double>(f.kx) + size / 2,
                     y0 = size * static_cast<double>(f.ky) + size / 2;
        std::vector<std::vector<double>> pts = {{x0, y0, 1}, {x0 + 8 * size, y0 + 6 * size, 2}};
        const kestranov::Lattice l = kestranov::lattice_snapped(x0, y0, x0 + 8 * size, y0 + 6 * size, size).lattice;
        ASSERT_EQ(l.cols, 9);
        ASSERT_EQ(l.rows, 7);
        const auto inward = [](double edge, double toward) {
            for (int k = 0; k < 16; ++k) edge = std::nextafter(edge, toward);
            return edge;
        };
        for (std::int64_t c = 1; c < l.cols - 1; ++c)
            for (std::int64_t row = 1; row < l.rows - 1; ++row) {
                const double west = l.xmin + static_cast<double>(c) * size,
                             north = l.ymax - static_cast<double>(row) * size;
                const double x = random() % 2 ? inward(west + size, -HUGE_VAL) : inward(west, HUGE_VAL);
                const double y = random() % 2 ? inward(north - size, HUGE_VAL) : inward(north, -HUGE_VAL);
                pts.push_back({x, y, static_cast<double>(pts.size() + 1)});
            }
        clouds.emplace_back(f.size, pts);
    }
    for (const auto& [size, pts] : clouds) {
        write_file(dir / "far.xyz", cloud_text(pts));
        std::ostringstream xy;
        xy.precision(17);
        for (const auto& p : pts) xy << p[0] << ' ' << p[1] << '\n';
        write_file(dir / "at.txt", xy.str());
        std::array<double, 6> transform[2];
        for (const char* out : {"far.tif", "far.asc"}) {
            SCOPED_TRACE(std::string(out) + " cells of " + size + " from " + std::to_string(pts[0][0]));
            const fs::path raster = dir / out, read = dir / "read.txt";
            const Outcome g =
                grid({(dir / "far.xyz").string(), "--cell", size, "--fill", "none", "-o", raster.string()});
            ASSERT_EQ(g.status, 0) << g.err;
            ASSERT_EQ(std::system(("gdallocationinfo -valonly -geoloc '" + raster.string() + "' < '" +
                                   (dir / "at.txt").string() + "' > '" + read.string() + "'")
                                      .c_str()),
                      0);
            std::istringstream lines(read_file(read));
            for (const auto& p : pts) {
                std::string line;
                std::getline(lines, line);
                EXPECT_EQ(line, std::to_string(static_cast<int>(p[2]))) << cloud_text({p});
            }
            GDALAllRegister();
            GDALDataset* ds = GDALDataset::Open(raster.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY);
            ASSERT_NE(ds, nullptr);
            ds->GetGeoTransform(transform[out[4] == 'a'].data());
            GDALClose(GDALDataset::ToHandle(ds));
        }
        EXPECT_EQ(transform[0], transform[1]);
    }
}

// The first reading takes a LAZ file's extent from its header and the
// second checks it: wrong bounds (too wide, too narrow, a grid too large
// for any memory, none) give the grid and the summary of right ones.
TEST(GridCommand, WrongLazHeaderBoundsGiveTheGridOfRightOnes)
{
    TempDir dir;
    const std::string right = read_file(fs::path(KESTRANOV_TEST_DATA) / "laz" / "point10_4x10.laz");
    const auto run = [&](const std::string& bytes) {
        write_file(dir / "p.laz", bytes);
        const Outcome r = grid({(dir / "p.laz").string(), "--cell", "2", "-o", (dir / "g.asc").string()});
        return std::pair(r.status == 0 ? r.out : r.err, read_file(dir / "g.asc"));
    };
    const auto expected = run(right);
    constexpr std::size_t max_x = 179, min_x = 187, max_y = 195, min_y = 203;  // the header's doubles
    const std::vector<std::vector<std::pair<std::size_t, double>>> wrong = {
        {{min_x, field<double>(right, min_x) - 100}},
        {{max_y, field<double>(right, max_y) - 2}},
        {{min_x, -2e7}, {min_y, -2e7}},
        {{max_x, std::numeric_limits<double>::quiet_NaN()}},
    };
    for (const auto& patches : wrong) {
        std::string bytes = right;
        for (const auto& [at, value] : patches) patch<double>(bytes, at, value);
        EXPECT_EQ(run(bytes), expected) << patches[0].first;
    }
}

// --like-console makes the console's own file, byte for byte: the same
// points, cell and return through the console's dialogue and through the
// command, on 1 to 3 threads, over one file or several.
TEST(GridCommand, LikeConsoleWritesTheConsolesAsciiGrid)
{
    struct Case {
        std::vector<std::string> clouds;
        const char* cell;
        int retorno;
    };
    // Points 0.5 apart, every other one in a second file, under cells of 0.75.
    std::vector<std::vector<double>> even, odd;
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 9; ++j)
            ((i + j) % 2 ? odd : even).push_back({100.125 + i * 0.5, 200.25 + j * 0.5, (i * j) * 0.37 - 1});
    std::vector<Case> cases = {
        {{cloud_for({{5, 6, 7}, {8, 0, 9}, {1, 2, 3}})}, "1", 0},
        {{cloud_for({{5, 6, 7}, {8, 0, 9}, {1, 2, 3}})}, "1", 1},
        {{cloud_text(even), cloud_text(odd)}, "0.75", 1},
    };
    for (const char* name : {"pdal_autzen_rect_ft.xyz", "pdal_hexbin_rect_utm42n.xyz"})
        if (fs::exists(shared / name)) cases.push_back({{read_file(shared / name)}, name[5] == 'a' ? "5" : "2", 0});
    for (const Case& c : cases)
        for (const char* threads : {"1", "2", "3"}) {
            SCOPED_TRACE(std::string(c.cell) + " " + std::to_string(c.retorno) + " threads " + threads);
            Session s;
            std::vector<std::string> names, args;
            for (std::size_t k = 0; k < c.clouds.size(); ++k) {
                names.push_back("part" + std::to_string(k));
                s.put(names.back() + ".xyz", c.clouds[k]);
                args.push_back(s.zone(names.back() + ".xyz").string());
            }
            ASSERT_EQ(s.run(gridding_answers(names, c.cell, c.retorno) + "dem\n0\n"), 0) << s.console();
            const fs::path mine = s.zone("mine.asc");
            for (const char* a : {"--cell", c.cell, "--keep", c.retorno ? "lowest" : "highest", "--like-console",
                                  "--threads", threads, "-o"})
                args.emplace_back(a);
            args.push_back(mine.string());
            const Outcome r = grid(args);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(read_file(mine), read_file(s.zone("dem_lidar.asc")));
        }
}

// The console's density check still holds with --like-console: one line,
// status 1, nothing written.
TEST(GridCommand, LikeConsoleStopsWhereTheConsoleStops)
{
    TempDir dir;
    write_file(dir / "p.xyz", "0 0 1\n10 10 2\n");
    const Outcome r = grid({(dir / "p.xyz").string(), "--cell", "1", "--like-console", "-o", (dir / "g.asc").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("kestranov-grid: Despite an attempt to eliminate the pits"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(dir / "g.asc"));
}

// --class and --return keep what a plain reading of the records keeps: the
// grid of the filtered LAS is the grid of a text file of the points the
// test's own rule kept, for both record layouts, with records whose return
// number is 0 or beyond their count of returns among them, and with the
// synthetic, key-point and withheld flags set beside their classes.
TEST(GridCommand, FiltersKeepThePointsTheirRuleNames)
{
    TempDir dir;
    std::mt19937 random(11);
    std::uniform_int_distribution<int> coordinate(0, 400), height(0, 3000), cls(0, 9), ret(0, 5);
    std::vector<SurveyPoint> pts;
    for (int k = 0; k < 600; ++k) {
        SurveyPoint p{500 + coordinate(random) / 8.0, 700 + coordinate(random) / 8.0, height(random) / 8.0};
        p.classification = cls(random), p.returns = ret(random), p.return_number = ret(random);
        p.flags = static_cast<int>(random() % 8);
        pts.push_back(p);
    }
    struct Case {
        const char* classes;  // nullptr: no --class
        const char* returns;
    };
    const auto keeps = [](const Case& c, const SurveyPoint& p) {
        if (c.classes) {
            bool listed = false;
            std::istringstream list(c.classes);
            for (std::string one; std::getline(list, one, ',');) listed |= std::stoi(one) == p.classification;
            if (!listed) return false;
        }
        const std::string r = c.returns;
        const bool sane = p.return_number >= 1 && p.return_number <= p.returns;
        if (r == "first") return sane && p.return_number == 1;
        if (r == "last") return sane && p.return_number == p.returns;
        if (r == "only") return sane && p.returns == 1;
        return true;
    };
    for (const Case c : {Case{"2", "any"}, Case{"2,5,9", "any"}, Case{nullptr, "first"}, Case{nullptr, "last"},
                         Case{nullptr, "only"}, Case{"3,4", "last"}})
        for (const bool v14 : {false, true}) {
            SCOPED_TRACE(std::string(c.classes ? c.classes : "-") + " " + c.returns + (v14 ? " 1.4" : " 1.2"));
            std::vector<std::vector<double>> kept;
            for (const SurveyPoint& p : pts)
                if (keeps(c, p)) kept.push_back({p.x, p.y, p.z});
            write_file(dir / "s.las", las_file(pts, v14));
            write_file(dir / "kept.xyz", cloud_text(kept));
            std::vector<std::string> args = {(dir / "s.las").string(),
                                             "--cell",
                                             "2",
                                             "--bounds",
                                             "490",
                                             "690",
                                             "560",
                                             "760",
                                             "--return",
                                             c.returns,
                                             "-o",
                                             (dir / "f.asc").string()};
            if (c.classes) args.insert(args.end(), {"--class", c.classes});
            const Outcome filtered = grid(args);
            ASSERT_EQ(filtered.status, 0) << filtered.err;
            const Outcome plain = grid({(dir / "kept.xyz").string(), "--cell", "2", "--bounds", "490", "690", "560",
                                        "760", "-o", (dir / "k.asc").string()});
            ASSERT_EQ(plain.status, 0) << plain.err;
            EXPECT_EQ(read_file(dir / "f.asc"), read_file(dir / "k.asc"));
            EXPECT_NE(filtered.out.find("kept " + std::to_string(kept.size())), std::string::npos) << filtered.out;
        }
}

namespace {

std::string wkt_of_epsg(int code)
{
    OGRSpatialReference srs;
    srs.importFromEPSG(code);
    char* text = nullptr;
    srs.exportToWkt(&text);
    std::string wkt = text;
    CPLFree(text);
    return wkt + '\0';
}

// GeoTIFF keys naming EPSG:`code` as a projected system, as a LAS record holds them.
std::string geokeys_of_epsg(int code)
{
    const int keys[] = {1, 1, 0, 3, 1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, code};
    std::string b;
    for (const int k : keys) b += static_cast<char>(k & 0xff), b += static_cast<char>(k >> 8);
    return b;
}

// The system of a GeoTIFF, or of an ASCII grid's .prj, and its band's unit.
struct Written {
    OGRSpatialReference srs;
    bool has_srs = false;
    std::string unit;
};

Written written_srs(const fs::path& p)
{
    GDALAllRegister();
    Written w;
    GDALDataset* ds = GDALDataset::Open(p.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY);
    if (!ds) return w;
    if (const OGRSpatialReference* srs = ds->GetSpatialRef()) w.srs = *srs, w.has_srs = true;
    w.unit = ds->GetRasterBand(1)->GetUnitType();
    GDALClose(GDALDataset::ToHandle(ds));
    return w;
}

}  // namespace

// The files' system reaches the GeoTIFF and the .prj, with the band's unit
// and the summary's after its linear unit; files of two systems need --srs,
// which also overrides; text files hold none, and say so. Records GDAL
// cannot read are a warning, not a refusal.
TEST(GridCommand, TheFilesCoordinateSystemReachesTheOutputs)
{
    TempDir dir;
    const std::vector<SurveyPoint> pts = {{10, 10, 1}, {11, 12, 2}, {13, 11, 3}};
    write_file(dir / "utm.las", las_file(pts, true, {{2112, wkt_of_epsg(32642)}}));
    write_file(dir / "other.las", las_file(pts, true, {{2112, wkt_of_epsg(2994)}}));
    write_file(dir / "keys.las", las_file(pts, false, {{34735, geokeys_of_epsg(32642)}}));
    write_file(dir / "bad_keys.las", las_file(pts, false, {{34735, "\x01\x00"}}));
    std::string short_keys = geokeys_of_epsg(32642);
    short_keys[6] = static_cast<char>(200);  // 200 keys announced, 3 held
    write_file(dir / "short_keys.las", las_file(pts, false, {{34735, short_keys}}));
    // A user's delivery: its WKT record holds two quote characters.
    write_file(dir / "quotes.las", las_file(pts, true, {{2112, "''"}}));
    write_file(dir / "no_text.las", las_file(pts, true, {{2112, std::string(4, '\0')}}));
    write_file(dir / "quotes_keys.las", las_file(pts, false, {{2112, "''"}, {34735, geokeys_of_epsg(32642)}}));
    write_file(dir / "p.xyz", "10 10 1\n");
    OGRSpatialReference utm;
    utm.importFromEPSG(32642);
    for (const char* out : {"u.tif", "u.asc", "k.tif"}) {
        const Outcome r = grid(
            {(dir / (out[0] == 'k' ? "keys.las" : "utm.las")).string(), "--cell", "1", "-o", (dir / out).string()});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("cells of 1 metre"), std::string::npos) << r.out;
        const Written w = written_srs(dir / out);
        ASSERT_TRUE(w.has_srs) << out;
        EXPECT_TRUE(w.srs.IsSame(&utm)) << out;
        if (out[2] == 't') {
            EXPECT_EQ(w.unit, "m");
        }
    }
    EXPECT_TRUE(fs::exists(dir / "u.prj"));

    const Outcome clash =
        grid({(dir / "utm.las").string(), (dir / "other.las").string(), "--cell", "1", "-o", (dir / "c.tif").string()});
    EXPECT_EQ(clash.status, 1);
    EXPECT_NE(clash.err.find("hold different coordinate systems"), std::string::npos) << clash.err;
    EXPECT_FALSE(fs::exists(dir / "c.tif"));
    // Unreadable records: one warning line naming the first such file, and
    // the DEM without a system, or in the readable files' system; --srs or
    // readable keys beside an empty WKT leave nothing to warn of.
    const std::string none = "the DEM is written without a coordinate system (--srs sets one)";
    const struct {
        std::vector<const char*> files;
        const char* warning;  // after "kestranov-grid: warning: <first file>: "; empty: no warning
        const char* summary;
        bool utm;  // the output's system; else none
        std::vector<const char*> more = {};
    } unreadable[] = {
        {{"quotes.las"},
         "GDAL cannot read its coordinate system record (OGC WKT ''); ",
         "coordinate system: none (the coordinate system record of ",
         false},
        {{"no_text.las"}, "its coordinate system record (OGC WKT) is empty; ", "coordinate system: none", false},
        {{"bad_keys.las"}, "its GeoTIFF key records are malformed; ", "coordinate system: none", false},
        {{"short_keys.las", "quotes.las"},
         "its GeoTIFF keys describe no coordinate system GDAL can read, nor those of 1 other file; ",
         "coordinate system: none (the coordinate system records of 2 files (the first: ",
         false},
        {{"quotes.las", "p.xyz", "utm.las"},
         "GDAL cannot read its coordinate system record (OGC WKT ''); its points are taken to be in the other "
         "files' system, WGS 84 / UTM zone 42N",
         "note: the coordinate system record of ",
         true},
        {{"quotes.las"},
         "",
         "coordinate system: WGS 84 / UTM zone 42N (EPSG:32642), from --srs",
         true,
         {"--srs", "EPSG:32642"}},
        {{"quotes_keys.las"}, "", "coordinate system: WGS 84 / UTM zone 42N (EPSG:32642), from the files", true},
    };
    for (const auto& c : unreadable) {
        SCOPED_TRACE(c.files[0] + std::string(" ") + c.summary);
        std::vector<std::string> args = {"--cell", "1", "-o", (dir / "w.tif").string()};
        for (const char* f : c.files) args.push_back((dir / f).string());
        args.insert(args.end(), c.more.begin(), c.more.end());
        const Outcome r = grid(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string warned = *c.warning ? "kestranov-grid: warning: " + args[4] + ": " + c.warning : "";
        EXPECT_EQ(r.err.substr(0, warned.size()), warned);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), *c.warning ? 1 : 0) << r.err;
        if (*c.warning && !c.utm) {
            EXPECT_TRUE(r.err.ends_with(none + "\n")) << r.err;
        }
        EXPECT_NE(r.out.find(c.summary), std::string::npos) << r.out;
        const Written w = written_srs(dir / "w.tif");
        EXPECT_EQ(w.has_srs, c.utm);
        if (c.utm) {
            EXPECT_TRUE(w.srs.IsSame(&utm));
        }
    }
    // A plan warns once, for its tiles; its jobs read the records again and keep to their one line.
    const std::string quotes = (dir / "quotes.las").string();
    const Outcome plan = grid({quotes, "--cell", "1", "--tile-size", "2", "-o", (dir / "plan").string()});
    ASSERT_EQ(plan.status, 0) << plan.err;
    EXPECT_EQ(plan.err, "kestranov-grid: warning: " + quotes +
                            ": GDAL cannot read its coordinate system record (OGC WKT ''); the tiles are written "
                            "without a coordinate system (--srs sets one)\n");
    const std::string tile = (dir / "plan" / "tiles" / "0_0.tif").string();
    const Outcome job = grid({quotes, "--cell", "1", "--bounds", "10", "10", "14", "13", "--window", "0", "0", "2", "2",
                              "--job", "1/4", "-o", tile});
    ASSERT_EQ(job.status, 0) << job.err;
    EXPECT_EQ(job.err, "");
    EXPECT_EQ(job.out, "tile 1/4: 1 point, 1 file, 4 cells (0 nodata) -> " + tile + "\n");
    // Readable systems that differ still stop the run, an unreadable one beside them or not.
    const Outcome clash3 = grid({(dir / "quotes.las").string(), (dir / "utm.las").string(),
                                 (dir / "other.las").string(), "--cell", "1", "-o", (dir / "c.tif").string()});
    EXPECT_EQ(clash3.status, 1);
    EXPECT_NE(clash3.err.find("hold different coordinate systems"), std::string::npos) << clash3.err;
    EXPECT_FALSE(fs::exists(dir / "c.tif"));
    // --srs settles it; a system in feet says which foot, in the summary and the band.
    const struct {
        const char* srs;
        const char* cell;
        const char* summary;
        const char* band;
    } chosen_systems[] = {{"EPSG:2994", "1", "cells of 1 foot", "ft"},
                          {"EPSG:2264", "1", "cells of 1 US survey foot", "US survey foot"},
                          {"EPSG:2264", "2", "cells of 2 US survey feet", "US survey foot"}};
    for (const auto& c : chosen_systems) {
        const Outcome chosen = grid({(dir / "utm.las").string(), (dir / "other.las").string(), "--cell", c.cell,
                                     "--srs", c.srs, "-o", (dir / "c.tif").string()});
        ASSERT_EQ(chosen.status, 0) << chosen.err;
        const Written w = written_srs(dir / "c.tif");
        OGRSpatialReference named;
        named.SetFromUserInput(c.srs);
        EXPECT_TRUE(w.srs.IsSame(&named)) << c.srs;
        EXPECT_EQ(w.unit, c.band);
        EXPECT_NE(chosen.out.find(c.summary), std::string::npos) << chosen.out;
    }

    // A grid without a system over one that had it: the old .prj goes, a
    // .PRJ too (GDAL reads either), and the summary says so.
    write_file(dir / "u.PRJ", "PROJCS[\"older\"]");
    const Outcome text = grid({(dir / "p.xyz").string(), "--cell", "1", "-o", (dir / "u.asc").string()});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("coordinate system: none"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("removed " + (dir / "u.prj").string() + ", " + (dir / "u.PRJ").string() + ": they held"),
              std::string::npos)
        << text.out;
    EXPECT_FALSE(fs::exists(dir / "u.prj"));
    EXPECT_FALSE(fs::exists(dir / "u.PRJ"));
    EXPECT_FALSE(written_srs(dir / "u.asc").has_srs);
    // With a system, an older .PRJ beside the new .prj goes too.
    write_file(dir / "u.PRJ", "PROJCS[\"older\"]");
    const Outcome again = grid({(dir / "utm.las").string(), "--cell", "1", "-o", (dir / "u.asc").string()});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("removed " + (dir / "u.PRJ").string() + ": it held"), std::string::npos) << again.out;
    EXPECT_FALSE(fs::exists(dir / "u.PRJ"));
    EXPECT_TRUE(written_srs(dir / "u.asc").srs.IsSame(&utm));
    const Outcome degrees =
        grid({(dir / "p.xyz").string(), "--cell", "1", "--srs", "EPSG:4326", "-o", (dir / "d.tif").string()});
    ASSERT_EQ(degrees.status, 0) << degrees.err;
    EXPECT_NE(degrees.out.find("cells of 1 degree,"), std::string::npos) << degrees.out;

    // A real delivery in feet whose system is in GeoTIFF keys, without an authority code.
    const fs::path autzen = shared / "las" / "autzen_trim.las";
    if (!fs::exists(autzen)) GTEST_SKIP() << no_sample(autzen);
    const Outcome feet = grid({autzen.string(), "--cell", "10", "-o", (dir / "a.tif").string()});
    ASSERT_EQ(feet.status, 0) << feet.err;
    const Written a = written_srs(dir / "a.tif");
    ASSERT_TRUE(a.has_srs);
    EXPECT_DOUBLE_EQ(a.srs.GetLinearUnits(), 0.3048);
    EXPECT_EQ(a.unit, "ft");
    const Outcome prj = grid({autzen.string(), "--cell", "10", "-o", (dir / "a.asc").string()});
    ASSERT_EQ(prj.status, 0) << prj.err;
    OGRSpatialReference from_prj;
    ASSERT_EQ(from_prj.importFromWkt(read_file(dir / "a.prj").c_str()), OGRERR_NONE);
    EXPECT_DOUBLE_EQ(from_prj.GetLinearUnits(), 0.3048);
}

// On a terminal the progress line tells the part of each file read: of a
// LAS header's count, of a text file's bytes; in a log there is none.
TEST(GridCommand, ProgressTellsThePartOfEachFileRead)
{
    TempDir dir;
    std::vector<SurveyPoint> pts;
    std::vector<std::vector<double>> text;
    for (int k = 0; k < 300000; ++k) {
        const int column = k % 1000, row = k / 1000;
        pts.push_back({column * 0.5, row * 0.5, k % 7 * 1.0});
        text.push_back({pts.back().x, pts.back().y, pts.back().z});
    }
    const std::string las = (dir / "p.las").string(), xyz = (dir / "p.xyz").string();
    write_file(las, las_file(pts, false));
    write_file(xyz, cloud_text(text));
    kestranov::PointFiles door = kestranov::gridder::door_files({las, xyz}, {});
    door.seams.block_size = 1 << 16;
    std::ostringstream shown;
    kestranov::gridder::Progress progress(&shown, std::chrono::milliseconds(0));
    kestranov::gridder::DoorProgress told(progress, door);
    kestranov::SeenFiles seen;
    kestranov::gridder::read_all(told, door, seen, kestranov::Wanted::points,
                                 [](const kestranov::Point*, std::size_t) {});
    const std::string t = shown.str();
    for (const char* part : {"100000 points (33%)", "200000 points (66%)", "300000 points (100%)"})
        EXPECT_NE(t.find("\rfile 1/2 " + las + ": " + part), std::string::npos) << part << t;
    // The text's bytes: read ahead of the records by a block at most.
    std::vector<int> percents;
    for (std::size_t at = t.find("\rfile 2/2 "); (at = t.find("points (", at)) != std::string::npos; ++at)
        percents.push_back(std::stoi(t.substr(at + 8)));
    ASSERT_EQ(percents.size(), 3u) << t;
    EXPECT_NEAR(percents[0], 33, 3);
    EXPECT_NEAR(percents[1], 66, 3);
    EXPECT_EQ(percents[2], 100);
    const Outcome logged = grid({las, xyz, "--cell", "10", "-o", (dir / "g.asc").string()});
    ASSERT_EQ(logged.status, 0);
    EXPECT_EQ(logged.err, "");
}

// Each failure: status 1, one line naming the file or the option at fault,
// and no output left behind.
TEST(GridCommand, AFailureIsOneLineAndLeavesNothing)
{
    TempDir dir;
    write_file(dir / "p.xyz", "0 0 1\n9 9 2\n");
    write_file(dir / "zero.xyz", "0 0 0\n2 2 5\n");
    write_file(dir / "q.xyz", "0 0 1\n9 9 2\n2 2 0\n");
    write_file(dir / "odd.xyz", "0 0 1\n3.5 8.5 0\n");
    write_file(dir / "last.xyz", "0 0 1\n8.5 8.5 0\n");
    write_file(dir / "huge.xyz", "2.5 0.5 1e300\n0.5 2.5 2e300\n");
    write_file(dir / "s.las", las_file({{0, 0, 1}, {9, 9, 2}}, false));
    write_file(dir / "cut.las", las_file({{0, 0, 1}, {9, 9, 2}}, false).substr(0, 240));
    fs::create_directory(dir / "empty");
    write_file(dir / "empty" / "notes.txt", "no points here\n");
    fs::create_symlink(dir / "p.xyz", dir / "link.asc");
    // A folder's point files that cannot be read are refused as if named:
    // a link to nothing, a FIFO (never opened to wait for a writer).
    for (const char* folder : {"links", "fifo"}) {
        fs::create_directory(dir / folder);
        write_file(dir / folder / "a.xyz", "0 0 1\n9 9 2\n");
        write_file(dir / folder / "notes.txt", "not a point file\n");
    }
    fs::create_symlink(dir / "none.xyz", dir / "links" / "b.xyz");
    // A name with a backslash, and the file a reading that took it for a
    // folder separator would open in its place.
    const fs::path backslash = dir / "links" / "d\\e.xyz";
    write_file(backslash, "0 0 3\n9 9 4\n");
    fs::create_directory(dir / "links" / "d");
    write_file(dir / "links" / "d" / "e.xyz", "0 0 1\n9 9 2\n");
    ASSERT_EQ(mkfifo((dir / "fifo" / "c.las").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir / "links" / "c.xyz").c_str(), 0600), 0);
    const std::string out = (dir / "g.asc").string(), fifo = (dir / "fifo" / "c.las").string();
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{(dir / "p.xyz").string(), "--cell", "1", "--gaps", "fail", "-o", out}, "cells hold no value after the fill"},
        {{(dir / "p.xyz").string(), "--cell", "1", "--class", "2", "-o", out},
         (dir / "p.xyz").string() + ": a text point file holds no classes"},
        {{(dir / "none.las").string(), "--cell", "1", "-o", out}, "none.las: no such file or folder"},
        {{(dir / "links").string(), "--cell", "1", "-o", out},
         (dir / "links" / "b.xyz").string() + ": a link to nothing (its target is missing) (--skip-unreadable"},
        {{(dir / "links" / "b.xyz").string(), "--cell", "1", "-o", out}, "b.xyz: a link to nothing"},
        {{(dir / "fifo").string(), "--cell", "1", "-o", out}, fifo + ": not a regular file"},
        {{fifo, "--cell", "1", "-o", out}, fifo + ": not a regular file"},
        {{(dir / "fifo").string(), "--cell", "1", "--tile-size", "4", "-o", out}, fifo + ": not a regular file"},
        {{(dir / "empty").string(), "--cell", "1", "-o", out}, "the folder holds no point file"},
        {{(dir / "cut.las").string(), "--cell", "1", "-o", out}, "cut.las"},
        {{(dir / "s.las").string(), "--cell", "1", "--class", "7", "-o", out}, "no point passes the filters"},
        {{(dir / "p.xyz").string(), "--cell", "1", "-o", (dir / "link.asc").string()}, "would destroy the points"},
        // Told before any reading: the damaged file would fail otherwise.
        {{(dir / "cut.las").string(), "--cell", "1", "-o", (dir / "no" / "g.tif").string()},
         "-o " + (dir / "no" / "g.tif").string() + ": the folder " + (dir / "no").string() + " does not exist"},
        {{(dir / "p.xyz").string(), "--cell", "1", "-o", (dir / "p.xyz" / "g.asc").string()},
         (dir / "p.xyz").string() + " is not a folder"},
        {{"--mosaic", (dir / "empty").string()}, "/empty: no jobs.txt: not the folder of a plan"},
        // A real elevation equal to the nodata value, -0 for 0 included, would read as empty.
        {{(dir / "p.xyz").string(), "--cell", "1", "--nodata", "2", "-o", out}, "holds 2, the nodata value"},
        {{(dir / "zero.xyz").string(), "--cell", "1", "--fill", "none", "--nodata", "-0", "-o", out},
         "holds 0, the nodata value"},
        // The first such cell named, in a row of values and empty cells, or of counts.
        {{(dir / "q.xyz").string(), "--cell", "1", "--fill", "none", "--nodata", "0", "-o", out},
         "the cell of row 7, column 2 from the north-west holds 0, the nodata value"},
        // In an odd column, and in the last of a row of 9.
        {{(dir / "odd.xyz").string(), "--cell", "1", "--bounds", "0", "0", "9", "9", "--fill", "none", "--nodata", "0",
          "-o", out},
         "the cell of row 0, column 3 from the north-west holds 0,"},
        {{(dir / "last.xyz").string(), "--cell", "1", "--bounds", "0", "0", "9", "9", "--fill", "none", "--nodata", "0",
          "-o", out},
         "the cell of row 0, column 8 from the north-west holds 0,"},
        {{(dir / "p.xyz").string(), "--cell", "1", "--fill", "none", "--nodata", "0", "--output-type", "max,count",
          "-o", (dir / "c.tif").string()},
         "the cell of row 0, column 0 from the north-west holds 0 (count), the nodata value"},
        // Cells named from 0 from the north-west, and their band among several.
        {{(dir / "huge.xyz").string(), "--cell", "1", "--bounds", "0", "0", "3", "3", "--fill", "none", "--output-type",
          "count,stdev,mean", "-o", (dir / "huge.tif").string()},
         "huge.tif: the value 2e+300 of row 0, column 0 from the north-west in the mean band does not fit a Float32"},
        // A value that only becomes the nodata value once both are Float32,
        // told by the encoder from what the check gathered: its cell, and
        // its band, the tin band (not gathered) taking its place before it.
        {{(dir / "p.xyz").string(), "--cell", "1", "--fill", "none", "--nodata", "1.00000001", "-o",
          (dir / "f.tif").string()},
         "f.tif: the elevation of row 9, column 0 from the north-west would read as the nodata value once both are "
         "Float32"},
        {{(dir / "p.xyz").string(), "--cell", "1", "--nodata", "1.00000001", "--output-type", "count,max", "-o",
          (dir / "f.tif").string()},
         "the value of row 0, column 9 from the north-west in the count band would read as the nodata value"},
        {{(dir / "p.xyz").string(), "--cell", "1", "--fill", "none", "--nodata", "1.00000001", "--output-type",
          "tin,max", "-o", (dir / "f.tif").string()},
         "the value of row 9, column 0 from the north-west in the max band would read as the nodata value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const Outcome r = grid(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(out));
        EXPECT_EQ(read_file(dir / "p.xyz"), "0 0 1\n9 9 2\n");
    }
    // --skip-unreadable reads the rest, and names each file it left out on
    // standard error and in the summary.
    const Outcome skipped =
        grid({(dir / "links").string(), (dir / "fifo").string(), "--cell", "1", "--skip-unreadable", "-o", out});
    ASSERT_EQ(skipped.status, 0) << skipped.err;
    EXPECT_EQ(skipped.out.rfind("read 6 points from 3 files\n", 0), 0u) << skipped.out;
    for (const fs::path& p : {dir / "links" / "b.xyz", dir / "links" / "c.xyz", dir / "fifo" / "c.las"}) {
        EXPECT_NE(skipped.err.find("kestranov-grid: warning: skipped " + p.string() + ": "), std::string::npos);
        EXPECT_NE(skipped.out.find("\nskipped " + p.string() + ": "), std::string::npos);
    }
    EXPECT_EQ(std::count(skipped.err.begin(), skipped.err.end(), '\n'), 3) << skipped.err;
    // A backslash is part of a file's name: the file named is the one read.
    const Outcome named = grid({backslash.string(), "--cell", "1", "--fill", "none", "-o", out});
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_NE(read_file(out).find("\n3 -9999"), std::string::npos) << read_file(out);
    fs::remove(out);

    // A .prj of an older grid that cannot be taken away would give the new
    // grid without a system the older one's: nothing is written. Its folder
    // may not be changed; the grid goes through a link into another one.
    // Run as an ordinary user, for whom the folder's mode counts.
    if (geteuid() == 0 && std::system("command -v setpriv >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "run as root without setpriv to run as an ordinary user";
    for (const char* folder : {"locked", "open"}) fs::create_directory(dir / folder);
    fs::copy_file(KESTRANOV_GRID_EXE, dir / "open" / "kestranov-grid");
    fs::copy_file(dir / "p.xyz", dir / "open" / "p.xyz");
    write_file(dir / "locked" / "g.prj", "PROJCS[\"older\"]");
    fs::create_symlink(dir / "open" / "g.asc", dir / "locked" / "g.asc");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir / "open", fs::perms::all);
    fs::permissions(dir.path(), fs::perms::all);
    const std::string as_user = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const std::string command = as_user + shell_quoted((dir / "open" / "kestranov-grid").string()) + " " +
                                shell_quoted((dir / "open" / "p.xyz").string()) + " --cell 1 -o " +
                                shell_quoted((dir / "locked" / "g.asc").string()) + " 2>" +
                                shell_quoted((dir / "open" / "err.txt").string());
    const int raw = std::system(command.c_str());
    fs::permissions(dir / "locked", fs::perms::owner_all);
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);
    const std::string err = read_file(dir / "open" / "err.txt");
    EXPECT_EQ(err.rfind("kestranov-grid: " + (dir / "locked" / "g.prj").string() +
                            ": this .prj of an older grid cannot be removed (",
                        0),
              0u)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_FALSE(fs::exists(dir / "open" / "g.asc"));
    EXPECT_EQ(read_file(dir / "locked" / "g.prj"), "PROJCS[\"older\"]");
}

namespace {

// Band k (from 1) of a GeoTIFF, row by row, and its description.
std::pair<std::vector<double>, std::string> band_of(const fs::path& tif, int k)
{
    GDALAllRegister();
    GDALDataset* ds = GDALDataset::Open(tif.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY);
    EXPECT_NE(ds, nullptr);
    if (ds == nullptr) return {};
    GDALRasterBand* b = ds->GetRasterBand(k);
    const int cols = ds->GetRasterXSize(), rows = ds->GetRasterYSize();
    std::vector<double> v(static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows));
    EXPECT_EQ(b->RasterIO(GF_Read, 0, 0, cols, rows, v.data(), cols, rows, GDT_Float64, 0, 0), CE_None);
    std::pair<std::vector<double>, std::string> band{v, b->GetDescription()};
    GDALClose(GDALDataset::ToHandle(ds));
    return band;
}

}  // namespace

// --output-type tin: a lattice of points a centimetre apart, every square's
// corners on one circle, each diagonal decided by the coordinates alone: the
// same bytes from the points shuffled, split over files, on one thread or
// two. Points of the lattice left out make a hole that the TIN spans, and
// --max-edge makes nodata; the band is described `tin` at its place.
TEST(GridCommand, TheTinBandIsTheSameWhateverTheOrderAndMaxEdgeLeavesGaps)
{
    TempDir dir;
    std::mt19937_64 random(11);
    std::vector<std::vector<double>> pts;
    const auto in_hole = [](int i, int j) { return i >= 20 && i <= 25 && j >= 10 && j <= 15; };
    for (int i = 0; i < 60; ++i)
        for (int j = 0; j < 40; ++j)
            if (!in_hole(i, j)) pts.push_back({i / 100.0, j / 100.0, static_cast<double>(random() % 1000) / 100.0});
    write_file(dir / "a.xyz", cloud_text(pts));
    for (int k = 0; k < 3; ++k) {
        std::shuffle(pts.begin(), pts.end(), random);
        write_file(dir / ("s" + std::to_string(k) + ".xyz"), cloud_text(pts));
    }
    const auto half = pts.begin() + static_cast<std::ptrdiff_t>(pts.size() / 3);
    write_file(dir / "c1.xyz", cloud_text({half, pts.end()}));
    write_file(dir / "c2.xyz", cloud_text({pts.begin(), half}));
    const auto run = [&](std::vector<std::string> files, const char* threads, const std::string& out,
                         std::vector<std::string> more = {}) {
        for (std::string& f : files) f = (dir / f).string();
        files.insert(files.end(), {"--cell", "0.01", "--bounds", "0", "0", "0.6", "0.4", "--type", "float64",
                                   "--threads", threads, "--output-type", "count,tin,max", "-o", (dir / out).string()});
        files.insert(files.end(), more.begin(), more.end());
        const Outcome r = grid(files);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    };
    // The hull ends at the last points, 0.59 and 0.39: the centres of the
    // last column and the first row lie beyond it.
    const std::string summary = run({"a.xyz"}, "1", "one.tif");
    EXPECT_NE(summary.find("tin: 2301 cells with a value, 99 nodata (-9999)\n"), std::string::npos) << summary;
    const std::string one = read_file(dir / "one.tif");
    for (const char* f : {"s0.xyz", "s1.xyz", "s2.xyz"}) {
        SCOPED_TRACE(f);
        run({f}, "2", "other.tif");
        EXPECT_EQ(read_file(dir / "other.tif"), one);
    }
    run({"c1.xyz", "c2.xyz"}, "2", "split.tif");
    EXPECT_EQ(read_file(dir / "split.tif"), one);
    const auto [tin, description] = band_of(dir / "one.tif", 2);
    EXPECT_EQ(description, "tin");
    EXPECT_EQ(band_of(dir / "one.tif", 3).second, "max");
    run({"s1.xyz"}, "2", "edge.tif", {"--max-edge", "0.015"});
    const auto [edged, edged_description] = band_of(dir / "edge.tif", 2);
    EXPECT_EQ(edged_description, "tin");
    ASSERT_EQ(tin.size(), 2400u);
    ASSERT_EQ(edged.size(), 2400u);
    for (int r = 0; r < 40; ++r)
        for (int c = 0; c < 60; ++c) {
            SCOPED_TRACE(std::to_string(r) + " " + std::to_string(c));
            const std::size_t at = static_cast<std::size_t>(r) * 60 + static_cast<std::size_t>(c);
            EXPECT_EQ(tin[at] == -9999, r == 0 || c == 59);
            // Rows 24 to 30 and columns 19 to 25 have a centre between the
            // hole's bordering points; the inner ones lie in triangles
            // across the hole.
            const bool near = r >= 24 && r <= 30 && c >= 19 && c <= 25,
                       inner = r >= 25 && r <= 29 && c >= 20 && c <= 24;
            if (inner || (near && edged[at] == -9999)) continue;
            EXPECT_EQ(edged[at], tin[at]);
        }
    for (int r = 25; r <= 29; ++r)
        for (int c = 20; c <= 24; ++c) EXPECT_EQ(edged[static_cast<std::size_t>(r * 60 + c)], -9999) << r << " " << c;

    // Tiles: each a window of the lattice, as the plan's jobs run it, its
    // TIN from the points of a buffer around it (by default the cells
    // --max-edge spans and 2): the uncut grid's cells, to the bit.
    const Outcome plan =
        grid({(dir / "a.xyz").string(), "--cell", "0.01", "--bounds", "0", "0", "0.6", "0.4", "--tile-size", "0.2",
              "--output-type", "count,tin,max", "--max-edge", "0.015", "-o", (dir / "plan").string()});
    ASSERT_EQ(plan.status, 0) << plan.err;
    EXPECT_NE(read_file(dir / "plan" / "jobs.txt").find(" --output-type count,tin,max --max-edge 0.015 --buffer 4 "),
              std::string::npos);
    for (const auto& [whole, more] : {std::pair{tin, std::vector<std::string>{}},
                                      std::pair{edged, std::vector<std::string>{"--max-edge", "0.015"}}})
        for (int c0 = 0; c0 < 60; c0 += 20)
            for (int r0 = 0; r0 < 40; r0 += 20) {
                SCOPED_TRACE(std::to_string(c0) + " " + std::to_string(r0) + " " + std::to_string(more.size()));
                std::vector<std::string> args = {(dir / "s2.xyz").string(),
                                                 "--cell",
                                                 "0.01",
                                                 "--bounds",
                                                 "0",
                                                 "0",
                                                 "0.6",
                                                 "0.4",
                                                 "--window",
                                                 std::to_string(c0),
                                                 std::to_string(r0),
                                                 "20",
                                                 "20",
                                                 "--type",
                                                 "float64",
                                                 "--output-type",
                                                 "tin",
                                                 "-o",
                                                 (dir / "tile.tif").string()};
                args.insert(args.end(), more.begin(), more.end());
                ASSERT_EQ(grid(args).status, 0);
                const std::vector<double> tile = band_of(dir / "tile.tif", 1).first;
                ASSERT_EQ(tile.size(), 400u);
                for (std::size_t k = 0; k < 400; ++k)
                    EXPECT_EQ(
                        tile[k],
                        whole[(static_cast<std::size_t>(r0) + k / 20) * 60 + static_cast<std::size_t>(c0) + k % 20])
                        << k;
            }
}

// The points of one survey, the ground's (--class 2) kept lowest: under
// roofs and canopy the lowest ground point leaves cells without a point,
// which the TIN spans; duplicates keep the --keep elevation; points on one
// line or one position give an all-nodata band and a note, and --gaps fail
// refuses it; the memory the vertices would need is refused before they
// are allocated.
TEST(GridCommand, TheTinSpansTheGroundUnderRoofsAndCanopy)
{
    TempDir dir;
    const std::string las = (dir / "s.las").string();
    ASSERT_EQ(std::system((std::string(MAKE_CLOUD_EXE) + " '" + las +
                           "' --points 60000 --size 100 --x0 480000 --y0 2150000 --las --survey >/dev/null 2>&1")
                              .c_str()),
              0);
    const Outcome r =
        grid({las, "--cell", "0.5", "--class", "2", "--keep", "lowest", "--fill", "none", "--bounds", "480000",
              "2150000", "480100", "2150100", "--output-type", "min,tin", "-o", (dir / "g.tif").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<double> min = band_of(dir / "g.tif", 1).first, tin = band_of(dir / "g.tif", 2).first;
    ASSERT_EQ(tin.size(), 40000u);
    long long holes = 0;
    for (int row = 20; row < 180; ++row)
        for (int col = 20; col < 180; ++col) {
            const std::size_t at = static_cast<std::size_t>(row) * 200 + static_cast<std::size_t>(col);
            holes += min[at] == -9999;
            EXPECT_NE(tin[at], -9999) << row << " " << col;
        }
    EXPECT_GT(holes, 100);

    write_file(dir / "dup.xyz", "0 0 1\n4 0 1\n0 4 1\n4 4 1\n2.5 1.5 10\n2.5 1.5 0\n2.5 1.5 5\n");
    write_file(dir / "line.xyz", "0 0 1\n1 1 2\n3 3 4\n2 2 3\n");
    write_file(dir / "same.xyz", "1 1 1\n1 1 2\n");
    write_file(dir / "two.xyz", "1 1 1\n2 3 2\n");
    write_file(dir / "one.xyz", "1 1 1\n");
    struct Case {
        const char* file;
        const char* keep;
        std::string says;
        double at_vertex;  // the cell of row 2, column 2, whose centre is (2.5, 1.5)
    };
    const double nodata = -9999;
    const Case cases[] = {
        {"dup.xyz", "highest", "tin: 16 cells with a value, 0 nodata", 10},
        {"dup.xyz", "lowest", "tin: 16 cells with a value, 0 nodata", 0},
        {"line.xyz", "highest", "note: the tin band is all nodata: its 4 points are all on one line", nodata},
        {"same.xyz", "highest", "note: the tin band is all nodata: its 2 points hold 1 distinct (X, Y), fewer than 3",
         nodata},
        {"two.xyz", "lowest", "its 2 points hold 2 distinct (X, Y)", nodata},
        {"one.xyz", "highest",
         "read 1 point from 1 file\n"
         "grid: 4 x 4 cells of 1, west 0 south 0 east 4 north 4\n"
         "tin: 0 cells with a value, 16 nodata (-9999)\n"
         "note: the tin band is all nodata: its 1 point holds 1 distinct (X, Y), fewer than 3, and spans no triangle",
         nodata},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.keep);
        const std::vector<std::string> args = {(dir / c.file).string(),
                                               "--cell",
                                               "1",
                                               "--bounds",
                                               "0",
                                               "0",
                                               "4",
                                               "4",
                                               "--keep",
                                               c.keep,
                                               "--output-type",
                                               "tin",
                                               "-o",
                                               (dir / "t.asc").string()};
        const Outcome ok = grid(args);
        EXPECT_EQ(ok.status, 0) << ok.err;
        EXPECT_NE(ok.out.find(c.says), std::string::npos) << ok.out;
        EXPECT_EQ(ok.out.find("cells: "), std::string::npos) << ok.out;  // no statistic's band written
        EXPECT_EQ(read_ascii(dir / "t.asc").rows.at(2).at(2), c.at_vertex);
        std::vector<std::string> failing = args;
        failing.insert(failing.end(), {"--gaps", "fail"});
        fs::remove(dir / "t.asc");
        const Outcome fails = grid(failing);
        EXPECT_EQ(fails.status, c.at_vertex == nodata ? 1 : 0);
        EXPECT_EQ(fs::exists(dir / "t.asc"), c.at_vertex != nodata);
        if (c.at_vertex == nodata) {
            EXPECT_EQ(
                fails.err,
                "kestranov-grid: 16 of 16 cells of the tin band hold no value (--gaps fail): nothing written to " +
                    (dir / "t.asc").string() + "\n");
        }
    }

    using kestranov::gridder::TinVertices;
    const auto error_of = [](auto&& step) -> std::string {
        try {
            step();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    };
    const kestranov::Lattice l(0, 0, 4, 4, 1, 4, 4);
    const std::uint64_t room = 1000 * kestranov::gridder::tin_bytes_per_vertex;
    EXPECT_EQ(error_of([&] { (void)TinVertices(l, {l}, {room}, 1001); }),
              "the TIN of up to 1001 vertices needs 1 MB (96 bytes a vertex), and 0 MB are available: grid it in tiles "
              "(--tile-size)");
    EXPECT_NE(error_of([&] {
                  (void)TinVertices(l, {l}, {room, 3000000000}, 1001);
              }).find("0 MB are left under the limit on virtual memory (ulimit -v) of 3000 MB: grid it in tiles"),
              std::string::npos);
    TinVertices fits(l, {l}, {room}, 1000);
    std::vector<kestranov::Point> pts(1000, kestranov::Point{1, 1, 1});
    pts.push_back({-1.5, 2, 1});  // beyond the ring: not a vertex
    fits.add(pts.data(), pts.size());
    EXPECT_EQ(fits.size(), 1000u);
    TinVertices grows(l, {l}, {room}, std::nullopt);
    pts.back() = {-0.5, 2, 1};  // in the ring
    EXPECT_NE(error_of([&] { grows.add(pts.data(), pts.size()); }).find("the TIN of more than 1000 vertices"),
              std::string::npos);
    EXPECT_LE(grows.size(), 1000u);
    // The first reading's kept points of every file bound the vertices; no
    // first reading, no bound.
    kestranov::SeenFiles seen(2);
    seen[0].tally.kept = 7, seen[1].tally.kept = 5;
    EXPECT_EQ(kestranov::gridder::tin_vertex_bound(seen), std::optional<std::uint64_t>(12));
    seen.resize(1);
    EXPECT_EQ(kestranov::gridder::tin_vertex_bound(seen), std::optional<std::uint64_t>(7));
    EXPECT_EQ(kestranov::gridder::tin_vertex_bound({}), std::nullopt);
}

// GDAL is a module beside the executable, opened only by the runs that need
// it: without it, a text file still becomes an ESRI grid, and a GeoTIFF or
// --srs fails in one line, naming the module, with nothing written. A run
// that needs it loads it before the reading, and a limit on virtual memory
// (ulimit -v) too small for the grid is told as such, naming the limit.
TEST(GridCommand, TheGdalModuleIsOpenedOnlyWhenARunNeedsIt)
{
    TempDir dir;
    write_file(dir / "p.xyz", "0 0 1\n9 9 2\n");
    fs::copy_file(KESTRANOV_GRID_EXE, dir / "kestranov-grid");
    const auto run = [&](const std::string& output, const std::string& more, const std::string& before = "",
                         const std::string& cell = "1") {
        const fs::path err = dir / "err.txt";
        const std::string command = before + shell_quoted((dir / "kestranov-grid").string()) + " " +
                                    shell_quoted((dir / "p.xyz").string()) + " --cell " + cell + " -q" + more + " -o " +
                                    shell_quoted((dir / output).string()) + " 2>" + shell_quoted(err.string());
        const int raw = std::system(command.c_str());
        return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, "", read_file(err)};
    };
    EXPECT_EQ(run("g.asc", "").status, 0);
    EXPECT_TRUE(fs::exists(dir / "g.asc"));
    for (const auto& [output, more] : {std::pair{"g.tif", ""}, std::pair{"s.asc", " --srs EPSG:2994"}}) {
        SCOPED_TRACE(output);
        const Outcome r = run(output, more);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("kestranov-grid: cannot load the GDAL module", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("kestranov-grid-gdal.so"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(dir / output));
    }
    fs::copy_file(KESTRANOV_GRID_GDAL_MODULE, dir / "kestranov-grid-gdal.so");
    EXPECT_EQ(run("g.tif", " --srs EPSG:2994").status, 0);
    EXPECT_TRUE(fs::exists(dir / "g.tif"));
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve far more address space than ulimit -v 512000 leaves";
#endif
    // Some 900 x 900 cells, 6.5 MB, fit in 512 MiB; 9000 x 9000, 650 MB and
    // 970 to encode, do not.
    EXPECT_EQ(run("small.tif", "", "ulimit -v 512000; ", "0.01").status, 0);
    // Too little room for GDAL itself: the limit is named, not only the
    // loader's mapping error.
    const Outcome no_room = run("g.tif", "", "ulimit -v 60000; ");
    EXPECT_EQ(no_room.status, 1);
    EXPECT_EQ(no_room.err.rfind("kestranov-grid: cannot load the GDAL module", 0), 0u) << no_room.err;
    EXPECT_NE(no_room.err.find("(under the limit on virtual memory (ulimit -v) of 61 MB: raise it)\n"),
              std::string::npos)
        << no_room.err;
    // A tin band alone is its 8 bytes a cell, as one statistic's raster
    // (which adds its ring): no raster of the points' cells beside it that
    // no band would read.
    const auto cells_needed = [](const std::string& err) {
        const std::size_t at = err.find("address space (");
        return at == std::string::npos ? 0.0 : std::atof(err.c_str() + at + 15);
    };
    double one_raster = 0;
    for (const auto& [output, more] :
         {std::pair{"big.tif", ""}, std::pair{"big.asc", ""}, std::pair{"big.asc", " --output-type tin"}}) {
        SCOPED_TRACE(std::string(output) + more);
        const Outcome r = run(output, more, "ulimit -v 512000; ", "0.001");
        if (output == std::string("big.asc")) {
            if (one_raster == 0) one_raster = cells_needed(r.err);
            EXPECT_NEAR(cells_needed(r.err), one_raster, one_raster / 100) << r.err;
        }
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("kestranov-grid: a grid of 900", 0), 0u) << r.err;
        // The TIN's vertices are counted with the cells, not refused later.
        EXPECT_EQ(r.err.find(" MB for the TIN of up to 2 vertices, ") != std::string::npos,
                  more == std::string(" --output-type tin"))
            << r.err;
        EXPECT_NE(r.err.find("MB are left under the limit on virtual memory (ulimit -v) of 524 MB: grid it in tiles "
                             "(--tile-size)\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(dir / output));
    }
    // A narrow grid is mostly its ring: 3 x 20000004 cells of 8 bytes.
    const Outcome narrow = run("narrow.asc", " --bounds 0 0 1 20000000", "ulimit -v 512000; ");
    EXPECT_EQ(narrow.status, 1);
    EXPECT_NE(narrow.err.find("(481 MB of cells, 128 MB to read), and "), std::string::npos) << narrow.err;
    EXPECT_GT(one_raster, 0);
}

// Every real sample gives a DEM; with the one fill, a cell is left as nodata
// exactly when none of its 8 neighbours received a point (the snapped
// extent leaves the ring empty, so edge cells follow the rule too).
TEST(GridCommand, EveryRealSampleGivesADemWithNodataOutsideItsFootprint)
{
    std::vector<fs::path> samples;
    for (const char* folder : {"", "las", "laz"}) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(shared / folder, ec)) {
            const std::string ext = e.path().extension().string();
            if (ext == ".xyz" || ext == ".las" || ext == ".laz") samples.push_back(e.path());
        }
    }
    if (samples.empty()) GTEST_SKIP() << no_sample(shared);
    std::sort(samples.begin(), samples.end());
    TempDir dir;
    for (const fs::path& sample : samples) {
        if (fs::file_size(sample) > (64 << 20)) continue;  // the benchmark clouds
        SCOPED_TRACE(sample.string());
        const std::string filled = (dir / "f.asc").string(), bare = (dir / "b.asc").string();
        const Outcome f = grid({sample.string(), "--cell", "10", "-o", filled});
        if (f.status != 0 && f.err.find("no point") != std::string::npos) continue;  // a file of no points
        ASSERT_EQ(f.status, 0) << f.err;
        ASSERT_EQ(grid({sample.string(), "--cell", "10", "--fill", "none", "-o", bare}).status, 0);
        const Ascii a = read_ascii(filled), b = read_ascii(bare);
        ASSERT_EQ(a.rows.size(), b.rows.size());
        const double nodata = a.header.at("NODATA_value");
        const long rows = static_cast<long>(b.rows.size()), cols = static_cast<long>(b.rows[0].size());
        for (long i = 0; i < rows; ++i)
            for (long j = 0; j < cols; ++j) {
                bool neighbour = false;
                for (long di = -1; di <= 1; ++di)
                    for (long dj = -1; dj <= 1; ++dj)
                        if ((di || dj) && i + di >= 0 && i + di < rows && j + dj >= 0 && j + dj < cols)
                            neighbour |= b.rows[i + di][j + dj] != nodata;
                if (b.rows[i][j] != nodata)
                    EXPECT_EQ(a.rows[i][j], b.rows[i][j]);
                else
                    EXPECT_EQ(a.rows[i][j] != nodata, neighbour) << i << " " << j;
            }
    }
}
