#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "platform/cpu_features.h"
#include "points/extent_pass.h"
#include "points/point_reader.h"
#include "points/record_path.h"
#include "reference_reading.h"
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

namespace {

// A file read through the one door on every vector path of the record
// reading (on this processor), at the usual block size and at blocks of
// 4099 bytes: its numbers in order, or the message that ended the reading.
struct Reading {
    std::vector<double> values;
    std::string error;
    bool operator==(const Reading&) const = default;
};

Reading read_as_paths(const std::string& text, std::size_t block, VectorPath path)
{
    Reading r;
    Session s;
    s.use_points({{"a", text}});
    PointFiles files = point_files_of(s.st);
    if (block) files.reading.block_size = block;
    files.reading.path = path;
    try {
        SeenFile seen;
        read_point_file(
            s.out, files, 1,
            [&](const Point* pts, std::size_t n) {
                for (std::size_t k = 0; k < n; ++k) r.values.insert(r.values.end(), {pts[k].x, pts[k].y, pts[k].z});
            },
            seen);
    } catch (const Fatal& e) {
        r.error = e.text;
    }
    return r;
}

// Runs `check` once on each vector path this processor has.
template <class Check>
void on_every_path(Check check)
{
    for (VectorPath path : {VectorPath::avx512, VectorPath::avx2, VectorPath::scalar})
        if (vector_path_available(path))
            check(path, vector_path_name(path));
        else
            std::printf("this processor has no %s path\n", vector_path_name(path));
}

bool same_doubles(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

}  // namespace

// Every number of a file larger than a block is the double strtod reads
// from its token, whatever its shape and wherever a block edge cuts it:
// runs of records of one shape (signs, up to 17 digits, tabs, CR LF,
// records spanning lines) that alternate with other shapes, inside a block
// and across block edges, and tokens of no shape between them.
TEST(PointReader, EveryNumberAcrossBlockEdgesIsStrtodsReading)
{
    const unsigned seed = 31;
    std::mt19937_64 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto digits = [&](std::string& t, int n) {
        for (int k = 0; k < n; ++k) t += static_cast<char>('0' + pick(10));
    };
    const char* gaps[] = {" ", "\t", "\n", "\r\n", "  ", " \r\n\t"};
    // Record formats: per number a sign, whole digits and decimals (-1: no
    // point), and the gap after it.
    struct Format {
        char sign[3];
        int whole[3], decimals[3];
        const char* gap[3];
    };
    std::vector<Format> formats(12);
    for (Format& f : formats)
        for (int n = 0; n < 3; ++n) {
            f.sign[n] = "\0\0-+"[pick(4)];
            f.whole[n] = pick(9);
            f.decimals[n] = pick(8) - 1;
            if (f.whole[n] + f.decimals[n] <= 0) f.whole[n] = 1;
            if (pick(6) == 0) f.whole[n] += 8;  // 16 digits and more now and then: no shape
            f.gap[n] = n == 2 ? (pick(2) ? "\n" : "\r\n") : gaps[pick(6)];
        }
    // Among the frequent ones, the longest numbers a shape may hold and the
    // shortest it may not: 15 digits, and 16 without a point.
    formats[1].whole[0] = 16, formats[1].decimals[0] = -1;
    formats[2].whole[1] = 8, formats[2].decimals[1] = 7;
    std::string text;
    std::vector<std::string> tokens;
    while (text.size() < (9u << 20) || tokens.size() % 3 != 0) {
        if (pick(4) == 0 || tokens.size() % 3 != 0) {  // a token of its own
            std::string t;
            if (pick(4) == 0) t += pick(2) ? '-' : '+';
            digits(t, pick(6) == 0 ? 1 + pick(24) : 1 + pick(7));
            if (pick(3)) {
                t += '.';
                digits(t, pick(6) == 0 ? pick(25) : pick(4));
            }
            if (pick(15) == 0) t += (pick(2) ? "e" : "E-") + std::to_string(pick(280));  // stays finite
            tokens.push_back(t);
            text += t + gaps[pick(6)];
            continue;
        }
        const Format& f = formats[static_cast<std::size_t>(pick(pick(3) ? 3 : 12))];
        for (int r = 1 + pick(pick(2) ? 4 : 300); r > 0; --r)
            for (int n = 0; n < 3; ++n) {
                std::string t;
                if (f.sign[n]) t += f.sign[n];
                digits(t, f.whole[n]);
                if (f.decimals[n] >= 0) t += '.';
                digits(t, f.decimals[n]);
                tokens.push_back(t);
                text += t + f.gap[n];
            }
    }
    std::vector<double> expected;
    for (const std::string& t : tokens) expected.push_back(std::strtod(t.c_str(), nullptr));
    on_every_path([&](VectorPath path, const char* name) {
        const std::uint64_t hits = record_path_hits();
        for (std::size_t block : {std::size_t{0}, std::size_t{4099}}) {
            const Reading r = read_as_paths(text, block, path);
            ASSERT_EQ(r.error, "") << name;
            ASSERT_EQ(r.values.size(), expected.size()) << name;
            for (std::size_t k = 0; k < expected.size(); ++k)
                ASSERT_EQ(std::memcmp(&r.values[k], &expected[k], sizeof(double)), 0)
                    << "seed " << seed << ", " << name << ", block " << block << ", token " << k << " \"" << tokens[k]
                    << "\"";
        }
        // Many records are read by shape: an eighth of them at least in each reading.
        EXPECT_GT(record_path_hits() - hits, expected.size() / 3 / 4) << name;
    });
}

// A record one byte off the shape of the records before it, at any of its
// positions and by any kind of byte, reads as its tokens do: the same
// numbers, or the same message naming the same record.
TEST(PointReader, ARecordOneByteOffItsShapeReadsAsItsTokens)
{
    const std::string shape = "480123.45\t-2150678.9 1234.56\r\n";
    std::string clean;
    for (int k = 0; k < 40; ++k) {
        std::string record = shape;
        for (char& c : record)
            if (c >= '0' && c <= '9') c = static_cast<char>('0' + (c - '0' + k) % 10);
        clean += record;
    }
    const std::size_t off = 30 * shape.size();  // record 31 is changed
    on_every_path([&](VectorPath path, const char* name) {
        for (std::size_t i = 0; i < shape.size(); ++i)
            for (char c : std::string("x7 -.+e:/\n\x1a", 11)) {
                std::string text = clean;
                text[off + i] = c;
                if (text == clean) continue;
                const reference::Expected want = reference::expected_reading(text, "c:\\images\\zone1\\a.xyz");
                const Reading got = read_as_paths(text, 0, path);
                EXPECT_EQ(got.error, want.error) << name << ", byte " << i << " made " << c;
                if (want.error.empty()) {
                    EXPECT_TRUE(same_doubles(got.values, want.values)) << name << ", byte " << i;
                }
            }
    });
}
