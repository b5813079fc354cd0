// The predicates' signs against exact rational arithmetic, on points chosen
// so that plain double arithmetic gets many of them wrong.
#include "tin/exact_predicates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "tin/rational_oracle.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

using rational_oracle::Exact;
using tin::Point2;

struct Quadruple {
    Point2 a, b, c, d;
};

double ulp(double v) { return std::nextafter(std::fabs(v), kInfinity) - std::fabs(v); }

int naive_orientation(Point2 a, Point2 b, Point2 c)
{
    const double det = (a.x - c.x) * (b.y - c.y) - (a.y - c.y) * (b.x - c.x);
    return (det > 0) - (det < 0);
}

// Families of near-degenerate quadruples: points a few ulps off a line or a
// circle, near the origin and at the coordinates of a projected survey.
std::vector<Quadruple> near_degenerate(std::uint64_t seed)
{
    std::vector<Quadruple> all;
    std::mt19937_64 random(seed);
    // A grid of ulp steps by the line through (12, 12) and (24, 24).
    for (int i = 0; i < 32; ++i) {
        for (int j = 0; j < 32; ++j) {
            const Point2 a{0.5 + i * 0x1p-53, 0.5 + j * 0x1p-53};
            all.push_back({a, {12, 12}, {24, 24}, {0.5 + j * 0x1p-52, 0.5 + i * 0x1p-52}});
        }
    }
    // Around the circle x^2 + y^2 = 25 through lattice points, shifted to a
    // survey's easting and northing, the fourth point nudged by a few ulps.
    const std::vector<Point2> circle{{3, 4}, {5, 0}, {-4, 3}, {0, -5}, {-3, -4}, {4, -3}, {-5, 0}, {0, 5}};
    std::uniform_int_distribution<int> pick(0, 7), nudge(-3, 3);
    for (const double shift : {0.0, 512345.67, 0.001}) {
        for (int k = 0; k < 600; ++k) {
            const auto at = [&](Point2 p) { return Point2{p.x + shift, p.y + shift}; };
            Point2 d = at(circle[pick(random)]);
            // Steps of the circle's own scale (a step of ulp(0) would be subnormal).
            d.x += nudge(random) * ulp(shift + 5);
            d.y += nudge(random) * ulp(shift + 5);
            all.push_back({at(circle[pick(random)]), at(circle[pick(random)]), at(circle[pick(random)]), d});
        }
    }
    // Centimetre lattices: squares and rectangles whose corners are on one
    // circle up to the rounding of the coordinates.
    std::uniform_int_distribution<int> cm(0, 4);
    for (int k = 0; k < 600; ++k) {
        const auto p = [&] { return Point2{(51234567 + cm(random)) / 100.0, (412345678 + cm(random)) / 100.0}; };
        all.push_back({p(), p(), p(), p()});
    }
    return all;
}

TEST(ExactPredicates, SignsMatchTheRationalOracleWherePlainArithmeticFails)
{
    int naive_wrong = 0;
    for (const Quadruple& q : near_degenerate(1)) {
        const int exact_turn = rational_oracle::exact_orientation(q.a, q.b, q.c).sign();
        ASSERT_EQ(tin::orientation(q.a, q.b, q.c), exact_turn) << q.a.x << " " << q.a.y;
        ASSERT_EQ(tin::orientation(q.b, q.c, q.a), exact_turn);
        naive_wrong += naive_orientation(q.a, q.b, q.c) != exact_turn;
        ASSERT_EQ(tin::in_circle(q.a, q.b, q.c, q.d), rational_oracle::exact_in_circle(q.a, q.b, q.c, q.d).sign())
            << q.d.x << " " << q.d.y;
        // Perturbed, only for distinct points of a proper triangle.
        const bool distinct = (q.d.x != q.a.x || q.d.y != q.a.y) && (q.d.x != q.b.x || q.d.y != q.b.y) &&
                              (q.d.x != q.c.x || q.d.y != q.c.y);
        if (exact_turn != 0 && distinct) {
            const int perturbed = tin::in_circle_perturbed(q.a, q.b, q.c, q.d);
            ASSERT_EQ(perturbed, rational_oracle::exact_in_circle_perturbed(q.a, q.b, q.c, q.d));
            ASSERT_NE(perturbed, 0);
        }
    }
    // The families do reach past what rounding alone decides.
    EXPECT_GT(naive_wrong, 50);
}

// The orientation as a value, for the sampling's weights: within 2^-40 of the
// exact determinant, relative, and exactly 0 on a line.
TEST(ExactPredicates, OrientationValueIsCloseToTheExactDeterminant)
{
    for (const Quadruple& q : near_degenerate(2)) {
        const double value = tin::orientation_value(q.a, q.b, q.c);
        const Exact exact = rational_oracle::exact_orientation(q.a, q.b, q.c);
        const Exact error = Exact(value) - exact;
        const Exact magnitude = exact.sign() < 0 ? -exact : exact;
        const Exact error_magnitude = error.sign() < 0 ? -error : error;
        ASSERT_FALSE(magnitude < error_magnitude * Exact(0x1p40)) << value;
        ASSERT_EQ(value == 0.0, exact.sign() == 0);
    }
}

}  // namespace
