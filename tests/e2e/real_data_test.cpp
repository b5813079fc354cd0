// Properties that must hold on real airborne LIDAR: the samples live outside
// the repository, so these tests skip when they are absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support.h"

namespace {

const std::filesystem::path shared = KESTRANOV_SHARED_DATA;

std::string sample(const std::string& name)
{
    const std::filesystem::path p = shared / name;
    if (!std::filesystem::exists(p)) return "";
    return read_file(p);
}

struct Grid {
    int status;
    std::string console;
    std::string asc;
};

// One run to an ASCII grid, with the points split over files as given.
Grid grid(const std::vector<std::string>& files, const std::string& cell, int retorno)
{
    Session s;
    std::vector<std::string> names;
    for (std::size_t k = 0; k < files.size(); ++k) {
        names.push_back("part" + std::to_string(k));
        s.put(names.back() + ".xyz", files[k]);
    }
    const int status = s.run(gridding_answers(names, cell, retorno) + "dem\n0\n");
    const std::string asc = status == 0 ? read_file(s.zone("dem_lidar.asc")) : "";
    return {status, s.console(), asc};
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

std::pair<double, double> z_range(const std::string& cloud)
{
    std::istringstream in(cloud);
    double x, y, z, lo = 1e300, hi = -1e300;
    while (in >> x >> y >> z) lo = std::min(lo, z), hi = std::max(hi, z);
    return {lo, hi};
}

}  // namespace

TEST(RealData, CellsStayInsideTheCloudsRangeAndFirstIsNeverBelowLast)
{
    struct Case {
        const char* file;
        const char* cell;
    };
    for (const Case c : {Case{"pdal_hexbin_rect_utm42n.xyz", "2"}, Case{"pdal_autzen_rect_ft.xyz", "5"}}) {
        const std::string cloud = sample(c.file);
        if (cloud.empty()) GTEST_SKIP() << no_sample(shared / c.file);
        SCOPED_TRACE(c.file);
        const auto [lo, hi] = z_range(cloud);
        const Grid first = grid({cloud}, c.cell, 0), last = grid({cloud}, c.cell, 1);
        ASSERT_EQ(first.status, 0) << first.console;
        ASSERT_EQ(last.status, 0) << last.console;
        const std::vector<double> top = asc_values(first.asc), bottom = asc_values(last.asc);
        ASSERT_EQ(top.size(), bottom.size());
        ASSERT_GT(top.size(), 1000u);
        // A mean may differ from the extremes in its last bit; the text has six decimals.
        for (std::size_t k = 0; k < top.size(); ++k) {
            ASSERT_GE(top[k], lo - 5e-7) << k;
            ASSERT_LE(top[k], hi + 5e-7) << k;
            ASSERT_GE(bottom[k], lo - 5e-7) << k;
            ASSERT_LE(bottom[k], hi + 5e-7) << k;
            ASSERT_GE(top[k], bottom[k]) << k;
        }
    }
}

TEST(RealData, OneFileOrSeveralShuffledGiveTheSameGrid)
{
    const std::string cloud = sample("pdal_hexbin_rect_utm42n.xyz");
    if (cloud.empty()) GTEST_SKIP() << no_sample(shared / "pdal_hexbin_rect_utm42n.xyz");
    std::vector<std::string> lines = lines_of(cloud);
    std::mt19937 rng(99);
    std::shuffle(lines.begin(), lines.end(), rng);
    std::vector<std::string> parts(3);
    for (std::size_t k = 0; k < lines.size(); ++k) parts[k % 3] += lines[k] + (k % 2 ? "\r\n" : "\n");
    parts[2].pop_back();  // one file without its final line break
    for (int retorno : {0, 1}) {
        const Grid whole = grid({cloud}, "2", retorno);
        const Grid split = grid(parts, "2", retorno);
        ASSERT_EQ(whole.status, 0);
        ASSERT_EQ(split.status, 0);
        EXPECT_EQ(whole.asc, split.asc) << "return " << retorno;
    }
}

TEST(RealData, FootprintsWithLargeGapsStopAtTheDensityCheck)
{
    if (const std::string why =
            missing_sample({shared / "pdal_hexbin_crop_utm42n.xyz", shared / "pdal_autzen_trim_ft.xyz"});
        !why.empty())
        GTEST_SKIP() << why;
    const std::string crop = sample("pdal_hexbin_crop_utm42n.xyz");
    const std::string trim = sample("pdal_autzen_trim_ft.xyz");
    for (const auto& [cloud, cell] : {std::pair{crop, "2"}, std::pair{trim, "10"}}) {
        const Grid g = grid({cloud}, cell, 0);
        EXPECT_EQ(g.status, 1);
        EXPECT_NE(g.console.find("Despite an attempt to eliminate the pits"), std::string::npos);
    }
}
