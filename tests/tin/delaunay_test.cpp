// The triangulation against the Delaunay triangulation by its definition
// (every triangle's circle empty, ties broken by the same rule, in exact
// arithmetic), its independence from the input order, and the inputs that
// give no triangle.
#include "tin/delaunay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tin/insertion_order.h"
#include "tin/rational_oracle.h"

namespace {

using tin::Vertex;

std::vector<Vertex> random_points(std::size_t n, double x0, double y0, double extent, std::uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> position(0.0, extent);
    std::vector<Vertex> points(n);
    for (Vertex& v : points) v = {x0 + position(random), y0 + position(random), position(random)};
    return points;
}

// Whole centimetres (the rounding of a LAS file's scale 0.01) over a small square.
std::vector<Vertex> centimetre_lattice(int side, std::uint64_t seed)
{
    std::vector<Vertex> points;
    for (int i = 0; i < side; ++i) {
        for (int j = 0; j < side; ++j) {
            points.push_back(
                {(51234500 + j) / 100.0, (412300000 + i) / 100.0, static_cast<double>((i * 31 + j * 17) % 23)});
        }
    }
    std::shuffle(points.begin(), points.end(), std::mt19937_64(seed));
    return points;
}

std::vector<Vertex> integer_lattice(int side)
{
    std::vector<Vertex> points;
    for (int i = 0; i < side; ++i) {
        for (int j = 0; j < side; ++j) points.push_back({static_cast<double>(j), static_cast<double>(i), i * 1.5 - j});
    }
    return points;
}

// The points of each (x, y) once, z kept by the rule: what the brute force needs.
std::vector<Vertex> distinct(const std::vector<Vertex>& points, tin::KeepZ keep)
{
    std::map<std::pair<double, double>, double> kept;
    for (const Vertex& v : points) {
        auto [it, fresh] = kept.try_emplace({v.x, v.y}, v.z);
        if (!fresh) it->second = keep == tin::KeepZ::highest ? std::max(it->second, v.z) : std::min(it->second, v.z);
    }
    std::vector<Vertex> out;
    for (const auto& [xy, z] : kept) out.push_back({xy.first, xy.second, z});
    return out;
}

struct Case {
    std::string name;
    std::function<std::vector<Vertex>()> points;
    tin::KeepZ keep = tin::KeepZ::highest;
};

TEST(Delaunay, MatchesTheBruteForceTriangulationWithTheSameTieRule)
{
    const std::vector<Case> cases{
        {"random, general position", [] { return random_points(28, 512000, 4123000, 100, 3); }},
        {"random near the origin", [] { return random_points(24, -1, -1, 2, 4); }},
        {"integer lattice, every square cocircular", [] { return integer_lattice(6); }},
        {"centimetre lattice", [] { return centimetre_lattice(6, 5); }},
        {"twelve points of one circle and its centre",
         [] {
             std::vector<Vertex> p{{0, 0, 9}};
             for (const auto& [x, y] : std::vector<std::pair<double, double>>{{3, 4},
                                                                              {4, 3},
                                                                              {5, 0},
                                                                              {4, -3},
                                                                              {3, -4},
                                                                              {0, -5},
                                                                              {-3, -4},
                                                                              {-4, -3},
                                                                              {-5, 0},
                                                                              {-4, 3},
                                                                              {-3, 4},
                                                                              {0, 5}}) {
                 p.push_back({x, y, x + y});
             }
             return p;
         }},
        // The earliest and the latest in (x, y) order side by side on the
        // circle: raising the latest instead would take the other diagonal.
        {"four points of one circle",
         [] {
             return std::vector<Vertex>{{4, 3, 1}, {-5, 0, 2}, {-4, -3, 3}, {3, -4, 4}};
         }},
        {"points on one line and one beside it",
         [] {
             std::vector<Vertex> p;
             for (int i = 9; i >= 0; --i) p.push_back({i * 0.5, i * 0.25, 1.0 * i});
             p.push_back({1, 3, 0});
             return p;
         }},
        {"random points snapped to a 5 x 5 grid",
         [] {
             std::vector<Vertex> p = random_points(40, 0, 0, 5, 12);
             for (Vertex& v : p) v = {std::floor(v.x), std::floor(v.y), v.z};
             return p;
         },
         tin::KeepZ::lowest},
        {"duplicates, highest kept",
         [] {
             std::vector<Vertex> p = integer_lattice(4);
             for (int i = 0; i < 16; i += 3) p.push_back({p[i].x, p[i].y, p[i].z + (i % 2 == 0 ? 5 : -5)});
             return p;
         }},
        {"duplicates, lowest kept",
         [] {
             std::vector<Vertex> p = integer_lattice(4);
             for (int i = 0; i < 16; i += 3) p.push_back({p[i].x, p[i].y, p[i].z + (i % 2 == 0 ? 5 : -5)});
             return p;
         },
         tin::KeepZ::lowest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Vertex> points = c.points();
        const auto expected = rational_oracle::brute_force_delaunay(distinct(points, c.keep));
        ASSERT_FALSE(expected.empty());
        // Two threads share the ordering of the points: the same triangles.
        for (const int threads : {1, 2}) {
            EXPECT_EQ(rational_oracle::triangles_of(tin::triangulate(points, c.keep, threads)), expected) << threads;
        }
    }
}

// Every edge locally Delaunay in exact arithmetic, every neighbour pointing
// back across the same edge, and as many triangles as Euler's formula gives:
// on thousands of points, past what the brute force can check.
TEST(Delaunay, LargeInputsAreConsistentAndLocallyDelaunay)
{
    // Random points snapped to a 40 x 40 grid: duplicates, lines and circles everywhere.
    std::vector<Vertex> snapped = random_points(5000, 0, 0, 40, 7);
    for (Vertex& v : snapped) v = {std::floor(v.x), std::floor(v.y), v.z};
    for (const auto& points : {random_points(5000, 512000, 4123000, 300, 6), centimetre_lattice(70, 7), snapped}) {
        const std::size_t vertices = distinct(points, tin::KeepZ::highest).size();
        const tin::Triangulation tin = tin::triangulate(points, tin::KeepZ::highest);
        std::size_t ghosts = 0;
        for (std::size_t t = 0; t < tin.triangles.size(); ++t) {
            const tin::Triangle& tri = tin.triangles[t];
            ghosts += tri.ghost();
            for (int i = 0; i < 3; ++i) {
                const tin::Triangle& other = tin.triangles[tri.n[i]];
                const int j = other.side_towards(static_cast<std::int32_t>(t));
                ASSERT_EQ(other.n[j], static_cast<std::int32_t>(t));
                ASSERT_EQ(other.v[tin::next(j)], tri.v[tin::previous(i)]);
                ASSERT_EQ(other.v[tin::previous(j)], tri.v[tin::next(i)]);
                if (tri.ghost() || other.ghost()) continue;
                const auto at = [&](std::int32_t v) { return tin.vertices[v].xy(); };
                ASSERT_EQ(rational_oracle::exact_orientation(at(tri.v[0]), at(tri.v[1]), at(tri.v[2])).sign(), 1);
                ASSERT_EQ(rational_oracle::exact_in_circle_perturbed(at(tri.v[0]), at(tri.v[1]), at(tri.v[2]),
                                                                     at(other.v[j])),
                          -1);
            }
        }
        // n distinct vertices, h of them on the hull: 2n - 2 triangles with the ghosts, h ghosts.
        EXPECT_EQ(tin.triangles.size(), 2 * vertices - 2);
        EXPECT_GE(ghosts, 3U);
        EXPECT_LE(tin.construction_bytes, 100 * points.size());
    }
}

// Two threads make and sort the keys in halves and merge them from both
// ends: the very permutation one thread gives, for odd and even counts.
TEST(Delaunay, TheInsertionOrderIsOnePermutationForAnyThreadCount)
{
    for (const std::size_t n : {std::size_t{3}, std::size_t{1000}, std::size_t{4099}}) {
        SCOPED_TRACE(n);
        std::vector<Vertex> points = random_points(n, 512000, 4123000, 50, n);
        for (std::size_t k = 0; k + 7 < n; k += 7) points[k + 7] = points[k];  // shared keys but for the index
        const std::vector<std::uint32_t> one = tin::insertion_order(points, 1);
        EXPECT_EQ(tin::insertion_order(points, 2), one);
        std::vector<std::uint32_t> sorted = one;
        std::sort(sorted.begin(), sorted.end());
        for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(sorted[k], k);
    }
}

TEST(Delaunay, AnyInputOrderGivesTheSameTriangles)
{
    const std::vector<Vertex> lattice = centimetre_lattice(40, 8);
    const auto first = rational_oracle::triangles_of(tin::triangulate(lattice, tin::KeepZ::highest));
    // All 1521 squares are split, each in two.
    EXPECT_EQ(first.size(), 2U * 39 * 39);
    std::vector<Vertex> sorted = lattice;
    std::sort(sorted.begin(), sorted.end(),
              [](const Vertex& u, const Vertex& v) { return u.y < v.y || (u.y == v.y && u.x < v.x); });
    std::vector<Vertex> reversed(sorted.rbegin(), sorted.rend());
    for (const auto& order : {sorted, reversed, centimetre_lattice(40, 9), centimetre_lattice(40, 10)}) {
        EXPECT_EQ(rational_oracle::triangles_of(tin::triangulate(order, tin::KeepZ::highest, 2)), first);
    }
}

TEST(Delaunay, InputsWithoutAPlaneGiveNoTriangle)
{
    const std::vector<std::vector<Vertex>> inputs{
        {},
        {{1, 2, 3}},
        {{1, 2, 3}, {4, 5, 6}},
        {{1, 2, 3}, {1, 2, 4}, {1, 2, 5}, {1, 2, 6}},
        {{0, 0, 0}, {1, 1, 0}, {2, 2, 0}},
        {{0.1, 0.2, 0}, {0.3, 0.6, 0}, {0.2, 0.4, 0}, {0.1, 0.2, 1}, {0.7, 1.4, 0}},  // 2y == 4x, rounded alike
        centimetre_lattice(1, 1),
    };
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        EXPECT_TRUE(tin::triangulate(inputs[k], tin::KeepZ::lowest).empty()) << "input " << k;
    }
    // Coordinates the exact arithmetic does not cover are refused, not triangulated.
    for (const double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 0x1p201, -0x1p-101}) {
        EXPECT_THROW(tin::triangulate({{0, 0, 0}, {1, 0, 0}, {0, bad, 0}}, tin::KeepZ::highest), std::invalid_argument);
    }
    EXPECT_FALSE(tin::triangulate({{0, 0, 0}, {0x1p200, 0, 0}, {0, -0x1p-100, 0}}, tin::KeepZ::highest).empty());
    // A long line shuffled: still nothing.
    std::vector<Vertex> line;
    for (int i = 0; i < 1000; ++i) line.push_back({512000.0 + i * 0.01, 4123000.0, 0});
    std::shuffle(line.begin(), line.end(), std::mt19937_64(11));
    EXPECT_TRUE(tin::triangulate(line, tin::KeepZ::highest).empty());
}

}  // namespace
