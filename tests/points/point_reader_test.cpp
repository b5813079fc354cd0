#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <utility>

#include "platform/cpu_features.h"
#include "points/point_reader.h"
#include "points/record_path.h"
#include "reference_reading.h"
#include "support.h"
#include "synthetic_las.h"

using namespace kestranov;

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
    ConsoleFiles files = console_files(s.st);
    if (block) files.files.seams.block_size = block;
    files.files.seams.path = path;
    try {
        SeenFile seen;
        read_console_file(
            s.out, files, 0,
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

namespace {
// A console that changes a point file as soon as the extent pass has
// reported, that is between the two readings: as when a file is still being
// copied or exported while the program runs.
class ChangingConsole : public std::stringbuf {
public:
    // `during`: as soon as the second reading of the second file has begun
    // instead; `at_record`: at that progress line of the second reading.
    ChangingConsole(std::function<void()> change, bool during, const char* at_record = nullptr)
        : change_(std::move(change)),
          when_(at_record ? at_record
                : during  ? "File 2 Name"
                          : "First Lecture"),
          times_(during || at_record ? 2 : 1)
    {
    }

protected:
    int sync() override
    {
        if (change_ && count_of(str(), when_) >= times_) std::exchange(change_, nullptr)();
        return 0;
    }

private:
    std::function<void()> change_;
    std::string when_;
    std::size_t times_;
};
}  // namespace

// A point file that changes between the two readings. Points beyond the
// extents of the first reading went to rows and columns outside the grid;
// an elevation beyond them made the raster's descriptor (from the first
// reading) disagree with its cells; other points, the same in number or
// not, made a DEM of a cloud that was never measured as a whole. Whatever
// changed, the run stops before anything is written.
TEST(ChangedPointFile, APointFileThatChangesBetweenTheReadingsStopsTheRun)
{
    namespace fs = std::filesystem;
    const std::string b = "0 1 1\n1 1 1\n            ";
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> change;
        const char* says;
        bool during = false;  // while the second reading is under way
        // b made of 300000 records instead, read on this many threads, and
        // changed in the middle of its second reading: on one thread a page
        // it has mapped then lies beyond the file's end; on two, the block
        // read next comes short.
        int threads = 0;
    };
    // Rewritten in place to the same size, the date put back: as a rewrite
    // within one tick of the file system's clock, which only the points tell.
    const auto rewrite = [&](std::string text) {
        return [text, size = b.size()](const fs::path& f) {
            const auto date = fs::last_write_time(f);
            write_file(f, text + std::string(size - text.size(), ' '));
            fs::last_write_time(f, date);
        };
    };
    std::vector<Case> cases = {
        {"north", rewrite("0 9 1\n1 1 1\n"), "the point 0.000000 9.000000 lies outside the extents"},
        {"west", rewrite("-5 1 1\n1 1 1\n"), "the point -5.000000 1.000000 lies outside"},
        {"south", rewrite("0 -5 1\n1 1 1\n"), "the point 0.000000 -5.000000 lies outside"},
        {"east", rewrite("9 1 1\n1 1 1\n"), "the point 9.000000 1.000000 lies outside"},
        {"higher", rewrite("0 1 1\n1 1 5\n"), "the point 1.000000 1.000000 with the elevation 5.000000 lies outside"},
        {"lower", rewrite("0 1 0\n1 1 1\n"), "the point 0.000000 1.000000 with the elevation 0.000000 lies outside"},
        {"a point fewer", rewrite("0 1 1\n"), "it now holds 1 records, where the first reading counted 2"},
        {"a point more", rewrite("0 1 1\n1 1 1\n1 1 1\n"), "it now holds 3 records, where the first reading counted 2"},
        {"grown inside", [&](const fs::path& f) { write_file(f, b + "0.5 0.5 1\n"); },
         "it is no longer the file of the first reading"},
        {"replaced",
         [&](const fs::path& f) {
             write_file(f.string() + ".new", b);
             fs::rename(f.string() + ".new", f);
         },
         "it is no longer the file of the first reading"},
        {"renamed over while read",
         [&](const fs::path& f) {
             write_file(f.string() + ".new", b);
             fs::rename(f.string() + ".new", f);
         },
         "it is no longer the file of the first reading", true},
        {"removed while read", [&](const fs::path& f) { fs::remove(f); },
         "it is no longer the file of the first reading", true},
        {"touched",
         [&](const fs::path& f) { fs::last_write_time(f, fs::last_write_time(f) + std::chrono::seconds(5)); },
         "it is no longer the file of the first reading"},
    };
    const auto cut = [](const fs::path& f) { fs::resize_file(f, 100); };
    cases.push_back({"cut shorter while read", cut, "it is no longer the file of the first reading", true, 1});
    cases.push_back(
        {"cut shorter while read on two threads", cut, "it is no longer the file of the first reading", true, 2});
    // Grown while read by bytes that are no number: the change is told,
    // not the bytes the file did not hold when it was opened.
    const auto grow = [](const fs::path& f) { std::ofstream(f, std::ios::app) << "abc\n"; };
    cases.push_back({"grown by no number while read", grow, "it is no longer the file of the first reading", true, 1});
    cases.push_back({"grown by no number while read on two threads", grow,
                     "it is no longer the file of the first reading", true, 2});
    std::string many;
    for (int k = 0; k < 300000; ++k) many += k % 2 ? "0 1 1\n" : "1 0 1\n";
    for (const Case& c : cases)
        for (const char* output : {"dem\n0\n", "dem\n1\n0\n0\n"}) {
            Session s;
            s.put("a.xyz", "0 0 1\n1 0 1\n");
            s.put("b.xyz", c.threads ? many : b);
            s.st.reading.threads = std::max(c.threads, 1);
            s.st.seams.threads_from_bytes = 0;
            ChangingConsole console([&] { c.change(s.zone("b.xyz")); }, c.during,
                                    c.threads ? "register 100000 " : nullptr);
            std::ostream out(&console);
            std::istringstream in(gridding_answers({"a", "b"}, "0.5", 0) + output);
            s.st.in = &in;
            s.st.out = &out;
            EXPECT_EQ(run(s.st), 1) << c.what;
            const std::string t = console.str();
            EXPECT_NE(t.find("\n\n\tFile c:\\images\\zone1\\b.xyz changed during the run: "), std::string::npos)
                << c.what << t;
            EXPECT_NE(t.find(c.says), std::string::npos) << c.what << t;
            EXPECT_EQ(t.find("Output name"), std::string::npos) << c.what;
            for (const std::string& name : s.files_in_zone()) EXPECT_TRUE(name.ends_with(".xyz")) << c.what << name;
        }
}

// Which file a name reads, on the first reading and on the second: the
// first of .xyz, .las and .laz that exists, the extension in any case; a
// name typed with its extension is that file; the second reading reads the
// file of the first or stops. Each case: the files, the name typed, what
// happens between the readings, and the console's last words (the name
// line when both readings succeed).
TEST(PointReader, WhichFileANameReads)
{
    const std::string las = synthetic_las(2, 1, 28, 3, {0.01, 0.01, 0.01}, {0, 0, 0});
    const std::string text = "1 2 3\n4 5 6\n";
    const std::string zone = "c:\\images\\zone1\\";
    const std::string changed =
        " changed during the run: it is no longer the file of the first reading (its size, date or identity differ)\n";
    struct Case {
        std::vector<std::pair<std::string, std::string>> files;
        std::string typed;
        std::function<void(Session&)> between;
        std::string ends;
    };
    const auto nothing = [](Session&) {};
    const std::vector<Case> cases = {
        {{{"p.LAS", las}}, "p", nothing, "File 1 Name : " + zone + "p.LAS\n\n"},
        {{{"p.las", las}, {"p.xYz", text}}, "p", nothing, "File 1 Name : " + zone + "p.xYz\n\n"},
        {{{"p.las", las}, {"p.las.xyz", text}}, "p.las", nothing, "File 1 Name : " + zone + "p.las\n\n"},
        {{{"p.las.xyz", text}}, "p.las", nothing, "File 1 Name : " + zone + "p.las.xyz\n\n"},
        // A name typed with its extension finds it in any case.
        {{{"p.Las", las}}, "p.lAS", nothing, "File 1 Name : " + zone + "p.Las\n\n"},
        {{{"p.LAZ", las}, {"p.laz.xyz", text}}, "p.laz", nothing, "File 1 Name : " + zone + "p.LAZ\n\n"},
        // A missing name typed with an extension is told by that name.
        {{{"p.Las", las}}, "p.laz", nothing, "\n\tFile " + zone + "p.laz unknown\n"},
        {{{"p.xyz", text}}, "p.LAS", nothing, "\n\tFile " + zone + "p.LAS unknown\n"},
        {{{"q.xyz", text}}, "p.XYZ", nothing, "\n\tFile " + zone + "p.XYZ unknown\n"},
        // The header decides between LAS and LAZ, whatever the name.
        {{{"p.LAZ", las}, {"p.xyz.las", las}}, "p", nothing, "File 1 Name : " + zone + "p.LAZ\n\n"},
        {{{"q", text}}, "p", nothing, "\n\tFile " + zone + "p.xyz unknown\n"},
        // A .las removed between the readings is named, and an .xyz that
        // appears is not read instead.
        {{{"p.las", las}},
         "p",
         [](Session& s) { std::filesystem::remove(s.zone("p.las")); },
         "\n\n\tFile " + zone + "p.las unknown\n"},
        {{{"p.las", las}},
         "p",
         [&](Session& s) { s.put("p.xyz", text); },
         "File 1 Name : " + zone + "p.las\n\n\n\n\tFile " + zone + "p.las" + changed},
        {{{"p.LAS", las}},
         "p",
         [&](Session& s) { std::filesystem::rename(s.zone("p.LAS"), s.zone("p.las")); },
         "File 1 Name : " + zone + "p.LAS\n\n\n\n\tFile " + zone + "p.LAS" + changed},
        {{{"p.xyz", text}},
         "p",
         [](Session& s) { std::filesystem::remove(s.zone("p.xyz")); },
         "\n\n\tFile " + zone + "p.xyz unknown\n"},
    };
    for (const Case& c : cases) {
        Session s;
        for (const auto& [name, bytes] : c.files) s.put(name, bytes);
        s.st.nomgen = zone;
        s.st.files = {kestranov::data_file{}, kestranov::data_file{c.typed}};
        s.st.numlay = 1;
        const kestranov::ConsoleFiles files = kestranov::console_files(s.st);
        kestranov::SeenFile seen;
        const std::string error = failure_of([&] {
            const kestranov::PointSink none = [](const kestranov::Point*, std::size_t) {};
            kestranov::read_console_file(s.out, files, 0, none, seen);
            c.between(s);
            kestranov::read_console_file(s.out, files, 0, none, seen);
        });
        const std::string t = s.console() + error;
        EXPECT_TRUE(t.ends_with(c.ends)) << c.typed << " " << c.files[0].first << ":\n" << t;
    }
}
