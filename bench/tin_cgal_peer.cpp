// The peer kestranov-grid's tin band is measured against: CGAL's
// Delaunay_triangulation_2 on the exact-predicates kernel, the points
// inserted as one range (CGAL sorts them along a Hilbert curve itself), then
// every cell centre located by a walk from the face of the centre before it
// (a row from the face of the row above's first centre) and read by linear
// interpolation. The points are read first (by our own reader, so that a LAZ
// file needs nothing more) and held in memory: the time printed is CGAL's
// triangulation and interpolation alone. The cells are those kestranov-grid
// lays over the same points at the same size.
//
// usage: tin_cgal_peer FILE CELL_SIZE
// prints: points, vertices, cells, cells with a value, the wall seconds of
// the triangulation and of the interpolation, and their sum's wall and CPU
// seconds.
#include <CGAL/Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "grid/lattice.h"
#include "points/point_reader.h"
#include "points/read_error.h"

namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using VertexBase = CGAL::Triangulation_vertex_base_with_info_2<double, Kernel>;
using Tds = CGAL::Triangulation_data_structure_2<VertexBase>;
using Delaunay = CGAL::Delaunay_triangulation_2<Kernel, Tds>;
using CgalPoint = Kernel::Point_2;

// Wall and CPU seconds: on a loaded machine the CPU time is the steadier.
struct Clock {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();

    std::pair<double, double> seconds() const
    {
        return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(),
                static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC};
    }
};

std::vector<std::pair<CgalPoint, double>> read_points(const std::string& path)
{
    std::vector<std::pair<CgalPoint, double>> points;
    const kestranov::PointFiles files{"", {path}};
    kestranov::SeenFile seen;
    kestranov::ReadingEvents quiet;
    kestranov::read_point_file(
        quiet, files, 0,
        [&points](const kestranov::Point* p, std::size_t n) {
            for (std::size_t k = 0; k < n; ++k) points.emplace_back(CgalPoint(p[k].x, p[k].y), p[k].z);
        },
        seen);
    return points;
}

// The value at p on the triangle (or edge, or vertex) CGAL found it in.
double interpolate(const Delaunay& dt, Delaunay::Face_handle f, Delaunay::Locate_type type, int index,
                   const CgalPoint& p)
{
    switch (type) {
        case Delaunay::VERTEX:
            return f->vertex(index)->info();
        case Delaunay::OUTSIDE_CONVEX_HULL:
        case Delaunay::OUTSIDE_AFFINE_HULL:
            return std::numeric_limits<double>::quiet_NaN();
        default:
            break;
    }
    if (dt.is_infinite(f)) f = f->neighbor(f->index(dt.infinite_vertex()));
    const CgalPoint& a = f->vertex(0)->point();
    const CgalPoint& b = f->vertex(1)->point();
    const CgalPoint& c = f->vertex(2)->point();
    const double area = (b.x() - a.x()) * (c.y() - a.y()) - (b.y() - a.y()) * (c.x() - a.x());
    const double wb = ((p.x() - a.x()) * (c.y() - a.y()) - (p.y() - a.y()) * (c.x() - a.x())) / area;
    const double wc = ((b.x() - a.x()) * (p.y() - a.y()) - (b.y() - a.y()) * (p.x() - a.x())) / area;
    const double za = f->vertex(0)->info();
    return za + wb * (f->vertex(1)->info() - za) + wc * (f->vertex(2)->info() - za);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tin_cgal_peer FILE CELL_SIZE\n");
        return 2;
    }
    std::vector<std::pair<CgalPoint, double>> points;
    try {
        points = read_points(argv[1]);
    } catch (const kestranov::ReadError&) {
        std::fprintf(stderr, "tin_cgal_peer: %s cannot be read\n", argv[1]);
        return 1;
    }
    double x_low = std::numeric_limits<double>::infinity(), y_low = x_low, x_high = -x_low, y_high = -x_low;
    for (const auto& [p, z] : points) {
        x_low = std::min(x_low, p.x());
        x_high = std::max(x_high, p.x());
        y_low = std::min(y_low, p.y());
        y_high = std::max(y_high, p.y());
    }
    const kestranov::LatticeResult cells =
        kestranov::lattice_snapped(x_low, y_low, x_high, y_high, std::strtod(argv[2], nullptr));
    if (!cells.error.empty()) {
        std::fprintf(stderr, "tin_cgal_peer: %s\n", cells.error.c_str());
        return 1;
    }
    const kestranov::Lattice& l = cells.lattice;

    const Clock start;
    Delaunay dt;
    dt.insert(points.begin(), points.end());
    const double triangulation = start.seconds().first;

    std::vector<double> values(static_cast<std::size_t>(l.rows * l.cols));
    Delaunay::Face_handle face, row_face;
    for (std::int64_t r = 0; r < l.rows; ++r) {
        const double y = l.ymax - (static_cast<double>(r) + 0.5) * l.size;
        face = row_face;
        for (std::int64_t c = 0; c < l.cols; ++c) {
            const CgalPoint p(l.xmin + (static_cast<double>(c) + 0.5) * l.size, y);
            Delaunay::Locate_type type{};
            int index = 0;
            face = dt.locate(p, type, index, face);
            if (c == 0) row_face = face;
            values[static_cast<std::size_t>(r * l.cols + c)] = interpolate(dt, face, type, index, p);
        }
    }
    const auto [both, both_cpu] = start.seconds();
    std::size_t with_value = 0;
    for (const double v : values) with_value += std::isnan(v) ? 0 : 1;
    std::printf(
        "%zu points, %zu vertices, %lld x %lld cells (%zu with a value): triangulation %.3f s, "
        "interpolation %.3f s; both %.3f s wall, %.3f s cpu\n",
        points.size(), static_cast<std::size_t>(dt.number_of_vertices()), static_cast<long long>(l.rows),
        static_cast<long long>(l.cols), with_value, triangulation, both - triangulation, both, both_cpu);
    return 0;
}
