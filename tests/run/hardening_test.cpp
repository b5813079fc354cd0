// Cases found while fuzzing the console and the point reader, kept so that
// they stay fixed.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <utility>

#include "support.h"

using namespace kestranov;

using namespace std::string_literals;

namespace {

const std::string cloud = "0 0 1\n1 0 1\n0 1 1\n1 1 1\n";
const std::string no_answer = "\n\n\tEnd of console input: the question above has no answer\n";

}  // namespace

// A NUL byte typed in a name cut the failure message at the NUL: the driver
// printed it as a C string, so the console showed "File c:\images\zone1\miss"
// and neither the rest of the name nor what went wrong. No file can have such
// a name: it is refused and asked again, and the run then goes on with the
// next answers (here running out of them).
TEST(HardeningIssue, NulByteInANameCutsTheFailureMessage)
{
    {
        Session s;
        s.put("a.xyz", cloud);
        EXPECT_EQ(s.run("zone1\n1\nmiss\0ing\n1\n0\n"s), 1);
        const std::string t = s.console();
        EXPECT_EQ(count_of(t, "\n\tA name cannot hold a NUL byte."), 1u) << t;
        EXPECT_TRUE(t.ends_with(no_answer)) << t;
    }
    {
        Session s;
        s.put("a.xyz", cloud);
        EXPECT_EQ(s.run(gridding_answers({"a"}, "1", 0) + "dem\0x\n0\n"s), 1);
        const std::string t = s.console();
        EXPECT_EQ(count_of(t, "\n\tA name cannot hold a NUL byte."), 1u) << t;
        EXPECT_TRUE(t.ends_with(no_answer)) << t;
        EXPECT_EQ(s.files_in_zone(), std::vector<std::string>{"a.xyz"});
    }
}

// The number of files is only a count of questions to come: the largest
// accepted answer followed by the end of input ends the run at once, with
// nothing reserved for the files that never get named.
TEST(HardeningIssue, AHugeNumberOfFilesThenTheEndOfInputEndsAtOnce)
{
    for (const std::string& answers : {"zone1\n2147483647\n"s, "zone1\n2147483647\na\na\n"s,
                                       "zone1\n99999999999999999999\n"s, "zone1 2147483647"s}) {
        Session s;
        s.put("a.xyz", cloud);
        EXPECT_EQ(s.run(answers), 1) << answers;
        EXPECT_TRUE(s.console().ends_with(no_answer)) << s.console();
    }
}

// A token as long as the reader's 4 MiB block or longer cannot be held
// whole with the blank that ends it: it is refused as not a number, even
// when its digits would make one, and the message shows only its first 40
// characters. One byte shorter, it is read, on one thread or two.
TEST(HardeningIssue, ATokenAsLongAsTheReadingBlockIsRefused)
{
    for (const int threads : {1, 2})
        for (const std::size_t length : {(4u << 20) - 1, 4u << 20, 5u << 20}) {
            Session s;
            s.st.reading.threads = threads;
            s.put("a.xyz", "0 0 1\n1 1 2\n0 1 1." + std::string(length - 2, '0') + "\n");
            const bool read = length < (4u << 20);
            EXPECT_EQ(s.run(gridding_answers({"a"}, "1", 0) + "dem\n0\n"), read ? 0 : 1) << length;
            const std::string t = s.console();
            EXPECT_EQ(t.ends_with("\n\n\tFile c:\\images\\zone1\\a.xyz, record 3: \"1." + std::string(38, '0') +
                                  "...\" is not a number\n"),
                      !read)
                << length << t.substr(t.size() > 300 ? t.size() - 300 : 0);
        }
}

// Elevations that no raster choice can hold (beyond 32 bits even in metres)
// get the range message after every type and scale: the run cannot write a
// raster, and only the end of the input ends it. The ASCII grid still works.
TEST(HardeningIssue, ElevationsNoRasterCanHoldAreRefusedUntilTheInputEnds)
{
    const std::string high = "0 0 1e12\n1 0 1e12\n0 1 -1e12\n1 1 0\n";
    {
        Session s;
        s.put("a.xyz", high);
        EXPECT_EQ(s.run(gridding_answers({"a"}, "1", 0) + "dem\n1\n1\n0\n0\n3\n"), 1);
        EXPECT_EQ(count_of(s.console(), "beyond the 32 bits of the raster descriptor"), 2u) << s.console();
        EXPECT_TRUE(s.console().ends_with(no_answer));
        EXPECT_EQ(s.files_in_zone(), std::vector<std::string>{"a.xyz"});
    }
    {
        Session s;
        s.put("a.xyz", high);
        EXPECT_EQ(s.run(gridding_answers({"a"}, "1", 0) + "dem\n0\n"), 0) << s.console();
        EXPECT_EQ(s.files_in_zone(), (std::vector<std::string>{"a.xyz", "dem_lidar.asc"}));
    }
}

namespace {
// A console that changes a point file as soon as the extent pass has
// reported, that is between the two readings: as when a file is still being
// copied or exported while the program runs.
class ChangingConsole : public std::stringbuf {
public:
    // `during`: as soon as the second reading of the second file has begun instead.
    ChangingConsole(std::function<void()> change, bool during)
        : change_(std::move(change)), when_(during ? "File 2 Name" : "First Lecture"), times_(during ? 2 : 1)
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
TEST(HardeningIssue, APointFileThatChangesBetweenTheReadingsStopsTheRun)
{
    namespace fs = std::filesystem;
    const std::string b = "0 1 1\n1 1 1\n            ";
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> change;
        const char* says;
        bool during = false;  // while the second reading is under way
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
    const std::vector<Case> cases = {
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
    for (const Case& c : cases)
        for (const char* output : {"dem\n0\n", "dem\n1\n0\n0\n"}) {
            Session s;
            s.put("a.xyz", "0 0 1\n1 0 1\n");
            s.put("b.xyz", b);
            ChangingConsole console([&] { c.change(s.zone("b.xyz")); }, c.during);
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
