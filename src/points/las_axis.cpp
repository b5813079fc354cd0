#include "points/las_axis.h"

#include <charconv>
#include <cmath>
#include <string>

#include "core/ieee_double.h"

namespace kestranov {

namespace {

constexpr std::int64_t exact_integers = std::int64_t{1} << 53;
constexpr double powers_of_ten[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

__extension__ typedef unsigned __int128 uint128;  // GCC and clang on 64-bit targets

// The offset in units of 10^-k as it prints with k decimals: the exact
// product offset x 10^k rounded to the nearest integer (a tie to the even
// one). The product rounded to a double first can miss it by one where the
// offset has a fraction of a unit, as from 10^15 units on. False when the
// units reach 2^53.
bool units_of(double offset, int k, double& units)
{
    const DoubleParts d = parts_of(offset);
    uint128 product = d.significand;  // x 5^k below 2^88: times 2^k is the shift below
    for (int j = 0; j < k; ++j) product *= 5;
    const int shift = d.exponent + k;
    const uint128 limit = static_cast<uint128>(exact_integers);
    if (shift >= 0) {
        if (product != 0 && (shift >= 53 || product >= (limit >> shift))) return false;
        product <<= shift;
    } else if (-shift >= 100) {
        product = 0;  // below a half: the product is under 2^88
    } else {
        const uint128 rest = product & ((uint128{1} << -shift) - 1), half = uint128{1} << (-shift - 1);
        product >>= -shift;
        if (rest > half || (rest == half && (product & 1) != 0)) ++product;
        if (product >= limit) return false;
    }
    units = d.negative ? -static_cast<double>(product) : static_cast<double>(product);
    return true;
}

// m x 10^-k as text, then converted exactly: for the few values whose
// integer goes beyond 2^53, where one division would round twice.
double exact_decimal(std::int64_t m, int k)
{
    std::string digits = std::to_string(m < 0 ? -static_cast<std::uint64_t>(m) : static_cast<std::uint64_t>(m));
    if (digits.size() <= static_cast<std::size_t>(k))
        digits.insert(0, static_cast<std::size_t>(k) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(k), 1, '.');
    if (m < 0) digits.insert(0, 1, '-');
    double v = 0.0;
    std::from_chars(digits.data(), digits.data() + digits.size(), v);
    return v;
}

}  // namespace

LasAxis::LasAxis(double scale, double offset) : scale_(scale), offset_(offset)
{
    for (int k = 0; k < 16; ++k) {
        if (scale != 1.0 / powers_of_ten[k]) continue;
        double units = 0.0;
        if (!units_of(offset, k, units) || units / powers_of_ten[k] != offset) return;
        decimal_ = true, k_ = k, divisor_ = powers_of_ten[k], units_ = units;
        quick_ = std::fabs(units) < static_cast<double>(exact_integers - (std::int64_t{1} << 32));
        return;
    }
}

std::optional<std::int32_t> LasAxis::quick_integer(double v) const
{
    const double i = std::nearbyint(v * divisor_ - units_);
    if (!quick_ || !(i >= INT32_MIN && i <= INT32_MAX)) return std::nullopt;
    return static_cast<std::int32_t>(i);
}

double LasAxis::value(std::int32_t i) const
{
    if (quick_) return quick_value(i);
    if (decimal_) {
        const std::int64_t m = i + static_cast<std::int64_t>(units_);
        // Both exact in a double: one correctly rounded division.
        if (m > -exact_integers && m < exact_integers) return static_cast<double>(m) / divisor_;
        return exact_decimal(m, k_);
    }
    const double product = static_cast<double>(i) * scale_;
    return product + offset_;
}

}  // namespace kestranov
