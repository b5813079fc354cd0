#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "points/extent_pass.h"
#include "support.h"

using namespace kestranov;

namespace {

std::string records(int n, int offset = 0)
{
    std::string s;
    for (int k = 0; k < n; ++k)
        s += std::to_string(1000 + (k + offset) % 97) + ".5 " + std::to_string(2000 + (k + offset) % 89) + ".25 " +
             std::to_string(300 + (k + offset) % 13) + "\n";
    return s;
}

}  // namespace

TEST(ExtentPass, NameLinesAndTheTotalOverAllFiles)
{
    Session r;
    r.use_points({{"a", "1 2 3\n4 5 6\n7 8 9\n"}, {"b", "1 1 1\n2 2 2\n3 3 3\n-4 -5 -6\n10 20 30\n"}});
    ASSERT_EQ(r.pass(), "");
    EXPECT_EQ(r.out.str(),
              "\n\n\tFile 1 Name : c:\\images\\zone1\\a.xyz\n\n"
              "\n\n\tFile 2 Name : c:\\images\\zone1\\b.xyz\n\n"
              "\n\n\tFirst Lecture \n\n\t\tTotal number of registers = 8 \n");
    // Extents start from the data: negative values are kept as they are.
    EXPECT_EQ(r.st.Xmin, -4);
    EXPECT_EQ(r.st.Xmax, 10);
    EXPECT_EQ(r.st.Ymin, -5);
    EXPECT_EQ(r.st.Ymax, 20);
    EXPECT_EQ(r.st.Zmin, -6);
    EXPECT_EQ(r.st.Zmax, 30);
}

TEST(ExtentPass, ProgressLinesCountPerFile)
{
    Session r;
    r.use_points({{"big", records(250000)}, {"small", records(100000)}});
    ASSERT_EQ(r.pass(), "");
    const std::string t = r.out.str();
    const std::string p1 = "\tregister 100000                    \r    ";
    const std::string p2 = "\tregister 200000                    \r    ";
    EXPECT_EQ(t, "\n\n\tFile 1 Name : c:\\images\\zone1\\big.xyz\n\n" + p1 + p2 +
                     "\n\n\tFile 2 Name : c:\\images\\zone1\\small.xyz\n\n" + p1 +
                     "\n\n\tFirst Lecture \n\n\t\tTotal number of registers = 350000 \n");
}

TEST(ExtentPass, LineEndsEndOfTextByteAndBlockEdgesDoNotChangeTheRecords)
{
    const std::string plain = "480000.25 2150000.5 2201.37\n480500.75 2150400.5 2456.9\n480100 2150200 -3.5\n";
    std::string crlf;
    for (char c : plain) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const std::string variants[] = {
        plain,
        plain.substr(0, plain.size() - 1),              // no final line break
        crlf,                                           // CR LF
        plain + "\x1a" + "garbage that is never read",  // 0x1A ends the text
        plain.substr(0, plain.size() - 1) + "\x1a\r\n",
        "  \t" + plain + "\n\n\t  ",  // extra white space
    };
    for (const std::string& v : variants) {
        Session r;
        r.use_points({{"a", v}});
        ASSERT_EQ(r.pass(), "") << v;
        EXPECT_NE(r.out.str().find("registers = 3 \n"), std::string::npos);
        EXPECT_EQ(r.st.Xmin, 480000.25);
        EXPECT_EQ(r.st.Xmax, 480500.75);
        EXPECT_EQ(r.st.Ymin, 2150000.5);
        EXPECT_EQ(r.st.Ymax, 2150400.5);
        EXPECT_EQ(r.st.Zmin, -3.5);
        EXPECT_EQ(r.st.Zmax, 2456.9);
    }

    // More than one 4 MiB block, with numbers of varying length so that
    // tokens fall across block edges at many places; the extents and the
    // count must be those of the records themselves.
    std::mt19937 rng(7);
    std::string big;
    double xmin = 1e300, xmax = -1e300, zmin = 1e300, zmax = -1e300;
    int n = 0;
    while (big.size() < 9u << 20) {
        double x = 1000 + static_cast<double>(rng() % 100000) / 1000.0;
        double z = -50 + static_cast<double>(rng() % 1000000) / 100.0;
        char line[96];
        int len = std::snprintf(line, sizeof line, "%.*f %u %.*f\n", static_cast<int>(rng() % 4), x,
                                static_cast<unsigned>(rng() % 1000), static_cast<int>(rng() % 3), z);
        big.append(line, static_cast<std::size_t>(len));
        double xs = 0, zs = 0;
        unsigned ys = 0;
        std::sscanf(line, "%lf %u %lf", &xs, &ys, &zs);
        xmin = std::min(xmin, xs), xmax = std::max(xmax, xs), zmin = std::min(zmin, zs), zmax = std::max(zmax, zs);
        ++n;
    }
    Session r;
    r.use_points({{"big", big}});
    ASSERT_EQ(r.pass(), "");
    EXPECT_NE(r.out.str().find("registers = " + std::to_string(n) + " \n"), std::string::npos);
    EXPECT_EQ(r.st.Xmin, xmin);
    EXPECT_EQ(r.st.Xmax, xmax);
    EXPECT_EQ(r.st.Zmin, zmin);
    EXPECT_EQ(r.st.Zmax, zmax);
}

TEST(ExtentPass, BadContentNamesTheFileAndTheRecord)
{
    struct Case {
        std::string bytes;
        std::string message;
    };
    const std::string path = "c:\\images\\zone1\\a.xyz";
    const Case cases[] = {
        {"X Y Z\n1 2 3\n", "\n\n\tFile " + path + ", record 1: \"X\" is not a number\n"},
        {"1 2 3\n4 5 6x\n", "\n\n\tFile " + path + ", record 2: \"6x\" is not a number\n"},
        {"1 2 3\n4 5 nan\n", "\n\n\tFile " + path + ", record 2: \"nan\" is not a number\n"},
        {"1 2 3\n4 5 1e999\n", "\n\n\tFile " + path + ", record 2: \"1e999\" is not a finite number\n"},
        {"1 2 3\n4 5\n", "\n\n\tFile " + path + ", record 2 has fewer than three numbers\n"},
        {"1 2 3 4\n", "\n\n\tFile " + path + ", record 2 has fewer than three numbers\n"},
        {"1;2;3\n", "\n\n\tFile " + path + ", record 1: \"1;2;3\" is not a number\n"},
        {"1 2 3\n" + std::string(60, '7') + "q\n",
         "\n\n\tFile " + path + ", record 2: \"" + std::string(40, '7') + "...\" is not a number\n"},
        {std::string("1 2 \0\xff 3\n", 9), "\n\n\tFile " + path + ", record 1: \"\\x00\\xFF\" is not a number\n"},
    };
    for (const Case& c : cases) {
        Session r;
        r.use_points({{"a", c.bytes}});
        EXPECT_EQ(r.pass(), c.message) << c.bytes;
    }
    // A token longer than a whole block cannot hang or overflow the reader.
    Session r;
    r.use_points({{"a", "1 2 " + std::string(5u << 20, '9') + "x"}});
    EXPECT_NE(r.pass().find("record 1: \"9999"), std::string::npos);
}

TEST(ExtentPass, CloudsWithoutPointsAndFilesThatCannotBeRead)
{
    {
        Session r;
        r.use_points({{"a", ""}, {"b", "\n \r\n"}});
        EXPECT_EQ(r.pass(), "\n\n\tThe point files hold no point: there is nothing to grid\n");
        EXPECT_NE(r.out.str().find("registers = 0 \n"), std::string::npos);
    }
    {
        Session r;
        r.use_points({{std::string("a"), std::string("1 2 3\n")}});
        std::filesystem::remove(r.drive.path() / "images" / "zone1" / "a.xyz");
        std::filesystem::create_directory(r.drive.path() / "images" / "zone1" / "a.xyz");
        EXPECT_EQ(r.pass(), "\n\tFile c:\\images\\zone1\\a.xyz unknown\n");
        EXPECT_EQ(r.out.str(), "");
    }
}

TEST(ExtentPass, MissingSecondOfThreeFilesEndsTheRunAfterTheFirst)
{
    Session s;
    s.put("a.xyz", records(150000));
    s.put("c.xyz", "1 2 3\n");
    EXPECT_EQ(s.run(gridding_answers({"a", "b", "c"}, "1", 0) + "k"), 1);
    const std::string t = s.console();
    const std::string tail =
        "\n\n\tFile 1 Name : c:\\images\\zone1\\a.xyz\n\n\tregister 100000                    \r    "
        "\n\tFile c:\\images\\zone1\\b.xyz unknown\n";
    ASSERT_GE(t.size(), tail.size());
    EXPECT_EQ(t.substr(t.size() - tail.size()), tail);
    EXPECT_EQ(t.find("File 3"), std::string::npos);
    EXPECT_EQ(s.in.get(), EOF) << "the key press was taken";
}
