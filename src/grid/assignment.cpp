#include "grid/assignment.h"

#include <optional>

#include "core/fatal.h"
#include "core/lf_text.h"
#include "grid/cell_position.h"
#include "points/point_reader.h"

namespace {

// A point outside the extents of the first reading can only come from a file
// that changed between the two readings (still being copied or exported).
// Its cell would lie outside the grid; the run stops instead.
[[noreturn]] void changed_file(const std::string& path, const Point& p)
{
    fail("\n\n\tFile " + path + " changed during the run: the point " + lf(p.x) + " " + lf(p.y) +
         " lies outside the extents of the first reading\n");
}

// Points of a batch land all over the grid when the files are not in scan
// order; every cell visit is then a cache miss in dtab and in tab_util. The
// batch is therefore placed first, with its cells fetched ahead, and the
// updates applied afterwards in file order. The result does not depend on
// the order anyway; only ties matter and they change nothing.
template <bool keep_highest>
void assign(const Extents& e, double pix, GridView grid, const std::string& path, const Point* pts, std::size_t n)
{
    double* cell[point_batch];
    unsigned char* flag[point_batch];
    const double Xmin = e.Xmin, Xmax = e.Xmax, Ymin = e.Ymin, Ymax = e.Ymax;
    for (std::size_t k = 0; k < n; ++k) {
        if (!(pts[k].x >= Xmin && pts[k].x <= Xmax && pts[k].y >= Ymin && pts[k].y <= Ymax)) changed_file(path, pts[k]);
        const int i = row_of(pts[k].y, Ymax, pix);
        const int j = column_of(pts[k].x, Xmin, pix);
        cell[k] = grid.dtab[i] + j;
        flag[k] = grid.tab_util[i] + j;
        __builtin_prefetch(cell[k], 1);
        __builtin_prefetch(flag[k], 1);
    }
    for (std::size_t k = 0; k < n; ++k) {
        const double z = pts[k].z;
        if (*flag[k] == cell_empty) {
            *cell[k] = z;
            *flag[k] = cell_hit;
        } else if (keep_highest ? z > *cell[k] : z < *cell[k]) {
            *cell[k] = z;
        }
    }
}

}  // namespace

void assignment_pass(std::ostream& out, const PointFiles& files, const Extents& e, double pix_size, int retorno,
                     GridView grid)
{
    for (int m = 1; m <= files.count; ++m) {
        const std::string path = files.windows_path(m);
        const PointSink sink =
            retorno == 0
                ? PointSink([&](const Point* pts, std::size_t n) { assign<true>(e, pix_size, grid, path, pts, n); })
                : PointSink([&](const Point* pts, std::size_t n) { assign<false>(e, pix_size, grid, path, pts, n); });
        if (!read_point_file(out, files, m, sink)) fail("\n\n\tFile " + path + " unknown\n");
    }
}
