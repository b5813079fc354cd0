// Answers typed at the console. Each answer is one word, as a formatted read
// of one word takes it: a second word on the same line answers the next
// question. A number that is not valid for its question is refused with a
// short message and the question is asked again, after the rest of that line
// is thrown away; the end of the console input ends the run.
#pragma once

#include <functional>
#include <string>
#include <string_view>

struct RunState;

// Shows `prompt` and returns the next word.
std::string ask_word(RunState& st, std::string_view prompt);

// Shows `prompt` until the answer is a whole number that `accept` takes;
// a refused answer shows `complaint` first, or `too_large`, when given, for
// a whole number beyond the largest int.
int ask_int(RunState& st, std::string_view prompt, const std::function<bool(long long)>& accept,
            std::string_view complaint, std::string_view too_large = {});

// The same for a decimal number.
double ask_double(RunState& st, std::string_view prompt, const std::function<bool(double)>& accept,
                  std::string_view complaint);
