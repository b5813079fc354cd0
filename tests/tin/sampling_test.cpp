// The sampled surface against exact barycentric values on the triangles of
// the brute-force triangulation, identical bytes for any input order, and
// the max-edge rule.
#include "tin/sampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "tin/delaunay.h"
#include "tin/rational_oracle.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

using rational_oracle::Exact;
using tin::Vertex;

double ulp(double v) { return std::nextafter(std::fabs(v), kInfinity) - std::fabs(v); }

// |value - exact| <= `slack` (1e-8 of the z range) plus 4 ulps, for the
// exact value n / d of the interpolation on some closed triangle of
// `expected` holding p; NaN when none holds it.
void expect_exact_value(const std::vector<rational_oracle::Corners>& expected, double slack, tin::Point2 p,
                        double value)
{
    for (const auto& t : expected) {
        const tin::Point2 a{t[0][0], t[0][1]}, b{t[1][0], t[1][1]}, c{t[2][0], t[2][1]};
        const Exact wa = rational_oracle::exact_orientation(p, b, c), wb = rational_oracle::exact_orientation(a, p, c),
                    wc = rational_oracle::exact_orientation(a, b, p);
        if (wa.sign() < 0 || wb.sign() < 0 || wc.sign() < 0) continue;
        ASSERT_TRUE(std::isfinite(value)) << p.x << " " << p.y << " " << value;
        const Exact area = wa + wb + wc;  // positive: the triangle is counterclockwise
        const Exact numerator = wa * Exact(t[0][2]) + wb * Exact(t[1][2]) + wc * Exact(t[2][2]);
        const Exact error = Exact(value) * area - numerator;
        const Exact tolerance = Exact(slack + 4 * ulp(value)) * area;
        ASSERT_FALSE(tolerance < (error.sign() < 0 ? -error : error)) << p.x << " " << p.y << " " << value;
        return;
    }
    EXPECT_TRUE(std::isnan(value)) << p.x << " " << p.y;
}

struct Case {
    const char* name;
    std::vector<Vertex> points;
    tin::CellLattice lattice;
};

std::vector<Vertex> random_points(std::size_t n, double x0, double y0, double extent, double z_range,
                                  std::uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> position(0.0, extent), z(0.0, z_range);
    std::vector<Vertex> points(n);
    for (Vertex& v : points) v = {x0 + position(random), y0 + position(random), 1000 + z(random)};
    return points;
}

// Integer coordinates: half-unit cells put centres on vertices and edges.
std::vector<Vertex> lattice_points(int side, std::uint64_t seed)
{
    std::vector<Vertex> points;
    for (int i = 0; i < side; ++i) {
        for (int j = 0; j < side; ++j)
            points.push_back({j * 1.0, i * 1.0, std::sin(i * 1.3) * 7 + std::cos(j * 0.7) * 3});
    }
    std::shuffle(points.begin(), points.end(), std::mt19937_64(seed));
    return points;
}

// Neighbours near the largest double of both signs: their differences overflow.
std::vector<Vertex> extreme_z(std::vector<Vertex> points)
{
    for (Vertex& v : points) v.z = static_cast<int>(v.x + v.y) % 2 ? 1.6e308 : -1.5e308;
    return points;
}

// Every cell sampled alone, a one-cell window whose walk starts afresh,
// has the bytes it has in the whole lattice: its value depends on its centre
// and the triangulation, not on the walk (nor the filter's doubt) that
// reached it from the cell before.
void expect_same_alone(const tin::Triangulation& tin, const tin::CellLattice& lattice,
                       const std::vector<double>& values, double max_edge = kInfinity)
{
    for (std::size_t r = 0; r < lattice.rows; ++r) {
        for (std::size_t c = 0; c < lattice.columns; ++c) {
            tin::CellLattice one = lattice;
            one.rows = one.columns = 1;
            one.first_row += r;
            one.first_column += c;
            const double alone = tin::sample(tin, one, max_edge)[0];
            ASSERT_EQ(std::memcmp(&alone, &values[r * lattice.columns + c], sizeof alone), 0) << r << " " << c;
        }
    }
}

TEST(TinSampling, ValuesAreTheExactInterpolationWithinTheTolerance)
{
    const std::vector<Case> cases{
        {"random, beyond the hull on every side",
         random_points(25, 512000, 4123000, 50, 30, 1),
         {511995, 4123055, 2.5, 24, 24}},
        {"random, a tiny z range over large z", random_points(25, 0, 0, 1, 1e-6, 2), {-0.05, 1.05, 0.022, 50, 50}},
        {"lattice, centres on vertices and edges", lattice_points(5, 3), {-0.625, 4.625, 0.25, 22, 22}},
        {"elevations of both signs near the largest double",
         extreme_z(lattice_points(4, 4)),
         {-0.625, 3.625, 0.25, 18, 18}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        double low = kInfinity, high = -kInfinity;
        for (const Vertex& v : c.points) {
            low = std::min(low, v.z);
            high = std::max(high, v.z);
        }
        // Halves: the range itself may pass the largest double.
        const double slack = 2e-8 * (high / 2 - low / 2);
        const auto expected = rational_oracle::brute_force_delaunay(c.points);
        const std::vector<double> values = tin::sample(tin::triangulate(c.points, tin::KeepZ::highest), c.lattice);
        ASSERT_EQ(values.size(), c.lattice.rows * c.lattice.columns);
        for (std::size_t r = 0; r < c.lattice.rows; ++r) {
            for (std::size_t col = 0; col < c.lattice.columns; ++col) {
                const tin::Point2 p{c.lattice.x_min + (col + 0.5) * c.lattice.size,
                                    c.lattice.y_max - (r + 0.5) * c.lattice.size};
                expect_exact_value(expected, slack, p, values[r * c.lattice.columns + col]);
            }
        }
    }
}

TEST(TinSampling, AnyInputOrderGivesTheSameBytes)
{
    // A centimetre lattice, and a metre one whose half-metre cells put
    // centres on vertices and edges exactly.
    for (const double step : {0.01, 1.0}) {
        std::vector<Vertex> points;
        for (int i = 0; i < 30; ++i) {
            for (int j = 0; j < 30; ++j) {
                points.push_back({(51234500 + j) * step, (412300000 + i) * step, (i * 7 + j * 3) % 11 * 0.37});
            }
        }
        const tin::CellLattice lattice{51234500 * step - step / 4, 412300029 * step + step / 4, step / 2, 60, 60};
        const tin::Triangulation tin = tin::triangulate(points, tin::KeepZ::highest);
        const std::vector<double> first = tin::sample(tin, lattice);
        expect_same_alone(tin, lattice, first);
        // 59 centres a row and a column on the lattice, its edges included.
        if (step == 1.0) {
            EXPECT_EQ(std::count_if(first.begin(), first.end(), [](double v) { return std::isnan(v); }), 60 * 2 - 1);
        }
        for (std::uint64_t seed = 1; seed <= 4; ++seed) {
            std::shuffle(points.begin(), points.end(), std::mt19937_64(seed));
            // On two threads every other time: bands of rows, halves of the ordering.
            const int threads = static_cast<int>(seed % 2) + 1;
            const std::vector<double> again =
                tin::sample(tin::triangulate(points, tin::KeepZ::highest, threads), lattice, kInfinity, threads);
            ASSERT_EQ(std::memcmp(again.data(), first.data(), first.size() * sizeof(double)), 0) << "seed " << seed;
        }
    }
}

TEST(TinSampling, LongEdgesAndEmptyTriangulationsGiveNaN)
{
    // A 4 x 4 unit lattice and one point far to the east: the triangles that
    // reach it have edges longer than 2.
    std::vector<Vertex> points = lattice_points(4, 4);
    points.push_back({12, 1.5, 50});
    const tin::Triangulation tin = tin::triangulate(points, tin::KeepZ::highest);
    const tin::CellLattice lattice{-0.75, 3.75, 0.5, 9, 26};  // centres on the lattice's vertices and edges too
    const std::vector<double> all = tin::sample(tin, lattice);
    const std::vector<double> limited = tin::sample(tin, lattice, 2.0);
    for (std::size_t r = 0; r < lattice.rows; ++r) {
        for (std::size_t c = 0; c < lattice.columns; ++c) {
            const double x = lattice.x_min + (c + 0.5) * lattice.size, y = lattice.y_max - (r + 0.5) * lattice.size;
            const double v = all[r * lattice.columns + c], w = limited[r * lattice.columns + c];
            const bool in_lattice = x >= 0 && x <= 3 && y >= 0 && y <= 3;
            SCOPED_TRACE(testing::Message() << x << " " << y);
            // The lattice's own cells (its east edge, x == 3, included) keep
            // their values; cells out east have one only without the limit.
            if (in_lattice) {
                EXPECT_EQ(std::memcmp(&v, &w, sizeof v), 0);
                EXPECT_FALSE(std::isnan(w));
            } else {
                EXPECT_TRUE(std::isnan(w));
            }
            if (x > 3.2 && x < 11 && std::fabs(y - 1.5) < 0.2) {
                EXPECT_FALSE(std::isnan(v));
            }
        }
    }
    expect_same_alone(tin, lattice, all);
    expect_same_alone(tin, lattice, limited, 2.0);
    const std::vector<double> none =
        tin::sample(tin::triangulate({{0, 0, 1}, {1, 1, 1}}, tin::KeepZ::highest), lattice);
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](double v) { return std::isnan(v); }));
}

}  // namespace
