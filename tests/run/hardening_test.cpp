// Cases found while fuzzing the console and the point reader, kept so that
// they stay fixed.
#include <gtest/gtest.h>

#include "support.h"

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

// A token longer than the reader's 4 MiB block cannot be held whole: it is
// refused as not a number, even when its digits would make one, and the
// message shows only its first 40 characters.
TEST(HardeningIssue, ATokenLongerThanTheReadingBlockIsRefused)
{
    Session s;
    s.put("a.xyz", "0 0 1\n1 1 2\n0 1 0." + std::string(5u << 20, '0') + "1\n");
    EXPECT_EQ(s.run(gridding_answers({"a"}, "1", 0)), 1);
    const std::string t = s.console();
    EXPECT_TRUE(t.ends_with("\n\n\tFile c:\\images\\zone1\\a.xyz, record 3: \"0." + std::string(38, '0') +
                            "...\" is not a number\n"))
        << t.substr(t.size() > 300 ? t.size() - 300 : 0);
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
// A console that rewrites a point file as soon as the extent pass has
// reported, that is between the two readings: as when a file is still being
// copied or exported while the program runs.
class RewritingConsole : public std::stringbuf {
public:
    RewritingConsole(std::filesystem::path victim, std::string text)
        : victim_(std::move(victim)), text_(std::move(text))
    {
    }

protected:
    int sync() override
    {
        if (!done_ && str().find("First Lecture") != std::string::npos) {
            write_file(victim_, text_);
            done_ = true;
        }
        return 0;
    }

private:
    std::filesystem::path victim_;
    std::string text_;
    bool done_ = false;
};
}  // namespace

// A point file that grows between the two readings with points beyond the
// extents of the first: the second reading put them in rows and columns
// outside the grid (a negative row, a column past the spare ones) and wrote
// there, past the grid's memory. The run must stop instead of gridding
// points it did not measure.
TEST(HardeningIssue, APointFileThatChangesBetweenThePassesStaysInsideTheGrid)
{
    for (const std::string far : {"0.5 100 7\n", "-50 0.5 7\n", "0.5 -50 7\n", "100 0.5 7\n"}) {
        Session s;
        s.put("a.xyz", "0 0 1\n1 0 1\n");
        s.put("b.xyz", "0 1 1\n1 1 1\n");
        RewritingConsole console(s.zone("b.xyz"), "0 1 1\n1 1 1\n" + far);
        std::ostream out(&console);
        std::istringstream in(gridding_answers({"a", "b"}, "0.5", 0) + "dem\n0\n");
        s.st.in = &in;
        s.st.out = &out;
        s.st.drive_root = s.drive.path();
        EXPECT_EQ(run(s.st), 1) << far;
        EXPECT_EQ(console.str().find("End of initial treatment"), std::string::npos) << far;
        EXPECT_EQ(s.files_in_zone(), (std::vector<std::string>{"a.xyz", "b.xyz"})) << far;
    }
}
