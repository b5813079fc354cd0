// Answers typed at the console. Each answer is one word, as a formatted read
// of one word takes it: a second word on the same line answers the next
// question. A number that is not valid for its question is refused with a
// short message and the question is asked again, after the rest of that line
// is thrown away; the end of the console input ends the run.
#pragma once

#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>

namespace kestranov {

// The console a question is asked on: where the answers come from, where
// the prompts and complaints go, and whether the answers come from a
// terminal (the final key press is then read from it directly). The
// questions need nothing else of the run.
struct Console {
    std::istream& in;
    std::ostream& out;
    bool terminal = false;
};

struct RunState;
// The console a run's questions are asked on.
Console console_of(const RunState& st);

// Shows `prompt` and returns the next word.
std::string ask_word(const Console& con, std::string_view prompt);

// Shows `prompt` until the answer is a whole number that `accept` takes;
// a refused answer shows `complaint` first, or `too_large`, when given, for
// a whole number beyond the largest int.
int ask_int(const Console& con, std::string_view prompt, const std::function<bool(long long)>& accept,
            std::string_view complaint, std::string_view too_large = {});

// The same for a decimal number; the complaint is chosen by the refused
// answer, so that it can say what was wrong with it.
double ask_double(const Console& con, std::string_view prompt, const std::function<bool(double)>& accept,
                  const std::function<std::string_view(std::string_view answer)>& complaint);

// A titled menu of numbered choices, each on a line of its own as two tabs,
// the number, " ====> " and the choice, ending with two tabs for the answer;
// shown again until the answer is one of the numbers, after the complaint
// "Please answer 0 or 1." (or "0, 1, 2 or 3." and so on).
int ask_menu(const Console& con, std::string_view title, std::initializer_list<std::string_view> choices);

// Throws away what is left of the current input line: the rest of a refused
// answer, or of the last answer before the key press.
void drop_rest_of_line(std::istream& in);

}  // namespace kestranov
