#include "points/number_scanner.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace kestranov {

namespace {

// Powers of ten that a double holds exactly.
constexpr double exact_powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Checks the grammar of a whole token; on the way it gathers what the fast
// path needs: up to 19 significant digits, their decimal exponent.
struct Shape {
    bool valid = false;
    bool negative = false;
    std::uint64_t mantissa = 0;
    int significant = 0;           // digits gathered into mantissa, leading zeros excluded
    bool dropped = false;          // digits beyond 19 were not gathered
    long long exponent10 = 0;      // value = mantissa * 10^exponent10 when !dropped
    const char* number = nullptr;  // first character after a leading '+'
};

Shape shape_of(const char* p, const char* last)
{
    Shape s;
    if (p < last && (*p == '+' || *p == '-')) {
        s.negative = *p == '-';
        ++p;
    }
    s.number = (s.negative ? p - 1 : p);
    int digits = 0;
    long long scale = 0;
    auto take = [&](char c, bool fraction) {
        ++digits;
        if (s.significant == 0 && c == '0') {
            if (fraction) --scale;
            return;
        }
        if (s.significant < 19) {
            s.mantissa = s.mantissa * 10 + static_cast<unsigned>(c - '0');
            ++s.significant;
            if (fraction) --scale;
        } else {
            s.dropped = true;
            if (!fraction) ++scale;
        }
    };
    while (p < last && is_digit(*p)) take(*p++, false);
    if (p < last && *p == '.') {
        ++p;
        while (p < last && is_digit(*p)) take(*p++, true);
    }
    if (digits == 0) return s;
    if (p < last && (*p == 'e' || *p == 'E')) {
        ++p;
        bool minus = false;
        if (p < last && (*p == '+' || *p == '-')) minus = *p++ == '-';
        if (p == last || !is_digit(*p)) return s;
        long long e = 0;
        while (p < last && is_digit(*p)) {
            if (e < 100000000) e = e * 10 + (*p - '0');
            ++p;
        }
        scale += minus ? -e : e;
    }
    if (p != last) return s;
    s.exponent10 = scale;
    s.valid = true;
    return s;
}

ScanResult slow_path(const Shape& s, const char* last)
{
    double value = 0.0;
    auto [end, ec] = std::from_chars(s.number, last, value, std::chars_format::general);
    if (ec == std::errc() && end == last)
        return {value, std::isfinite(value) ? ScanStatus::ok : ScanStatus::not_finite};
    if (ec != std::errc::result_out_of_range) return {0.0, ScanStatus::not_a_number};
    // Out of range: strtod tells an underflow (a tiny or zero value) from an
    // overflow (infinity).
    std::string text(s.number, last);
    value = std::strtod(text.c_str(), nullptr);
    return {value, std::isfinite(value) ? ScanStatus::ok : ScanStatus::not_finite};
}

}  // namespace

const char* scan_token(const char* first, const char* last, ScanResult& result)
{
    const char* p = first;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    std::uint64_t mantissa = 0;
    const char* digits = p;
    // No test against `last`: the byte there ends every token (see the header).
    while (is_digit(*p)) mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
    const std::ptrdiff_t whole = p - digits;
    std::ptrdiff_t fraction = 0;
    if (*p == '.') {
        const char* start = ++p;
        while (is_digit(*p)) mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
        fraction = p - start;
    }
    const std::ptrdiff_t count = whole + fraction;
    // Up to 19 digits cannot overflow the mantissa; below 2^53 it is exact
    // in a double, and so are the powers of ten up to 1e22: one correctly
    // rounded division gives the correctly rounded value (Clinger).
    if ((p == last || is_blank(*p)) && count > 0 && count <= 19 && mantissa <= (std::uint64_t{1} << 53) &&
        fraction <= 22) {
        const double v = static_cast<double>(mantissa) / exact_powers[fraction];
        result = {negative ? -v : v, ScanStatus::ok};
        return p;
    }
    while (p < last && !is_blank(*p)) ++p;
    result = scan_number(first, p);
    return p;
}

ScanResult scan_number(const char* first, const char* last)
{
    Shape s = shape_of(first, last);
    if (!s.valid) return {0.0, ScanStatus::not_a_number};
    // Up to 15 digits are below 2^53 and so exact in a double, as are the
    // powers of ten up to 1e22: one correctly rounded multiplication or
    // division then gives the correctly rounded value (Clinger's fast path).
    if (!s.dropped && s.significant <= 15 && s.exponent10 >= -22 && s.exponent10 <= 22) {
        double m = static_cast<double>(s.mantissa);
        double v = s.exponent10 < 0 ? m / exact_powers[-s.exponent10] : m * exact_powers[s.exponent10];
        return {s.negative ? -v : v, ScanStatus::ok};
    }
    if (s.mantissa == 0 && !s.dropped) return {s.negative ? -0.0 : 0.0, ScanStatus::ok};
    return slow_path(s, last);
}

}  // namespace kestranov
