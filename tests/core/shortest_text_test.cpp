// The shortest text of a double is std::to_chars's, also where a quicker
// path writes it: decimals of up to three places, whole numbers, their
// neighbours one ulp away, and numbers at the edges of the quick range.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>

#include "core/shortest_text.h"

namespace {

std::string library_text(double v)
{
    char b[64];
    return std::string(b, std::to_chars(b, b + sizeof b, v).ptr);
}

}  // namespace

TEST(ShortestText, IsToCharsTextForEveryKindOfNumber)
{
    std::mt19937_64 random(3);
    std::vector<double> values = {0.0,       -0.0,      1.0,    -1.0,    10.0,    100.0,          1e6,
                                  1234567.0, 0.5,       0.999,  1.001,   0x1p33,  0x1p33 - 0.001, 8589934591.999,
                                  1e15,      2.5e-7,    1200.5, -1200.5, 1000.25, 99.995,         0.1,
                                  1e300,     -4.94e-324};
    for (int k = 0; k < 200000; ++k) {
        const int places = static_cast<int>(random() % 5);
        const double whole = static_cast<double>(random() % 100000000) - 20000000;
        const double decimal = whole / std::pow(10.0, places);
        values.push_back(decimal);
        values.push_back(std::nextafter(decimal, 1e300));
        values.push_back(std::nextafter(decimal, -1e300));
        double any;
        const std::uint64_t bits = random();
        std::memcpy(&any, &bits, sizeof any);
        if (std::isfinite(any)) values.push_back(any);
    }
    for (const double v : values) ASSERT_EQ(kestranov::shortest(v), library_text(v)) << library_text(v);
}
