#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "points/number_scanner.h"
#include "support.h"

using namespace kestranov;

namespace {

ScanResult scan(const std::string& s) { return scan_number(s.data(), s.data() + s.size()); }

// strtod's reading of a whole token, or nothing when strtod stops early.
bool strtod_whole(const std::string& s, double& value)
{
    char* end = nullptr;
    value = std::strtod(s.c_str(), &end);
    return end == s.c_str() + s.size();
}

bool same_double(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(NumberScanner, TableOfAcceptedAndRefusedTokens)
{
    struct Case {
        const char* text;
        ScanStatus status;
    };
    const Case cases[] = {
        {"12", ScanStatus::ok},
        {"+12.5", ScanStatus::ok},
        {"-0", ScanStatus::ok},
        {".5", ScanStatus::ok},
        {"5.", ScanStatus::ok},
        {"-.5e1", ScanStatus::ok},
        {"1e5", ScanStatus::ok},
        {"1E-5", ScanStatus::ok},
        {"1e+05", ScanStatus::ok},
        {"4.9e-324", ScanStatus::ok},
        {"1e-400", ScanStatus::ok},
        {"00012.50", ScanStatus::ok},
        {"1e400", ScanStatus::not_finite},
        {"-1e309", ScanStatus::not_finite},
        {"inf", ScanStatus::not_a_number},
        {"nan", ScanStatus::not_a_number},
        {"infinity", ScanStatus::not_a_number},
        {"0x1p3", ScanStatus::not_a_number},
        {"", ScanStatus::not_a_number},
        {"+", ScanStatus::not_a_number},
        {"-", ScanStatus::not_a_number},
        {".", ScanStatus::not_a_number},
        {"e5", ScanStatus::not_a_number},
        {"1e", ScanStatus::not_a_number},
        {"1e+", ScanStatus::not_a_number},
        {"1.2.3", ScanStatus::not_a_number},
        {"12abc", ScanStatus::not_a_number},
        {"+-1", ScanStatus::not_a_number},
        {"--1", ScanStatus::not_a_number},
        {"1,5", ScanStatus::not_a_number},
        {"X", ScanStatus::not_a_number},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ScanResult r = scan(c.text);
        EXPECT_EQ(r.status, c.status);
        double expected = 0;
        if (r.status == ScanStatus::ok) {
            ASSERT_TRUE(strtod_whole(c.text, expected));
            EXPECT_TRUE(same_double(r.value, expected)) << r.value << " vs " << expected;
        }
    }
    EXPECT_TRUE(std::signbit(scan("-0").value));
    EXPECT_TRUE(std::signbit(scan("-0.000e12").value));
}

TEST(NumberScanner, HardCasesMatchStrtod)
{
    const char* cases[] = {
        // Halfway cases and long mantissas beyond the fast path.
        "9007199254740993",
        "9007199254740992.5",
        "0.1",
        "0.30000000000000004",
        "2.2250738585072011e-308",
        "2.2250738585072014e-308",
        "1.7976931348623157e308",
        "123456789012345678901234567890",
        "0.000000000000000000000000000000000000000000001",
        "7.038531e-26",
        "1448997445238699",
        "636869.38",
        "849207.05",
        "3689103.15",
        "2201.37",
        "100.1",
        "-0.001",
        "99999999999999.99",
        "999999999999999.9",
        "1234567890123456.7",
        "4.35679832e+06",
        "1e22",
        "1e23",
        "12345678901234567890e-20",
        "0.0000000000000000000000123456789012345",
        "179769313486231580793728971405301e276",
    };
    for (const char* c : cases) {
        SCOPED_TRACE(c);
        double expected = 0;
        ASSERT_TRUE(strtod_whole(c, expected));
        ScanResult r = scan(c);
        ASSERT_EQ(r.status, std::isfinite(expected) ? ScanStatus::ok : ScanStatus::not_finite);
        EXPECT_TRUE(same_double(r.value, expected));
    }
}

// Random decimal strings of every shape, against strtod: the same value,
// sign of zero included, for every token both accept.
TEST(NumberScanner, RandomTokensMatchStrtod)
{
    std::setlocale(LC_NUMERIC, "C");
    const unsigned seed = 20261208;
    std::mt19937_64 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int rounds = sweep(300000);
    for (int round = 0; round < rounds; ++round) {
        std::string s;
        int sign = pick(4);
        if (sign == 1) s += '-';
        if (sign == 2) s += '+';
        int int_digits = pick(4) == 0 ? pick(25) : pick(9);
        for (int k = 0; k < int_digits; ++k) s += static_cast<char>('0' + pick(10));
        if (pick(3) != 0) {
            s += '.';
            int frac = pick(4) == 0 ? pick(30) : pick(7);
            for (int k = 0; k < frac; ++k) s += static_cast<char>('0' + pick(10));
        }
        if (pick(5) == 0) {
            s += pick(2) ? 'e' : 'E';
            int es = pick(3);
            if (es == 1) s += '-';
            if (es == 2) s += '+';
            s += std::to_string(pick(4) == 0 ? pick(400) : pick(30));
        }
        double expected = 0;
        const bool whole = strtod_whole(s, expected) && !s.empty();
        ScanResult r = scan(s);
        if (!whole) {
            ASSERT_EQ(r.status, ScanStatus::not_a_number) << "seed " << seed << " token \"" << s << "\"";
            continue;
        }
        if (!std::isfinite(expected)) {
            ASSERT_EQ(r.status, ScanStatus::not_finite) << "seed " << seed << " token \"" << s << "\"";
            continue;
        }
        ASSERT_EQ(r.status, ScanStatus::ok) << "seed " << seed << " token \"" << s << "\"";
        ASSERT_TRUE(same_double(r.value, expected))
            << "seed " << seed << " round " << round << " token \"" << s << "\": " << r.value << " vs " << expected;
    }
}

// The short path of scan_token against the full conversion, on tokens of
// the shapes it takes (and a few it must hand on), followed by white space.
TEST(NumberScanner, TokenPathAgreesWithTheWholeTokenPath)
{
    const unsigned seed = 77;
    std::mt19937_64 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int round = 0; round < sweep(500000); ++round) {
        std::string s;
        if (pick(3) == 0) s += pick(2) ? '-' : '+';
        const int whole = pick(4) == 0 ? pick(22) : pick(8);
        for (int k = 0; k < whole; ++k) s += static_cast<char>('0' + pick(10));
        if (pick(4) != 0) {
            s += '.';
            const int fraction = pick(5) == 0 ? pick(26) : pick(4);
            for (int k = 0; k < fraction; ++k) s += static_cast<char>('0' + pick(10));
        }
        if (pick(20) == 0) {
            s += 'e';
            s += std::to_string(pick(40) - 20);
        }
        if (pick(50) == 0) s += "x";
        // Near the end of the text, and in the middle of a long one (digits
        // beyond the next blank, within reach of the eight-byte reads).
        const std::string tail = pick(2) ? " 1" : "\r\n";
        for (const std::string& text : {s + tail, s + tail + "1234567890123456789012345678901234567890"}) {
            ScanResult by_token{};
            const char* end = scan_token(text.data(), text.data() + text.size(), by_token);
            const ScanResult whole_token = scan(s);
            ASSERT_EQ(end, text.data() + s.size()) << "seed " << seed << " token \"" << s << "\"";
            ASSERT_EQ(by_token.status, whole_token.status) << "seed " << seed << " token \"" << s << "\"";
            ASSERT_TRUE(same_double(by_token.value, whole_token.value))
                << "seed " << seed << " token \"" << s << "\": " << by_token.value << " vs " << whole_token.value;
        }
    }
    // A token that runs to the end of the range, with nothing after it.
    const std::string t = "-12.75";
    ScanResult r{};
    EXPECT_EQ(scan_token(t.data(), t.data() + t.size(), r), t.data() + t.size());
    EXPECT_EQ(r.value, -12.75);
}
