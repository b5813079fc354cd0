#include <gtest/gtest.h>

#include "run/opening.h"
#include "support.h"

using namespace kestranov;

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
        EXPECT_EQ(count_of(t, "The pixel size must be a decimal number greater than 0."), 8u);
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
