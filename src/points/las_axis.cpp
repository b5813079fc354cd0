#include "points/las_axis.h"

#include <charconv>
#include <cmath>
#include <string>

namespace kestranov {

namespace {

constexpr std::int64_t exact_integers = std::int64_t{1} << 53;
constexpr double powers_of_ten[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

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
        const double units = std::nearbyint(offset * powers_of_ten[k]);
        if (!(std::fabs(units) < static_cast<double>(exact_integers))) return;
        if (units / powers_of_ten[k] != offset) return;
        decimal_ = true, k_ = k, divisor_ = powers_of_ten[k], units_ = units;
        quick_ = std::fabs(units) < static_cast<double>(exact_integers - (std::int64_t{1} << 32));
        return;
    }
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
