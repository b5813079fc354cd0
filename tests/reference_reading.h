// What a point file's text must read as, found the plainest way: the text
// split at white space (ending at the first 0x1A), each token checked
// against the grammar of a decimal number and converted by strtod, the
// first bad token or a short last record named by its record. The oracle
// of the reader's tests and fuzz target.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace reference {

inline bool blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool digit(char c) { return c >= '0' && c <= '9'; }

// [+-] (digits [. digits*] | . digits) [(e|E) [+-] digits], the whole token.
inline bool decimal_token(std::string_view t)
{
    std::size_t p = 0;
    if (p < t.size() && (t[p] == '+' || t[p] == '-')) ++p;
    std::size_t mantissa_digits = 0;
    while (p < t.size() && digit(t[p])) ++p, ++mantissa_digits;
    if (p < t.size() && t[p] == '.') {
        ++p;
        while (p < t.size() && digit(t[p])) ++p, ++mantissa_digits;
    }
    if (mantissa_digits == 0) return false;
    if (p < t.size() && (t[p] == 'e' || t[p] == 'E')) {
        ++p;
        if (p < t.size() && (t[p] == '+' || t[p] == '-')) ++p;
        std::size_t exponent_digits = 0;
        while (p < t.size() && digit(t[p])) ++p, ++exponent_digits;
        if (exponent_digits == 0) return false;
    }
    return p == t.size();
}

inline std::string shown(std::string_view token)
{
    std::string s;
    for (std::size_t k = 0; k < std::min<std::size_t>(token.size(), 40); ++k) {
        const auto u = static_cast<unsigned char>(token[k]);
        if (u >= 0x20 && u < 0x7f) {
            s += token[k];
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            s += hex;
        }
    }
    if (token.size() > 40) s += "...";
    return s;
}

struct Expected {
    std::vector<double> values;  // the numbers before the first bad token
    std::string error;           // the whole message, empty when the file reads
};

inline Expected expected_reading(std::string_view text, const std::string& path)
{
    if (std::size_t eot = text.find('\x1a'); eot != std::string_view::npos) text = text.substr(0, eot);
    Expected e;
    std::size_t p = 0;
    for (;;) {
        while (p < text.size() && blank(text[p])) ++p;
        if (p == text.size()) break;
        const std::size_t start = p;
        while (p < text.size() && !blank(text[p])) ++p;
        const std::string_view token = text.substr(start, p - start);
        const std::string record = std::to_string(e.values.size() / 3 + 1);
        if (!decimal_token(token)) {
            e.error = "\n\n\tFile " + path + ", record " + record + ": \"" + shown(token) + "\" is not a number\n";
            return e;
        }
        const std::string copy(token);
        const double v = std::strtod(copy.c_str(), nullptr);
        if (std::isinf(v)) {
            e.error =
                "\n\n\tFile " + path + ", record " + record + ": \"" + shown(token) + "\" is not a finite number\n";
            return e;
        }
        e.values.push_back(v);
    }
    if (e.values.size() % 3 != 0)
        e.error = "\n\n\tFile " + path + ", record " + std::to_string(e.values.size() / 3 + 1) +
                  " has fewer than three numbers\n";
    return e;
}

}  // namespace reference
