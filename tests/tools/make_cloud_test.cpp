// Runs the built make_cloud binary and checks what it writes. Where a check
// needs to know the ground truth (where the trees and roofs are, the height of
// the bare earth) it asks the scene model the generator is built on.

#include "cloud_model.h"
#include "core/version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#ifndef MAKE_CLOUD_EXE
#error "MAKE_CLOUD_EXE must name the make_cloud binary"
#endif

namespace fs = std::filesystem;

namespace {

struct Rec {
    std::int64_t x, y, z;  // centimetres, as printed
};

// Strict reader for one "X Y Z" line: optional minus, digits, a point and
// exactly two decimals per number (three for X and Y when asked), single
// spaces, nothing else. Values come back in units of the last decimal.
bool parse_number(std::string_view& s, std::int64_t& value, int decimals = 2)
{
    std::size_t i = 0;
    const bool negative = i < s.size() && s[i] == '-';
    if (negative) ++i;
    const std::size_t digits_begin = i;
    std::int64_t whole = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') whole = whole * 10 + (s[i++] - '0');
    if (i == digits_begin || i - digits_begin > 15) return false;
    if (i + 1 + decimals > s.size() || s[i] != '.') return false;
    value = whole;
    for (int d = 1; d <= decimals; ++d) {
        const char c = s[i + d];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (negative) value = -value;
    s.remove_prefix(i + 1 + decimals);
    return true;
}

bool parse_line(std::string_view line, Rec& r, int xy_decimals = 2)
{
    if (!parse_number(line, r.x, xy_decimals) || line.empty() || line[0] != ' ') return false;
    line.remove_prefix(1);
    if (!parse_number(line, r.y, xy_decimals) || line.empty() || line[0] != ' ') return false;
    line.remove_prefix(1);
    return parse_number(line, r.z) && line.empty();
}

// Shell command running make_cloud with the given output path and arguments.
std::string command(const fs::path& out, const std::string& args, const std::string& redirect)
{
    std::string cmd;
    cmd += '"';
    cmd += MAKE_CLOUD_EXE;
    cmd += "\" \"";
    cmd += out.string();
    cmd += "\" ";
    cmd += args;
    cmd += ' ';
    cmd += redirect;
    return cmd;
}

std::vector<std::string_view> split_lines(const std::string& text)
{
    std::vector<std::string_view> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(text.data() + begin, end - begin);
        begin = end + 1;
    }
    return lines;
}

class MakeCloud : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ =
            fs::temp_directory_path() / ("make_cloud_test_" + std::string(info->name()) + "_" + std::to_string(stamp));
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Runs make_cloud writing to dir_/name; returns the exit status (0 = success).
    int run(const std::string& name, const std::string& args)
    {
        const fs::path log = dir_ / (name + ".log");
        std::string redirect = "2>\"";
        redirect += log.string();
        redirect += '"';
        return std::system(command(dir_ / name, args, redirect).c_str());
    }

    std::string read(const std::string& name) const
    {
        std::ifstream in(dir_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Runs and reads back, failing the test if the run fails.
    std::string make(const std::string& name, const std::string& args)
    {
        const int status = run(name, args);
        EXPECT_EQ(status, 0) << "make_cloud " << args << " failed: " << read(name + ".log");
        return read(name);
    }

    static std::vector<Rec> records(const std::string& text)
    {
        std::vector<Rec> out;
        for (std::string_view line : split_lines(text)) {
            Rec r{};
            if (!parse_line(line, r)) {
                ADD_FAILURE() << "malformed record: '" << line << "'";
                break;
            }
            out.push_back(r);
        }
        return out;
    }

    fs::path dir_;
};

TEST_F(MakeCloud, SameArgumentsGiveIdenticalBytes)
{
    for (const std::string order : {"scan", "random"}) {
        const std::string args = "--points 20000 --size 70 --seed 7 --order " + order;
        const std::string a = make("a_" + order + ".xyz", args);
        const std::string b = make("b_" + order + ".xyz", args);
        ASSERT_FALSE(a.empty());
        EXPECT_TRUE(a == b) << order << " order differs between two identical runs";
    }
}

TEST_F(MakeCloud, SeedChangesTheCloud)
{
    const std::string a = make("a.xyz", "--points 5000 --size 50 --seed 1");
    const std::string b = make("b.xyz", "--points 5000 --size 50 --seed 2");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
}

TEST_F(MakeCloud, ScanAndRandomOrdersHoldTheSameRecords)
{
    const std::string scan = make("scan.xyz", "--points 30000 --size 90 --seed 11 --order scan");
    const std::string random = make("random.xyz", "--points 30000 --size 90 --seed 11 --order random");
    auto a = split_lines(scan), b = split_lines(random);
    ASSERT_EQ(a.size(), 30000u);
    EXPECT_NE(a, b) << "random order should not equal scan order";
    // A real shuffle moves almost every record.
    std::size_t same_place = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) same_place += a[i] == b[i];
    EXPECT_LT(same_place, a.size() / 100);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_TRUE(a == b) << "the two orders do not hold the same multiset of records";
}

TEST_F(MakeCloud, RecordsAreThreeTwoDecimalNumbersWithLf)
{
    // A negative origin also exercises the sign handling.
    const std::string text = make("f.xyz", "--points 4321 --size 33.3 --x0 -20.5 --y0 1234567.89");
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
    const auto lines = split_lines(text);
    ASSERT_EQ(lines.size(), 4321u);
    std::size_t negative_x = 0;
    for (std::string_view line : lines) {
        Rec r{};
        ASSERT_TRUE(parse_line(line, r)) << "malformed record: '" << line << "'";
        negative_x += r.x < 0;
        // "-0.05" style values must carry the sign, and no "-0.00" may appear.
        EXPECT_EQ(line[0] == '-', r.x < 0) << line;
    }
    EXPECT_GT(negative_x, 0u);
    EXPECT_EQ(text.size(), std::accumulate(lines.begin(), lines.end(), std::size_t{0},
                                           [](std::size_t n, std::string_view l) { return n + l.size() + 1; }));
}

// The benchmark's cloud of changing record widths: the default cloud with a
// millimetre digit under X and Y and the elevations stretched over -4..2400 m.
TEST_F(MakeCloud, ShapesOptionsMixWidthsAndKeepTheCloud)
{
    const std::string common = "--points 40000 --size 200 --x0 1000 --y0 -20 --seed 6";
    const std::string plain = make("plain.xyz", common);
    const std::string shaped = make("shaped.xyz", common + " --xy-decimals 3 --z-range -4 2400");
    const auto base = records(plain);
    const auto lines = split_lines(shaped);
    ASSERT_EQ(base.size(), 40000u);
    ASSERT_EQ(lines.size(), base.size());

    // Integer part of Z: negative, then 1, 2, 3 and 4 digits.
    std::size_t widths[5] = {};
    std::size_t third_digit = 0;
    std::int64_t xmin = INT64_MAX, xmax = INT64_MIN, ymin = INT64_MAX, ymax = INT64_MIN;
    std::vector<std::pair<std::int64_t, std::int64_t>> z_pairs;  // (plain, stretched)
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Rec r{};
        ASSERT_TRUE(parse_line(lines[i], r, 3)) << "malformed record: '" << lines[i] << "'";
        const Rec& b = base[i];
        // The same record, to the centimetre (floor division: -20 m is negative).
        EXPECT_EQ(r.x - (((r.x % 10) + 10) % 10), b.x * 10) << lines[i];
        EXPECT_EQ(r.y - (((r.y % 10) + 10) % 10), b.y * 10) << lines[i];
        third_digit += r.x % 10 != 0;
        xmin = std::min(xmin, r.x), xmax = std::max(xmax, r.x);
        ymin = std::min(ymin, r.y), ymax = std::max(ymax, r.y);
        ASSERT_GE(r.z, -400);
        ASSERT_LE(r.z, 240000);
        const std::int64_t whole = r.z / 100;
        widths[r.z < 0 ? 0 : whole < 10 ? 1 : whole < 100 ? 2 : whole < 1000 ? 3 : 4] += 1;
        z_pairs.emplace_back(b.z, r.z);
    }
    for (int w = 0; w < 5; ++w) EXPECT_GE(widths[w], lines.size() / 20) << "width class " << w;
    EXPECT_GT(third_digit, lines.size() * 3 / 4);
    // The sub-centimetre digit leaves the square as it was.
    EXPECT_EQ(xmin, 1000000);
    EXPECT_EQ(xmax, 1200000);
    EXPECT_EQ(ymin, -20000);
    EXPECT_EQ(ymax, 180000);
    // Stretched, not shuffled: a higher point never ends up lower.
    std::sort(z_pairs.begin(), z_pairs.end());
    for (std::size_t i = 1; i < z_pairs.size(); ++i)
        ASSERT_LE(z_pairs[i - 1].second, z_pairs[i].second) << "scene " << z_pairs[i].first;
}

TEST_F(MakeCloud, BoundingBoxIsExactlyTheRequestedSquare)
{
    struct Case {
        std::string args;
        std::int64_t x0, y0, size;
    };
    const std::vector<Case> cases = {
        {"--points 3000", 48000000, 215000000, 30000},
        {"--points 2000 --size 45.5 --x0 1000.25 --y0 -20.75 --order random", 100025, -2075, 4550},
        {"--points 7 --size 12", 48000000, 215000000, 1200},
    };
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const Case& c = cases[k];
        const auto recs = records(make("bbox" + std::to_string(k) + ".xyz", c.args));
        ASSERT_FALSE(recs.empty()) << c.args;
        std::int64_t xmin = recs[0].x, xmax = recs[0].x, ymin = recs[0].y, ymax = recs[0].y;
        std::set<std::pair<std::int64_t, std::int64_t>> xy;
        for (const Rec& r : recs) {
            xmin = std::min(xmin, r.x), xmax = std::max(xmax, r.x);
            ymin = std::min(ymin, r.y), ymax = std::max(ymax, r.y);
            xy.emplace(r.x, r.y);
        }
        EXPECT_EQ(xmin, c.x0) << c.args;
        EXPECT_EQ(xmax, c.x0 + c.size) << c.args;
        EXPECT_EQ(ymin, c.y0) << c.args;
        EXPECT_EQ(ymax, c.y0 + c.size) << c.args;
        // The corners themselves are present, so any gridder sees the full square.
        for (const auto& corner : {std::pair{c.x0, c.y0}, std::pair{c.x0 + c.size, c.y0},
                                   std::pair{c.x0, c.y0 + c.size}, std::pair{c.x0 + c.size, c.y0 + c.size}})
            EXPECT_TRUE(xy.count(corner)) << c.args << ": missing corner " << corner.first << "," << corner.second;
    }
}

TEST_F(MakeCloud, ScanOrderFollowsFlightLines)
{
    const std::int64_t n = 40000;
    const double size = 100;
    const auto scan = records(make("s.xyz", "--points 40000 --size 100 --x0 0 --y0 0"));
    const auto shuffled = records(make("r.xyz", "--points 40000 --size 100 --x0 0 --y0 0 --order random"));
    ASSERT_EQ(scan.size(), static_cast<std::size_t>(n));
    ASSERT_EQ(shuffled.size(), static_cast<std::size_t>(n));

    // Y only ever steps back within the width of a scan line or two.
    const double line_width_cm = 100.0 * size / std::sqrt(static_cast<double>(n));
    std::int64_t highest = scan[0].y;
    std::int64_t worst_step_back = 0;
    for (const Rec& r : scan) {
        worst_step_back = std::max(worst_step_back, highest - r.y);
        highest = std::max(highest, r.y);
    }
    EXPECT_LE(static_cast<double>(worst_step_back), 2.0 * line_width_cm);

    // Along a scan line X increases; it drops only at the start of a new line.
    auto forward_share = [](const std::vector<Rec>& v) {
        std::size_t forward = 0;
        for (std::size_t i = 1; i < v.size(); ++i) forward += v[i].x > v[i - 1].x;
        return static_cast<double>(forward) / static_cast<double>(v.size() - 1);
    };
    EXPECT_GT(forward_share(scan), 0.98);
    EXPECT_LT(forward_share(shuffled), 0.6);
}

TEST_F(MakeCloud, EveryMetreCellIsHit)
{
    // The demo's density: 300000 points over 300 m, about 3.3 per square metre.
    const int size = 120;
    const auto recs = records(make("d.xyz", "--points 48000 --size 120 --x0 0 --y0 0 --seed 5"));
    ASSERT_EQ(recs.size(), 48000u);
    std::vector<int> count(static_cast<std::size_t>(size * size), 0);
    for (const Rec& r : recs) {
        const auto i = std::min<std::int64_t>(r.x / 100, size - 1), j = std::min<std::int64_t>(r.y / 100, size - 1);
        ++count[static_cast<std::size_t>(j * size + i)];
    }
    const auto empty = std::count(count.begin(), count.end(), 0);
    const int most = *std::max_element(count.begin(), count.end());
    EXPECT_LT(empty, size * size / 200) << empty << " empty cells out of " << size * size;
    // Jittered slots spread points evenly: no clumps.
    EXPECT_LE(most, 10);
}

// Per-1 m-cell statistics of a cloud written with origin (0, 0).
struct CellStats {
    int n = 0;
    std::int64_t zmin = std::numeric_limits<std::int64_t>::max();
    std::int64_t zmax = std::numeric_limits<std::int64_t>::min();
    Rec low{}, high{};
};

std::map<std::pair<int, int>, CellStats> cell_stats(const std::vector<Rec>& recs)
{
    std::map<std::pair<int, int>, CellStats> cells;
    for (const Rec& r : recs) {
        CellStats& c = cells[{static_cast<int>(r.x / 100), static_cast<int>(r.y / 100)}];
        ++c.n;
        if (r.z < c.zmin) c.zmin = r.z, c.low = r;
        if (r.z > c.zmax) c.zmax = r.z, c.high = r;
    }
    return cells;
}

bool under_canopy(const cloudgen::Scene& scene, double x, double y)
{
    double top;
    return scene.canopy_top(x, y, top);
}

TEST_F(MakeCloud, TreeStandsHoldCanopyOverGround)
{
    const std::uint64_t seed = 3;
    const double size = 100;
    const auto recs = records(make("t.xyz", "--points 40000 --size 100 --x0 0 --y0 0 --seed 3"));
    ASSERT_EQ(recs.size(), 40000u);
    const cloudgen::Scene scene(seed, size);

    int crown_cells = 0, tall_cells = 0, floor_at_bottom = 0;
    for (const auto& [key, c] : cell_stats(recs)) {
        const double x = key.first, y = key.second;
        // Only cells wholly under crowns (corners and centre covered).
        if (!(under_canopy(scene, x + 0.01, y + 0.01) && under_canopy(scene, x + 0.99, y + 0.01) &&
              under_canopy(scene, x + 0.01, y + 0.99) && under_canopy(scene, x + 0.99, y + 0.99) &&
              under_canopy(scene, x + 0.5, y + 0.5)))
            continue;
        if (c.n < 2) continue;
        ++crown_cells;
        if (c.zmax - c.zmin >= 300) ++tall_cells;
        // The lowest return in the cell is the forest floor.
        const double floor_z = scene.ground(c.low.x / 100.0, c.low.y / 100.0);
        if (std::fabs(c.zmin / 100.0 - floor_z) <= 0.03) ++floor_at_bottom;
    }
    // No return under a crown rises above it or sinks below the ground.
    for (const Rec& r : recs) {
        const double x = r.x / 100.0, y = r.y / 100.0, z = r.z / 100.0;
        double top = 0;
        if (!scene.canopy_top(x, y, top)) continue;
        EXPECT_LE(z, top + 0.006) << "at " << x << "," << y;
        EXPECT_GE(z, scene.ground(x, y) - 0.0251) << "at " << x << "," << y;
    }
    ASSERT_GE(crown_cells, 100) << "expected a stand of trees in this cloud";
    // Most metre cells under trees hold a canopy return metres above a ground one.
    EXPECT_GE(tall_cells, crown_cells * 19 / 20) << tall_cells << " of " << crown_cells;
    EXPECT_GE(floor_at_bottom, crown_cells * 19 / 20) << floor_at_bottom << " of " << crown_cells;
}

TEST_F(MakeCloud, RoofsAreFlatAndRaised)
{
    const std::uint64_t seed = 4;
    const auto recs = records(make("b.xyz", "--points 40000 --size 100 --x0 0 --y0 0 --seed 4"));
    const cloudgen::Scene scene(seed, 100);
    ASSERT_FALSE(scene.buildings().empty());
    std::map<const cloudgen::Building*, std::set<std::int64_t>> roof_heights;
    for (const Rec& r : recs) {
        const double x = r.x / 100.0, y = r.y / 100.0;
        if (const cloudgen::Building* b = scene.building_at(x, y)) {
            roof_heights[b].insert(r.z);
            const double above = r.z / 100.0 - scene.ground(x, y);
            EXPECT_GE(above, 5.99) << "roof too low at " << x << "," << y;
            EXPECT_LE(above, 15.0 + 3.0) << "roof too high at " << x << "," << y;
        }
    }
    ASSERT_EQ(roof_heights.size(), scene.buildings().size()) << "some building got no roof points";
    for (const auto& [b, heights] : roof_heights) {
        ASSERT_EQ(heights.size(), 1u) << "roof at " << b->x0 << "," << b->y0 << " is not flat";
        EXPECT_EQ(*heights.begin(), std::llround(b->roof * 100.0));
    }
}

TEST_F(MakeCloud, BareGroundFollowsRollingTerrain)
{
    const std::uint64_t seed = 9;
    const auto recs = records(make("g.xyz", "--points 60000 --size 300 --x0 0 --y0 0 --seed 9"));
    const cloudgen::Scene scene(seed, 300);
    std::size_t bare = 0;
    double lowest = 1e9, highest = -1e9;
    for (const Rec& r : recs) {
        const double x = r.x / 100.0, y = r.y / 100.0, z = r.z / 100.0;
        EXPECT_GT(z, 200.0);
        EXPECT_LT(z, 340.0);
        if (scene.building_at(x, y) || under_canopy(scene, x, y)) continue;
        ++bare;
        // Ranging noise of +-2 cm plus half a centimetre of rounding.
        ASSERT_NEAR(z, scene.ground(x, y), 0.0251) << "at " << x << "," << y;
        lowest = std::min(lowest, z);
        highest = std::max(highest, z);
    }
    EXPECT_GT(bare, recs.size() / 2);
    // Hills, not a plain: several metres of relief over 300 m.
    EXPECT_GT(highest - lowest, 4.0);
}

// The records of a LAS file of make_cloud, 28 bytes each.
std::vector<std::string> las_records(const std::string& las)
{
    std::vector<std::string> out;
    for (std::size_t at = 227; at + 28 <= las.size(); at += 28) out.push_back(las.substr(at, 28));
    return out;
}

// --survey: the points of --las, each classed by what it lies on (the
// ground records exactly those within the ranging noise of the bare earth,
// canopy and roofs metres above it), a canopy hit's ground return right
// after it in its flight line as returns 1 and 2 of 2, the rest single
// returns; the random order shuffles whole records.
TEST_F(MakeCloud, SurveyClassesAndReturnsFollowTheScene)
{
    const std::string args = "--points 40000 --size 100 --x0 0 --y0 0 --seed 3 --las";
    const auto plain = las_records(make("p.las", args)), recs = las_records(make("s.las", args + " --survey"));
    auto shuffled = las_records(make("r.las", args + " --survey --order random"));
    const cloudgen::Scene scene(3, 100);
    ASSERT_EQ(recs.size(), 40000u);
    std::map<std::string, int> kinds;  // class, return number, number of returns
    for (std::size_t i = 0; i < recs.size(); ++i) {
        EXPECT_EQ(recs[i].substr(0, 12), plain[i].substr(0, 12)) << i;
        std::int32_t xyz[3];
        std::memcpy(xyz, recs[i].data(), sizeof xyz);
        const double x = xyz[0] / 100.0, y = xyz[1] / 100.0, z = xyz[2] / 100.0;
        const auto flags = static_cast<unsigned char>(recs[i][14]);
        const int cls = static_cast<unsigned char>(recs[i][15]), ret = flags & 7, nret = flags >> 3;
        const std::string kind = std::to_string(cls) + " " + std::to_string(ret) + "/" + std::to_string(nret);
        ++kinds[kind];
        EXPECT_EQ(cls == 2, std::fabs(z - scene.ground(x, y)) <= 0.0251) << kind << " at " << x << "," << y;
        double top = 0;
        EXPECT_TRUE(cls != 5 || (scene.canopy_top(x, y, top) && z <= top + 0.006)) << x << "," << y;
        const cloudgen::Building* b = scene.building_at(x, y);
        EXPECT_TRUE(cls != 6 || (b && xyz[2] == std::llround(b->roof * 100))) << x << "," << y;
        EXPECT_TRUE(kind != "2 2/2" || (i > 0 && recs[i - 1][15] == 5)) << i;
        EXPECT_TRUE(kind != "5 1/2" || (i + 1 < recs.size() && recs[i + 1][14] == (2 | 2 << 3))) << i;
    }
    for (const auto& [kind, n] : kinds)
        EXPECT_TRUE(kind == "2 1/1" || kind == "5 1/1" || kind == "6 1/1" || kind == "5 1/2" || kind == "2 2/2")
            << kind << ": " << n;
    EXPECT_GT(kinds["5 1/2"], 500);
    EXPECT_EQ(kinds["5 1/2"], kinds["2 2/2"]);
    EXPECT_GT(kinds["6 1/1"], 500);
    auto sorted = recs;
    std::sort(sorted.begin(), sorted.end());
    std::sort(shuffled.begin(), shuffled.end());
    EXPECT_TRUE(sorted == shuffled) << "the random order does not hold the scan order's records";
}

TEST_F(MakeCloud, RejectsBadArguments)
{
    const std::vector<std::string> bad = {
        "",            // no --points
        "--points 3",  // fewer than the four corners
        "--points 0",
        "--points 12x",
        "--points 100 --order sideways",
        "--points 100 --size 0",
        "--points 100 --size nan",
        "--points 100 --size 10000.01",
        "--points 100 --colour red",
        "--points 100 --seed",  // option without value
        "--points=100",         // no --name=value here
        "--points 100 --seed -1",
        "--points 100 --xy-decimals 4",
        "--points 100 --xy-decimals 3 --las",  // LAS holds centimetres
        "--points 100 --survey",               // text holds no classes
        "--points 100 --z-range 10",           // one bound only
        "--points 100 --z-range 10 10",
        "--points 100 --z-range 2400 -4",
        "--points 100 --z-range -4 20000",
    };
    for (const std::string& args : bad) EXPECT_NE(run("bad.xyz", args), 0) << "accepted: " << args;
    // And the output file must be writable.
    EXPECT_NE(std::system(command(dir_ / "no_such_dir" / "x.xyz", "--points 10", "2>/dev/null").c_str()), 0);
    // --help and --version answer on stdout with status 0, whatever else is given, and write no cloud.
    const std::string version = std::string("make_cloud ") + kestranov::project_version + "\n";
    for (const auto& [args, answer] : {std::pair<std::string, std::string>{"--points 10 --help", "usage: make_cloud "},
                                       {"--version", version},
                                       {"--points 10 --version", version}}) {
        const std::string redirect = "> \"" + (dir_ / "answer").string() + "\" 2>&1";
        EXPECT_EQ(std::system(command(dir_ / "x.xyz", args, redirect).c_str()), 0) << args;
        EXPECT_EQ(read("answer").substr(0, answer.size()), answer) << args;
        EXPECT_FALSE(fs::exists(dir_ / "x.xyz")) << args;
    }
}

// ---------------------------------------------------------------------------
// Building blocks of the generator.

TEST(CloudModel, PermutationIsABijection)
{
    for (std::uint64_t n : {1ull, 2ull, 3ull, 4ull, 5ull, 17ull, 64ull, 65ull, 1000ull, 4096ull, 4097ull, 30001ull}) {
        for (std::uint64_t seed : {1ull, 2ull}) {
            const cloudgen::Permutation p(seed, n);
            std::vector<char> seen(n, 0);
            std::size_t fixed = 0;
            for (std::uint64_t i = 0; i < n; ++i) {
                const std::uint64_t j = p(i);
                ASSERT_LT(j, n);
                ASSERT_FALSE(seen[j]) << "n=" << n << " hits " << j << " twice";
                seen[j] = 1;
                fixed += i == j;
            }
            if (n >= 1000) {
                EXPECT_LT(fixed, n / 100) << "n=" << n;
            }
        }
    }
}

TEST(CloudModel, FormatsCentimetresAsMetres)
{
    const std::vector<std::pair<std::int64_t, std::string>> cases = {{0, "0.00"},
                                                                     {5, "0.05"},
                                                                     {-5, "-0.05"},
                                                                     {100, "1.00"},
                                                                     {-12345, "-123.45"},
                                                                     {48012345, "480123.45"},
                                                                     {215045678, "2150456.78"},
                                                                     {31207, "312.07"}};
    for (const auto& [cm, text] : cases) {
        char buf[32];
        char* end = cloudgen::format_cm(buf, cm);
        EXPECT_EQ(std::string(buf, end), text);
        // And it reads back to the same value.
        std::string_view sv(buf, static_cast<std::size_t>(end - buf));
        std::int64_t back = 0;
        ASSERT_TRUE(parse_number(sv, back));
        EXPECT_EQ(back, cm);
    }
}

TEST(CloudModel, FormatsMillimetresAsMetres)
{
    const std::vector<std::pair<std::int64_t, std::string>> cases = {
        {0, "0.000"}, {7, "0.007"}, {-7, "-0.007"}, {-20497, "-20.497"}, {480123456, "480123.456"}, {1050, "1.050"}};
    for (const auto& [mm, text] : cases) {
        char buf[32];
        EXPECT_EQ(std::string(buf, cloudgen::format_mm(buf, mm)), text);
    }
}

TEST(CloudModel, PortableMathAgreesWithTheLibrary)
{
    for (double x = -60.0; x <= 60.0; x += 0.0137) {
        EXPECT_NEAR(cloudgen::det_sin(x), std::sin(x), 1e-13) << x;
        EXPECT_NEAR(cloudgen::det_tanh(x / 7), std::tanh(x / 7), 1e-14) << x;
    }
    for (double x = -40.0; x <= 5.0; x += 0.0113) EXPECT_NEAR(cloudgen::det_exp(x) / std::exp(x), 1.0, 1e-14) << x;
}

TEST(CloudModel, SceneIsDeterministicAndHasAllFeatures)
{
    for (std::uint64_t seed : {1ull, 2ull, 3ull, 42ull}) {
        const cloudgen::Scene a(seed, 300), b(seed, 300);
        ASSERT_EQ(a.buildings().size(), b.buildings().size());
        EXPECT_GE(a.buildings().size(), 3u) << "seed " << seed;
        const auto trees =
            std::count_if(a.trees().begin(), a.trees().end(), [](const cloudgen::Tree& t) { return t.present; });
        EXPECT_GE(trees, 40) << "seed " << seed;
        for (std::size_t i = 0; i < a.buildings().size(); ++i) {
            const cloudgen::Building& bb = a.buildings()[i];
            EXPECT_EQ(bb.roof, b.buildings()[i].roof);
            EXPECT_GE(bb.height, 6.0);
            EXPECT_LE(bb.height, 15.0);
            EXPECT_GE(bb.x0, 0.0);
            EXPECT_LE(bb.x1, 300.0);
        }
        for (double x = 0; x <= 300; x += 7.5) {
            for (double y = 0; y <= 300; y += 7.5) {
                const double g = a.ground(x, y);
                EXPECT_EQ(g, b.ground(x, y));
                EXPECT_GT(g, 200.0);
                EXPECT_LT(g, 320.0);
            }
        }
    }
    // Even a small square gets a building and a stand of trees.
    const cloudgen::Scene small(8, 60);
    EXPECT_FALSE(small.buildings().empty());
    EXPECT_TRUE(
        std::any_of(small.trees().begin(), small.trees().end(), [](const cloudgen::Tree& t) { return t.present; }));
}

}  // namespace
