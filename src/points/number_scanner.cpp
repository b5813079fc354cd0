#include "points/number_scanner.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

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

namespace {

static_assert(std::endian::native == std::endian::little, "the digit words are read little-endian");

std::uint64_t word_at(const char* p)
{
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// How many of the eight bytes of `w`, from the first, are ASCII digits. A
// byte is a digit when its high nibble is 3 and stays 3 once 6 is added;
// a carry out of a non-digit byte can only disturb the bytes after it.
int leading_digits(std::uint64_t w)
{
    constexpr std::uint64_t high = 0xF0F0F0F0F0F0F0F0, threes = 0x3030303030303030;
    const std::uint64_t not_digit = ((w & high) ^ threes) | (((w + 0x0606060606060606) & high) ^ threes);
    return not_digit == 0 ? 8 : std::countr_zero(not_digit) / 8;
}

// The value of the first n (1..8) digits of `w`: the digits moved to the
// top of the word behind leading zeros, then paired, quadrupled and joined
// with three multiplications.
std::uint64_t digits_value(std::uint64_t w, int n)
{
    std::uint64_t v = (w - 0x3030303030303030) << (8 * (8 - n));
    v = v * 10 + (v >> 8);
    return (((v & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
            (((v >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
           32;
}

// Up to 16 digits at `p` (at least 16 bytes readable): their value and count.
std::uint64_t digit_run(const char*& p, int& count)
{
    const std::uint64_t w = word_at(p);
    const int n = leading_digits(w);
    if (n < 8) {
        count = n;
        p += n;
        return n == 0 ? 0 : digits_value(w, n);
    }
    const std::uint64_t w2 = word_at(p + 8);
    const int n2 = leading_digits(w2);
    count = 8 + n2;
    p += 8 + n2;
    const std::uint64_t top = digits_value(w, 8);
    return n2 == 0 ? top : top * static_cast<std::uint64_t>(exact_powers[n2]) + digits_value(w2, n2);
}

// A plain decimal as LIDAR exports write it ([+-] digits [. digits], no
// exponent) read eight digits at a time; nullptr when the token is of
// another form, too long for the short path, or not over when `p` reaches
// `last`. At least 40 bytes from `first` must be readable.
const char* plain_decimal(const char* first, const char* last, ScanResult& result)
{
    const char* p = first;
    const bool negative = *p == '-';
    p += *p == '-' || *p == '+';
    int whole = 0, fraction = 0;
    std::uint64_t mantissa = digit_run(p, whole);
    if (*p == '.') {
        ++p;
        const std::uint64_t below = digit_run(p, fraction);
        if (fraction > 0) mantissa = mantissa * static_cast<std::uint64_t>(exact_powers[fraction]) + below;
    }
    // Up to 19 digits cannot overflow the mantissa; below 2^53 it is exact
    // in a double, and so are the powers of ten up to 1e22: one correctly
    // rounded division gives the correctly rounded value (Clinger).
    const int count = whole + fraction;
    if (p > last || (p < last && !is_blank(*p)) || count == 0 || count > 19 || whole == 16 || fraction == 16 ||
        mantissa > (std::uint64_t{1} << 53))
        return nullptr;
    const double v = static_cast<double>(mantissa) / exact_powers[fraction];
    result = {negative ? -v : v, ScanStatus::ok};
    return p;
}

}  // namespace

const char* scan_token(const char* first, const char* last, ScanResult& result)
{
    constexpr std::ptrdiff_t readable = 40;  // sign, 16 digits, point, 16 digits, and a word beyond
    if (last - first >= readable) {
        if (const char* end = plain_decimal(first, last, result)) return end;
    } else {
        // Near the end of the text: the same path on a copy padded with blanks.
        char padded[readable + 8];
        std::memset(padded, ' ', sizeof padded);
        std::memcpy(padded, first, static_cast<std::size_t>(last - first));
        if (const char* end = plain_decimal(padded, padded + (last - first), result)) return first + (end - padded);
    }
    const char* p = first;
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
