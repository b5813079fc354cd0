#include <gtest/gtest.h>

#include "run/opening.h"
#include "support.h"

using namespace kestranov;

using namespace std::string_literals;

namespace {

const std::string stars = "\n\t***********************************************************";
const std::string blank = "\n\t*                                                         *";
const std::string title = "\n\t*                      KESTRANOV                          *";
const std::string folder_prompt = "\n\n\tName of the File Folder located in the Directory c:\\images\\ : ";
const std::string count_prompt = "\n\n\tNumber of files to stick ? ";
const std::string cell_prompt = "\n\n\tdecimal pixel output size (decimal value in meters) ? ";
const std::string return_menu = "\n\n\treturn selection:\n\t\t0 ====> first [top]\n\t\t1 ====> last [bottom]\n\t\t";

std::string name_prompt(int k)
{
    return "\n\n\tName of the file number " + std::to_string(k) + " (without extension .xyz) ? ";
}

// The opening dialogue and the gridding questions alone.
struct Dialogue : Session {
    explicit Dialogue(const std::string& answers)
    {
        answer(answers);
        opening(st);
        ask_gridding(st);
    }
};

}  // namespace

TEST(Dialogue, BannerAndPromptsByteForByteAndThePathsBuilt)
{
    Dialogue d("zone1\n2\na\nb\n0.5\n1\n");
    const std::string text = d.out.str();
    // Fourteen lines of "\n\t" and 59 characters; lines 9, 10 and 12 are ours, inside the frame.
    const std::string banner = text.substr(0, text.find(folder_prompt));
    ASSERT_EQ(banner.size(), 14u * 61u);
    for (int line = 0; line < 14; ++line) {
        const std::string l = banner.substr(static_cast<std::size_t>(line) * 61, 61);
        SCOPED_TRACE(line + 1);
        EXPECT_EQ(l.substr(0, 2), "\n\t");
        if (line == 0 || line == 13) {
            EXPECT_EQ(l, stars);
        } else if (line == 3) {
            EXPECT_EQ(l, title);
        } else if (line == 8 || line == 9 || line == 11) {
            EXPECT_EQ(l[2], '*');
            EXPECT_EQ(l[60], '*');
            EXPECT_NE(l, blank);
        } else {
            EXPECT_EQ(l, blank);
        }
    }
    EXPECT_EQ(text.substr(banner.size()),
              folder_prompt + count_prompt + name_prompt(1) + name_prompt(2) + cell_prompt + return_menu);

    EXPECT_EQ(d.st.nomim4, "c:\\images\\zone1\\");
    EXPECT_EQ(d.st.numlay, 2);
    ASSERT_EQ(d.st.files.size(), 3u);
    EXPECT_EQ(point_file_path(d.st, 1), "c:\\images\\zone1\\a.xyz");
    EXPECT_EQ(point_file_path(d.st, 2), "c:\\images\\zone1\\b.xyz");
    EXPECT_EQ(d.st.nomfic, "b");
    EXPECT_EQ(d.st.nomim3, "c:\\images\\zone1\\b.xyz");
    EXPECT_EQ(d.st.pix_size, 0.5);
    EXPECT_EQ(d.st.retorno, 1);
}

TEST(Dialogue, WordsAreTakenOneAtATime)
{
    {
        Dialogue d("zone1\n1\na.xyz\n2\n0\n");
        EXPECT_EQ(point_file_path(d.st, 1), "c:\\images\\zone1\\a.xyz.xyz");
        EXPECT_EQ(d.st.pix_size, 2.0);
        EXPECT_EQ(d.st.retorno, 0);
    }
    {
        // Two words: the second answers the next question; here it is no
        // number, so it is refused and the count is asked again.
        Dialogue d("my zone\n1\nz\n1\n0\n");
        EXPECT_EQ(d.st.nomim4, "c:\\images\\my\\");
        EXPECT_EQ(count_of(d.out.str(), count_prompt), 2u);
        EXPECT_EQ(point_file_path(d.st, 1), "c:\\images\\my\\z.xyz");
    }
    {
        // A valid answer followed by more words: the next word answers the next question.
        Dialogue d("zone1 1 a 2.5 1\n");
        EXPECT_EQ(point_file_path(d.st, 1), "c:\\images\\zone1\\a.xyz");
        EXPECT_EQ(d.st.pix_size, 2.5);
        EXPECT_EQ(d.st.retorno, 1);
    }
}

TEST(Dialogue, InvalidAnswersAreRefusedAndAskedAgain)
{
    {
        Dialogue d("zone1\n0\n-3\nthree\n2.5\nabc def ghi\n+2\na\nb\n0.5\n1\n");
        const std::string t = d.out.str();
        EXPECT_EQ(count_of(t, count_prompt), 6u);
        EXPECT_EQ(count_of(t, "The number of files must be a whole number of at least 1."), 5u);
        EXPECT_EQ(d.st.numlay, 2);  // "def ghi" went with the refused line
        EXPECT_EQ(point_file_path(d.st, 2), "c:\\images\\zone1\\b.xyz");
    }
    {
        Dialogue d("zone1\n1\na\n0\n-1\nabc\nnan\ninf\n1e999\n0x10\n2,5\n.5\n0\n");
        const std::string t = d.out.str();
        EXPECT_EQ(count_of(t, cell_prompt), 9u);
        EXPECT_EQ(count_of(t, "The pixel size must be a decimal number greater than 0."), 7u);
        // Only the answer with a comma is told of the point, once.
        EXPECT_EQ(count_of(t, "greater than 0, written with a point (2.5, not 2,5)."), 1u);
        EXPECT_EQ(d.st.pix_size, 0.5);
    }
    {
        // Menu answers 2, then 5, then 1: the menu three times.
        Dialogue d("zone1\n1\na\n2\n2\n5\n1\n");
        EXPECT_EQ(count_of(d.out.str(), return_menu), 3u);
        EXPECT_EQ(d.st.retorno, 1);
    }
    {
        // A negative answer is refused too: only 0 and 1 are choices.
        Dialogue d("zone1\n1\na\n2\n-1\nx\n0\n");
        EXPECT_EQ(count_of(d.out.str(), return_menu), 3u);
        EXPECT_EQ(count_of(d.out.str(), "Please answer 0 or 1."), 2u);
        EXPECT_EQ(d.st.retorno, 0);
    }
}

TEST(Dialogue, EndOfInputAtAnyQuestionEndsTheRunWithStatus1)
{
    const std::vector<std::string> answers = {"zone1", "2", "a", "b", "2"};
    for (std::size_t given = 0; given <= answers.size(); ++given) {
        std::string input;
        for (std::size_t k = 0; k < given; ++k) input += answers[k] + "\n";
        Session s;
        EXPECT_EQ(s.run(input), 1) << given << " answers";
        const std::string t = s.console();
        EXPECT_EQ(count_of(t, "End of console input"), 1u);
        EXPECT_EQ(t.substr(t.size() - 1), "\n");
    }
    {
        // Issue 10: a count beyond any int was told it was below 1.
        Dialogue d("zone1\n2147483648\n99999999999999999999\n1\na\n1\n0\n");
        EXPECT_EQ(count_of(d.out.str(), "The number of files must be at most 2147483647."), 2u);
        EXPECT_EQ(d.st.numlay, 1);
    }
    // Refused answers up to the end of input: no endless loop either.
    Session s;
    EXPECT_EQ(s.run("zone1\nx\nx\nx"), 1);
    EXPECT_EQ(count_of(s.console(), count_prompt), 4u);
}

TEST(Dialogue, NamesWithANulByteAreAskedAgain)
{
    Dialogue d(std::string("zo\0ne other\nzone1\n1\na\0b\na\n2\n0\n", 30));
    EXPECT_EQ(d.st.nomim4, "c:\\images\\zone1\\");
    EXPECT_EQ(point_file_path(d.st, 1), "c:\\images\\zone1\\a.xyz");
    EXPECT_EQ(count_of(d.out.str(), "A name cannot hold a NUL byte."), 2u);
    EXPECT_EQ(count_of(d.out.str(), folder_prompt), 2u);
}

namespace {

const std::string cloud = "0 0 1\n1 0 1\n0 1 1\n1 1 1\n";
const std::string no_answer = "\n\n\tEnd of console input: the question above has no answer\n";

}  // namespace

// A NUL byte typed in a name cut the failure message at the NUL: the driver
// printed it as a C string, so the console showed "File c:\images\zone1\miss"
// and neither the rest of the name nor what went wrong. No file can have such
// a name: it is refused and asked again, and the run then goes on with the
// next answers (here running out of them).
TEST(Dialogue, NulByteInANameCutsTheFailureMessage)
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
    // A missing file typed with its extension was told as "a.las.xyz": it is
    // told by the name typed, and the rest of the console is unchanged.
    for (const std::string typed : {"a.las", "a.LAZ", "a.Xyz"}) {
        Session with, without;
        with.put("a.txt", cloud), without.put("a.txt", cloud);
        EXPECT_EQ(with.run("zone1\n1\n" + typed + "\n1\n0\n"), 1);
        EXPECT_EQ(without.run("zone1\n1\na\n1\n0\n"), 1);
        std::string expected = without.console();
        const std::string told = "\n\tFile c:\\images\\zone1\\a.xyz unknown\n";
        ASSERT_TRUE(expected.ends_with(told)) << expected;
        expected.replace(expected.size() - told.size(), told.size(),
                         "\n\tFile c:\\images\\zone1\\" + typed + " unknown\n");
        EXPECT_EQ(with.console(), expected);
    }
}

// The number of files is only a count of questions to come: the largest
// accepted answer followed by the end of input ends the run at once, with
// nothing reserved for the files that never get named.
TEST(Dialogue, AHugeNumberOfFilesThenTheEndOfInputEndsAtOnce)
{
    for (const std::string& answers : {"zone1\n2147483647\n"s, "zone1\n2147483647\na\na\n"s,
                                       "zone1\n99999999999999999999\n"s, "zone1 2147483647"s}) {
        Session s;
        s.put("a.xyz", cloud);
        EXPECT_EQ(s.run(answers), 1) << answers;
        EXPECT_TRUE(s.console().ends_with(no_answer)) << s.console();
    }
}

// Elevations that no raster choice can hold (beyond 32 bits even in metres)
// get the range message after every type and scale: the run cannot write a
// raster, and only the end of the input ends it. The ASCII grid still works.
TEST(Dialogue, ElevationsNoRasterCanHoldAreRefusedUntilTheInputEnds)
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
