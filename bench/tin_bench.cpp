// Speed of the triangulated surface: the Delaunay triangulation of 1M points
// and its sampling on a lattice of cells, for points at random positions and
// for a centimetre lattice in metres and in whole centimetres (every square
// of four points on one circle, or a hair off it: the exact arithmetic and
// the tie rule decide every diagonal). Reports seconds,
// triangles and the construction's bytes per vertex.
//
// usage: tin_bench [POINTS] [--runs N] [--random-only | --lattice-only]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tin/delaunay.h"
#include "tin/sampling.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<tin::Vertex> random_points(std::size_t n)
{
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> position(0.0, 1000.0);
    std::vector<tin::Vertex> points(n);
    for (tin::Vertex& v : points) v = {500000.0 + position(random), 4000000.0 + position(random), position(random)};
    return points;
}

// A square lattice at 1 cm, the points in random order; with `unit` 1, the
// coordinates are counted in centimetres (whole numbers: every square's
// corners exactly on one circle), with 0.01 in metres (the centimetres
// rounded to binary: the squares are a hair off their circles).
std::vector<tin::Vertex> lattice_points(std::size_t n, double unit)
{
    const auto side = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(n))));
    std::vector<tin::Vertex> points;
    points.reserve(side * side);
    for (std::size_t i = 0; i < side; ++i) {
        for (std::size_t j = 0; j < side; ++j) {
            const double x = static_cast<double>(500000 * 100 + j) * unit;
            const double y = static_cast<double>(4000000 * 100 + i) * unit;
            points.push_back({x, y, static_cast<double>((i * 7 + j * 13) % 1000) / 100.0});
        }
    }
    std::shuffle(points.begin(), points.end(), std::mt19937_64(7));
    return points;
}

void measure(const char* name, const std::vector<tin::Vertex>& points, int runs)
{
    double best_build = kInfinity, best_sample = kInfinity;
    std::size_t real = 0;
    double bytes = 0;
    std::size_t finite = 0;
    double x_min = kInfinity, y_max = -kInfinity, x_max = -kInfinity, y_min = kInfinity;
    for (const tin::Vertex& v : points) {
        x_min = std::min(x_min, v.x);
        x_max = std::max(x_max, v.x);
        y_min = std::min(y_min, v.y);
        y_max = std::max(y_max, v.y);
    }
    // About one cell a point.
    const double size = (x_max - x_min) / std::sqrt(static_cast<double>(points.size()));
    const tin::CellLattice lattice{x_min, y_max, size, static_cast<std::size_t>((y_max - y_min) / size),
                                   static_cast<std::size_t>((x_max - x_min) / size)};
    for (int run = 0; run < runs; ++run) {
        std::vector<tin::Vertex> copy = points;
        auto start = std::chrono::steady_clock::now();
        const tin::Triangulation tin = tin::triangulate(std::move(copy), tin::KeepZ::highest);
        best_build = std::min(best_build, seconds_since(start));
        real = static_cast<std::size_t>(std::count_if(tin.triangles.begin(), tin.triangles.end(),
                                                      [](const tin::Triangle& t) { return !t.ghost(); }));
        bytes = static_cast<double>(tin.construction_bytes) / static_cast<double>(points.size());
        start = std::chrono::steady_clock::now();
        const std::vector<double> values = tin::sample(tin, lattice);
        best_sample = std::min(best_sample, seconds_since(start));
        finite = static_cast<std::size_t>(
            std::count_if(values.begin(), values.end(), [](double v) { return !std::isnan(v); }));
    }
    std::printf(
        "%-10s %8zu points: triangulation %.3f s, %zu triangles, %.1f bytes/vertex; "
        "sampling %zu x %zu cells %.3f s (%zu with a value)\n",
        name, points.size(), best_build, real, bytes, lattice.rows, lattice.columns, best_sample, finite);
}

}  // namespace

int main(int argc, char** argv)
{
    std::size_t n = 1000000;
    int runs = 1;
    bool random = true, lattice = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--random-only") == 0) {
            lattice = false;
        } else if (std::strcmp(argv[i], "--lattice-only") == 0) {
            random = false;
        } else {
            n = std::strtoull(argv[i], nullptr, 10);
        }
    }
    if (random) measure("random", random_points(n), runs);
    if (lattice) {
        measure("cm-lattice", lattice_points(n, 0.01), runs);
        measure("cm-whole", lattice_points(n, 1.0), runs);
    }
    return 0;
}
