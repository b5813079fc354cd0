#include <gtest/gtest.h>

#include "output/raw_image.h"
#include "output/scaled_value.h"
#include "support.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <random>

using namespace kestranov;

namespace {
const std::string type_menu = "\n\ttype of DEM raster :\n\t\t0 ====> 16 bits\n\t\t1 ====> 32 bits\n\t\t";
const std::string scale_menu =
    "\n\toutput hipsometric scale:\n\t\t0 ====> meters\n\t\t1 ====> decimeters\n\t\t2 ====> centimeters\n\t\t3 "
    "====> millimeters\n\t\t";
}  // namespace

TEST(RasterWriter, TheSmallGridInMetres16Bits)
{
    Session o;
    o.use_grid(small_grid);
    ASSERT_EQ(o.save("dem1\n1\n0\n0\n"), "");
    EXPECT_EQ(read_file(o.zone("dem1_lidar_m2.raw")),
              bytes({0xC0, 0x08, 0xC1, 0x08, 0xBF, 0x08, 0xBE, 0x08, 0xBD, 0x08, 0xFD, 0xFF}));
    EXPECT_EQ(o.files_in_zone(), (std::vector<std::string>{"dem1_lidar_m2.raw", "dem1_lidar_m2.txt"}));
    // Nothing on the console after the menus.
    EXPECT_EQ(o.out.str(),
              "\n\n\tName of the resulting DEM (without any extension) ? "
              "\n\tFormat Type :\n\t\t0 ====> ascii\n\t\t1 ====> raster\n\t\t" +
                  type_menu + scale_menu);
    EXPECT_EQ(o.st.nomim4, "c:\\images\\zone1\\dem1_lidar_m2.raw");
    EXPECT_EQ(o.st.nomdescr4, "c:\\images\\zone1\\dem1_lidar_m2.txt");
}

TEST(RasterWriter, TheDescriptorByteForByte)
{
    Rows rows(400, std::vector<double>(500, 2300.0));
    rows[0][0] = 2201.37;
    rows[399][499] = 2456.9;
    Session o;
    o.use_grid(rows);
    o.st.pix_size = 1;
    ASSERT_EQ(o.save("dem1\n1\n0\n2\n"), "");
    EXPECT_EQ(read_file(o.zone("dem1_lidar_m2.txt")),
              "400\r\n500\r\n2\r\n220136\r\n245690\r\n1.000000\r\n\r\n\r\n\r\n\tUTM Coordinates :"
              "\r\n\t\tX min : 479997.750000 Y min : 2149998.000000 "
              "\r\n\t\tX max : 480503.250000 Y max : 2150403.000000 "
              "\r\n\r\n\tfirst return [MS generation] "
              "\r\n\r\n\t\t\t\tKestranov LIDAR DEM generator");
    const std::string image = read_file(o.zone("dem1_lidar_m2.raw"));
    ASSERT_EQ(image.size(), 400000u);
    EXPECT_EQ(image.substr(0, 4), bytes({220136 & 0xFF, (220136 >> 8) & 0xFF, 230000 & 0xFF, (230000 >> 8) & 0xFF}));
    EXPECT_EQ(image.substr(399998), bytes({245690 & 0xFF, (245690 >> 8) & 0xFF}));

    Session w;
    w.use_grid(rows);
    w.st.retorno = 1;
    w.st.pix_size = 0.5;  // the corners still move by 2.5 m
    ASSERT_EQ(w.save("dem1\n1\n1\n2\n"), "");
    const std::string d = read_file(w.zone("dem1_lidar_m4.txt"));
    EXPECT_EQ(d.substr(0, 37), "400\r\n500\r\n4\r\n220136\r\n245690\r\n0.500000");
    EXPECT_NE(d.find("X min : 479997.750000 Y min : 2149998.000000 \r\n"), std::string::npos);
    EXPECT_NE(d.find("\r\n\r\n\tlast return [Provisional MT generation] \r\n\r\n\t\t\t\tKestranov"), std::string::npos);
    const std::string image4 = read_file(w.zone("dem1_lidar_m4.raw"));
    ASSERT_EQ(image4.size(), 800000u);
    EXPECT_EQ(image4.substr(0, 4), bytes({0xE8, 0x5B, 0x03, 0x00}));  // 220136
}

TEST(RasterWriter, EveryScaleTruncatesTheExtendedProduct)
{
    struct Case {
        double metres;
        const char* answers;  // type, scale
        std::string stored;
    };
    const Case cases[] = {
        {2456.9, "1\n0\n", bytes({0x98, 0x09, 0, 0})},      // 2456
        {100.1, "1\n1\n", bytes({0xE8, 0x03, 0, 0})},       // 1000, not 1001
        {2201.37, "1\n2\n", bytes({0xE8, 0x5B, 0x03, 0})},  // 220136, not 220137
        {2201.37, "1\n3\n", bytes({0x19, 0x97, 0x21, 0})},  // 2201369: the product is exact at 64 bits
        {-3.7, "1\n0\n", bytes({0xFD, 0xFF, 0xFF, 0xFF})},  // -3
        {-3.7, "0\n0\n", bytes({0xFD, 0xFF})},              // 65533
        {-3.7, "1\n1\n", bytes({0xDB, 0xFF, 0xFF, 0xFF})},  // -37
        {-3.7, "0\n1\n", bytes({0xDB, 0xFF})},              // 65499
        {700.0, "0\n2\n", bytes({0x70, 0x11})},             // 70000 stored as 4464
    };
    for (const Case& c : cases) {
        Session o;
        o.use_grid(Rows{{c.metres}});
        ASSERT_EQ(o.save(std::string("d\n1\n") + c.answers), "") << c.metres << " " << c.answers;
        const bool m2 = c.stored.size() == 2;
        EXPECT_EQ(read_file(o.zone(m2 ? "d_lidar_m2.raw" : "d_lidar_m4.raw")), c.stored)
            << c.metres << " " << c.answers;
    }
    // The descriptor carries 70000 in full.
    Session o;
    o.use_grid(Rows{{700.0}});
    ASSERT_EQ(o.save("d\n1\n0\n2\n"), "");
    EXPECT_EQ(read_file(o.zone("d_lidar_m2.txt")).substr(0, 23), "1\r\n1\r\n2\r\n70000\r\n70000\r\n");
}

// Issue 10: a model without columns crashed the image writer.
TEST(RasterWriter, EmptyGridsGiveAnEmptyImageAndADescriptor)
{
    for (const auto& [rows, cols] : {std::pair{0, 7}, std::pair{3, 0}, std::pair{0, 0}})
        for (const char* type : {"0", "1"}) {
            Session o;
            o.use_grid(Rows{});
            o.st.nb_lig = rows, o.st.nb_col = cols, o.st.Zmin = 10, o.st.Zmax = 11;
            o.st.dtab = Matrix<double>(cols + 2, rows + 2);
            ASSERT_EQ(o.save(std::string("e\n1\n") + type + "\n2\n"), "") << rows << " x " << cols;
            const std::string bytes = type[0] == '0' ? "2" : "4", name = "e_lidar_m" + bytes;
            EXPECT_EQ(read_file(o.zone(name + ".raw")), "");
            const std::string head =
                std::to_string(rows) + "\r\n" + std::to_string(cols) + "\r\n" + bytes + "\r\n1000\r\n1100\r\n";
            EXPECT_EQ(read_file(o.zone(name + ".txt")).substr(0, head.size()), head);
        }
}

TEST(RasterWriter, MenusAskAgainUntilAListedChoice)
{
    Session o;
    o.use_grid(Rows{{100, 101}, {102, 103}});
    ASSERT_EQ(o.save("d\n1\n3\n-1\nx\n0\n9\n-2\n2.5\n2\n"), "");
    EXPECT_EQ(count_of(o.out.str(), type_menu), 4u);
    EXPECT_EQ(count_of(o.out.str(), scale_menu), 4u);
    EXPECT_EQ(o.st.coef, 100.0);
    EXPECT_EQ(o.files_in_zone(), (std::vector<std::string>{"d_lidar_m2.raw", "d_lidar_m2.txt"}));
}

// A choice that would lose elevations is refused, and nothing is written
// until the type and scale fit.
TEST(RasterWriter, ARangeThatDoesNotFitIsAskedAgain)
{
    {
        Session o;
        o.use_grid({{100.0, 170.0}});  // 70 m: 70000 mm, more than 16 bits hold
        ASSERT_EQ(o.save("d\n1\n0\n3\n0\n2\n"), "");
        const std::string t = o.out.str();
        EXPECT_NE(t.find("The scaled elevations run from 100000 to 170000, a span of 70000, more than the 65535 of a "
                         "16 bits raster"),
                  std::string::npos)
            << t;
        EXPECT_EQ(count_of(t, type_menu), 2u);
        EXPECT_EQ(o.st.escala, 2);
        EXPECT_EQ(o.files_in_zone(), (std::vector<std::string>{"d_lidar_m2.raw", "d_lidar_m2.txt"}));
    }
    {
        Session o;
        o.use_grid({{3e6, 3e6 + 1}});  // 3000 km in millimetres: beyond 32 bits
        ASSERT_EQ(o.save("d\n1\n1\n3\n1\n0\n"), "");
        EXPECT_NE(o.out.str().find("beyond the 32 bits"), std::string::npos);
        EXPECT_EQ(o.files_in_zone(), (std::vector<std::string>{"d_lidar_m4.raw", "d_lidar_m4.txt"}));
        EXPECT_EQ(read_file(o.zone("d_lidar_m4.txt")).substr(0, 27), "1\r\n2\r\n4\r\n3000000\r\n3000001\r\n");
    }
    {
        // A span of exactly 65535 fits.
        Session o;
        o.use_grid({{0.0, 65535.0}});
        ASSERT_EQ(o.save("d\n1\n0\n0\n"), "");
        EXPECT_EQ(o.out.str().find("scaled elevations"), std::string::npos);
    }
    {
        Session o;
        o.use_grid({{0.0, 65536.0}});
        EXPECT_NE(o.save("d\n1\n0\n0\n"), "");  // refused, then the end of input
        EXPECT_EQ(o.files_in_zone(), std::vector<std::string>{});
    }
}

// The integer form of the scaled value against the extended-precision
// product it stands for, on elevations of every magnitude and sign.
TEST(RasterWriter, IntegerScalingAgreesWithTheExtendedProduct)
{
    const unsigned seed = 4242;
    std::mt19937_64 rng(seed);
    const double coefs[] = {1.0, 10.0, 100.0, 1000.0, 0.0, 2.5};
    for (int round = 0; round < sweep(2000000); ++round) {
        double v;
        if (round % 3 == 0) {
            std::uint64_t bits = rng();
            std::memcpy(&v, &bits, sizeof v);
            if (!std::isfinite(v)) continue;
        } else {
            // Elevations with up to three decimals, as point files carry them, and their neighbours.
            v = static_cast<double>(static_cast<std::int64_t>(rng() % 20000000) - 10000000) / 1000.0;
            if (round % 3 == 1) v = std::nextafter(v, (rng() & 1) ? 1e300 : -1e300);
        }
        const double coef = coefs[rng() % std::size(coefs)];
        ASSERT_EQ(scaled_value(v, coef), scaled_value_extended(v, coef))
            << "seed " << seed << " round " << round << std::hexfloat << " value " << v << " coef " << coef;
    }
}
