#include <gtest/gtest.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "grid/lattice_grid.h"
#include "output/esri_asc.h"
#include "support.h"

using namespace kestranov;

namespace {

// The grid of `l` with value rows[r][c] in cell (r, c), NaN for none.
LatticeGrid grid_with(const Lattice& l, const std::vector<std::vector<double>>& rows)
{
    LatticeGridResult made = make_lattice_grid(l, Keep::highest, 0);
    if (!made.grid) throw std::runtime_error(made.error);
    for (std::int64_t r = 0; r < l.rows; ++r)
        for (std::int64_t c = 0; c < l.cols; ++c) {
            const double z = rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
            if (std::isnan(z)) continue;
            const Point p{l.xmin + (static_cast<double>(c) + 0.5) * l.size,
                          l.ymin + (static_cast<double>(l.rows - 1 - r) + 0.5) * l.size, z};
            made.grid->add(&p, 1);
        }
    return std::move(*made.grid);
}

OutputTarget target(const TempDir& dir, const std::string& name) { return {dir / name, name, nullptr}; }

const double empty = std::numeric_limits<double>::quiet_NaN();  // a cell without a point

const Lattice unit{0.0, 0.0, 3.0, 2.0, 1.0, 3, 2};

}  // namespace

TEST(EsriAsc, ASmallGridByteForByte)
{
    const Lattice l{480000.1, 2150000.3, 480000.4, 2150000.5, 0.1, 3, 2};
    const LatticeGrid g = grid_with(l, {{0.1 + 0.2, empty, 1e21}, {-0.0, 2240.17, -3.5e-7}});
    TempDir dir;
    write_esri_asc(target(dir, "dem.asc"), g, -9999);
    EXPECT_EQ(read_file(dir / "dem.asc"),
              "ncols 3\nnrows 2\nxllcorner 480000.1\nyllcorner 2150000.3\ncellsize 0.1\nNODATA_value -9999\n"
              "0.30000000000000004 -9999 1e+21\n"
              "-0 2240.17 -3.5e-07\n");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"dem.asc"});
}

// Any finite double written reads back as the same bits; empty cells read
// back as the nodata value; one line per row, LF only.
TEST(EsriAsc, EveryNumberReadsBackAsTheSameDouble)
{
    std::mt19937_64 rng(31);
    const Lattice l{-1234.5, 5e6, -1234.5 + 37 * 0.3, 5e6 + 23 * 0.3, 0.3, 37, 23};
    std::vector<std::vector<double>> rows(23, std::vector<double>(37));
    for (auto& row : rows)
        for (double& v : row) {
            std::uint64_t bits = rng();
            std::memcpy(&v, &bits, sizeof v);
            if (!std::isfinite(v) || rng() % 4 == 0)
                v = std::round(std::uniform_real_distribution<double>(-50, 3000)(rng) * 100) / 100;
            if (rng() % 7 == 0) v = empty;
        }
    const double nodata = -std::numeric_limits<float>::max();
    const LatticeGrid g = grid_with(l, rows);
    TempDir dir;
    write_esri_asc(target(dir, "r.asc"), g, nodata);
    const std::string text = read_file(dir / "r.asc");
    EXPECT_EQ(text.find('\r'), std::string::npos);

    std::istringstream in(text);
    std::string line;
    std::vector<std::string> header;
    for (int k = 0; k < 6 && std::getline(in, line); ++k) header.push_back(line);
    EXPECT_EQ(header, (std::vector<std::string>{"ncols 37", "nrows 23", "xllcorner -1234.5", "yllcorner 5e+06",
                                                "cellsize 0.3", "NODATA_value -3.4028234663852886e+38"}));
    const auto read_double = [](const std::string& token) {
        double v = 0;
        const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), v);
        EXPECT_TRUE(error == std::errc() && end == token.data() + token.size()) << token;
        return v;
    };
    for (std::size_t r = 0; r < rows.size(); ++r) {
        ASSERT_TRUE(std::getline(in, line)) << r;
        std::istringstream tokens(line);
        std::string token;
        std::size_t c = 0;
        for (; tokens >> token; ++c) {
            ASSERT_LT(c, rows[r].size());
            const double want = std::isnan(rows[r][c]) ? nodata : rows[r][c], got = read_double(token);
            EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0) << r << " " << c << " " << token;
        }
        EXPECT_EQ(c, rows[r].size());
        EXPECT_EQ(line.find("  "), std::string::npos);
    }
    EXPECT_FALSE(std::getline(in, line));
}

namespace {
int renames_to_fail_on_prj(int dir, const char* from, const char* to)
{
    const std::string name = to;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".prj") == 0) return errno = EACCES, -1;
    return ::renameat(dir, from, dir, to);
}
}  // namespace

// The grid and its .prj take their places both or neither: an older grid
// of the name is left as it was whichever step fails.
TEST(EsriAsc, TheGridAndItsPrjCompleteOrNothing)
{
    const LatticeGrid g = grid_with(unit, {{1, 2, 3}, {4, empty, 6}});
    const std::string prj_text = "PROJCS[\"WGS 84 / UTM zone 31N\"]";
    {
        TempDir dir;
        const OutputTarget asc = target(dir, "dem.asc");
        write_esri_asc(asc, prj_beside(asc), prj_text, g, -9999);
        EXPECT_EQ(read_file(dir / "dem.prj"), prj_text);
        EXPECT_EQ(read_file(dir / "dem.asc").substr(0, 8), "ncols 3\n");
        EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"dem.asc", "dem.prj"}));
    }
    {
        // A .prj that cannot be created: a folder has its name.
        TempDir dir;
        write_file(dir / "dem.asc", "an older grid");
        std::filesystem::create_directory(dir / "dem.prj");
        const OutputTarget asc = target(dir, "dem.asc");
        EXPECT_EQ(failure_of([&] { write_esri_asc(asc, prj_beside(asc), prj_text, g, -9999); }),
                  "\n\n\tThe file dem.prj cannot be created\n");
        EXPECT_EQ(read_file(dir / "dem.asc"), "an older grid");
        EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"dem.asc", "dem.prj"}));
    }
    {
        // Both written, the .prj cannot take its place: the grid is taken back.
        TempDir dir;
        write_file(dir / "dem.asc", "an older grid");
        const OutputTarget asc = target(dir, "dem.asc");
        output_set_calls(nullptr, renames_to_fail_on_prj);
        const std::string error = failure_of([&] { write_esri_asc(asc, prj_beside(asc), prj_text, g, -9999); });
        output_set_calls(nullptr, nullptr);
        EXPECT_EQ(error, "\n\n\tThe file dem.prj was written but could not take its place; nothing was kept\n");
        EXPECT_EQ(read_file(dir / "dem.asc"), "an older grid");
        EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"dem.asc"});
    }
    // The .prj's name beside the grid's.
    TempDir dir;
    EXPECT_EQ(prj_beside(target(dir, "out/dem")).shown, "out/dem.prj");
    EXPECT_EQ(prj_beside(target(dir, "dem.v2.asc")).host, dir / "dem.v2.prj");
}

TEST(EsriAsc, ValuesTheFormatCannotHold)
{
    TempDir dir;
    const LatticeGrid g = grid_with(unit, {{1, 2, 3}, {4, std::numeric_limits<double>::infinity(), 6}});
    EXPECT_EQ(failure_of([&] { write_esri_asc(target(dir, "a.asc"), g, -9999); }),
              "\n\n\tThe cell of row 1, column 1 from the north-west holds inf, which the file a.asc cannot hold; "
              "nothing was kept\n");
    EXPECT_EQ(failure_of([&] {
                  write_esri_asc(target(dir, "a.asc"), grid_with(unit, {{1, 2, 3}, {4, 5, 6}}), empty);
              }),
              "\n\n\tThe nodata value nan cannot be written to the file a.asc\n");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{});
}
