#include "run/console_input.h"

#include <charconv>
#include <istream>
#include <limits>
#include <optional>
#include <ostream>

#include "core/fatal.h"
#include "core/messages.h"
#include "core/run_state.h"
#include "points/number_scanner.h"

namespace kestranov {

Console console_of(const RunState& st) { return {*st.in, *st.out, st.in_is_terminal}; }

namespace {

std::string next_word(const Console& con, std::string_view prompt)
{
    con.out << prompt;
    con.out.flush();
    std::string word;
    if (!(con.in >> word)) fail(console_input_ended());
    return word;
}

// The word as a whole number; one too large for any integer type comes out
// as the largest long long, which no question accepts.
std::optional<long long> whole_number(const std::string& word)
{
    const char* first = word.data();
    const char* last = first + word.size();
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
    long long value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (end != last) return std::nullopt;
    if (ec == std::errc::result_out_of_range && *first != '-') return std::numeric_limits<long long>::max();
    if (ec != std::errc()) return std::nullopt;
    return value;
}

}  // namespace

std::string ask_word(const Console& con, std::string_view prompt)
{
    // A NUL byte would cut the name short where the system sees it while
    // the console shows all of it: no folder or file can have one.
    for (;;) {
        std::string word = next_word(con, prompt);
        if (word.find('\0') == std::string::npos) return word;
        con.out << "\n\tA name cannot hold a NUL byte.";
        drop_rest_of_line(con.in);
    }
}

int ask_int(const Console& con, std::string_view prompt, const std::function<bool(long long)>& accept,
            std::string_view complaint, std::string_view too_large)
{
    for (;;) {
        std::optional<long long> value = whole_number(next_word(con, prompt));
        if (value && *value >= std::numeric_limits<int>::min() && *value <= std::numeric_limits<int>::max() &&
            accept(*value))
            return static_cast<int>(*value);
        const bool beyond_int = value && *value > std::numeric_limits<int>::max();
        con.out << (beyond_int && !too_large.empty() ? too_large : complaint);
        drop_rest_of_line(con.in);
    }
}

double ask_double(const Console& con, std::string_view prompt, const std::function<bool(double)>& accept,
                  const std::function<std::string_view(std::string_view answer)>& complaint)
{
    for (;;) {
        std::string word = next_word(con, prompt);
        ScanResult r = scan_number(word.data(), word.data() + word.size());
        if (r.status == ScanStatus::ok && accept(r.value)) return r.value;
        con.out << complaint(word);
        drop_rest_of_line(con.in);
    }
}

void drop_rest_of_line(std::istream& in)
{
    in.clear();
    in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
}

int ask_menu(const Console& con, std::string_view title, std::initializer_list<std::string_view> choices)
{
    std::string menu(title), complaint = "\n\tPlease answer ";
    const int last = static_cast<int>(choices.size()) - 1;
    int k = 0;
    for (std::string_view choice : choices) {
        menu += "\n\t\t" + std::to_string(k) + " ====> ";
        menu += choice;
        complaint += std::to_string(k) + (k == last ? "." : k + 1 == last ? " or " : ", ");
        ++k;
    }
    menu += "\n\t\t";
    return ask_int(
        con, menu, [last](long long v) { return v >= 0 && v <= last; }, complaint);
}

}  // namespace kestranov
