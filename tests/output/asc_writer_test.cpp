#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "core/lf_text.h"
#include "support.h"

using namespace kestranov;

TEST(AscWriter, TheSmallGridByteForByte)
{
    Session o;
    o.use_grid(small_grid);
    ASSERT_EQ(o.save("dem1\n0\n"), "");
    const std::string file = read_file(o.zone("dem1_lidar.asc"));
    EXPECT_EQ(file,
              "ncols 3\r\nnrows 2\r\nxllcorner 480000.250000\r\nyllcorner 2150000.500000\r\ncellsize 2.000000\r\n"
              "nodata_value -9999.9999\r\n"
              "2240.170000\t2241.000000\t2239.500000\t2238.250000\t2237.000000\t-3.500000\t");
    EXPECT_EQ(file.size(), 183u);
    EXPECT_EQ(o.out.str(),
              "\n\n\tName of the resulting DEM (without any extension) ? "
              "\n\tFormat Type :\n\t\t0 ====> ascii\n\t\t1 ====> raster\n\t\t"
              "\n\nOutput name c:\\images\\zone1\\dem1_lidar.asc ");
    EXPECT_EQ(o.st.nomim4, "c:\\images\\zone1\\dem1_lidar.asc");
    EXPECT_EQ(o.files_in_zone(), std::vector<std::string>{"dem1_lidar.asc"});
}

TEST(AscWriter, NamesMenusAndReplacing)
{
    {
        Session o;
        o.use_grid(small_grid);
        ASSERT_EQ(o.save("dem1.asc\n2\n7\n-1\nascii\n0\n"), "");
        EXPECT_EQ(o.files_in_zone(), std::vector<std::string>{"dem1.asc_lidar.asc"});
        EXPECT_EQ(count_of(o.out.str(), "\n\tFormat Type :"), 5u);
        EXPECT_EQ(count_of(o.out.str(), "Please answer 0 or 1."), 4u);
    }
    {
        Session o;
        o.use_grid(small_grid);
        write_file(o.zone("dem1_lidar.asc"), "an older grid, longer than the new one" + std::string(500, 'x'));
        ASSERT_EQ(o.save("dem1\n0\n"), "");
        EXPECT_EQ(read_file(o.zone("dem1_lidar.asc")).size(), 183u);
        EXPECT_EQ(o.files_in_zone(), std::vector<std::string>{"dem1_lidar.asc"});
    }
    for (const Rows& rows : {Rows{{1, 2, 3}}, Rows{{1}, {2}, {3}}}) {
        // One row or one column: the body stays one line.
        Session o;
        o.use_grid(rows);
        ASSERT_EQ(o.save("r\n0\n"), "");
        const std::string file = read_file(o.zone("r_lidar.asc"));
        EXPECT_EQ(count_of(file, "\n"), 6u);
        EXPECT_EQ(file.substr(file.size() - 27), "1.000000\t2.000000\t3.000000\t");
    }
}

// A grid of several bands that end within rows, one of them of values long
// enough to outgrow a band's usual room: the same bytes on any number of
// threads, the header first, the cells in order.
TEST(AscWriter, AnyThreadsWriteTheSameBytes)
{
    Rows rows(331, std::vector<double>(317));
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> z(-50.0, 3000.0);
    for (auto& r : rows)
        for (double& v : r) v = z(rng);
    for (int k = 40000; k < 43000; ++k) rows[k / 317][k % 317] = -1.7e308;
    std::string body;
    for (const auto& r : rows)
        for (double v : r) body += lf(v) + "\t";
    for (int threads : {1, 2, 3}) {
        Session o;
        o.use_grid(rows);
        o.st.reading.threads = threads;
        ASSERT_EQ(o.save("big\n0\n"), "");
        const std::string file = read_file(o.zone("big_lidar.asc"));
        EXPECT_EQ(file.substr(0, 14), "ncols 317\r\nnro") << threads << " threads";
        EXPECT_TRUE(file.size() > body.size() && file.substr(file.size() - body.size()) == body)
            << threads << " threads";
    }
}

TEST(AscWriter, EmptyGridsHaveTheHeaderOnly)
{
    Session o;
    o.use_grid(Rows{});
    o.st.nb_lig = 5, o.st.nb_col = 0;
    o.st.dtab = Matrix<double>(2, 7);  // as a run allocates it: two spare rows and columns
    ASSERT_EQ(o.save("e\n0\n"), "");
    EXPECT_EQ(read_file(o.zone("e_lidar.asc")),
              "ncols 0\r\nnrows 5\r\nxllcorner 480000.250000\r\nyllcorner 2150000.500000\r\ncellsize 2.000000\r\n"
              "nodata_value -9999.9999\r\n");
}

// The fast fixed-point text against the C library's "%lf".
TEST(AscWriter, FixedTextMatchesPrintfForAnyDouble)
{
    std::mt19937_64 rng(42);
    std::vector<double> values = {0.0, -0.0, -1e-9, 1e-9, -4e-7, 5e-7, 4.9999995e-7, 0.0000005, 2.5e-7, 1.0000005,
                                  2201.37, -3.5, 1e15, 123456789.0000005, 1e22, -1e300, 1.7976931348623157e308,
                                  4.9e-324, 0.1, 0.125, 1e-6, 0.0000015, 2.0000025,
                                  // exact ties at the sixth decimal go to the even neighbour
                                  0.0078125, 0.0234375, -0.0078125, 1.0000005 - 1.0, 2251799.8136425,
                                  1.8446744073709e13, 1.8446744073710e13, 9.2e12, 1e13, 3e13};
    for (int k = 1; k < 128; ++k) values.push_back(k / 128.0), values.push_back(1000 + k / 128.0);
    for (int k = 0; k < sweep(200000); ++k) {
        std::uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isfinite(d) && std::fabs(d) < 1e30) values.push_back(d);
        const double scale = std::pow(10.0, static_cast<double>(rng() % 16) - 4);
        values.push_back((static_cast<double>(rng() % 2000000) - 1000000) / 1000.0 * scale);
    }
    for (double v : values) {
        char expected[400];
        std::snprintf(expected, sizeof expected, "%lf", v);
        ASSERT_EQ(lf(v), expected) << std::hexfloat << v;
    }
}
