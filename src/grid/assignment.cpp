#include "grid/assignment.h"

#include "grid/cell_position.h"
#include "output/lf_text.h"
#include "run/fatal.h"
#include "points/point_reader.h"
#include "run/run_state.h"

namespace {

// A point outside the extents of the first reading can only come from a file
// that changed between the two readings (still being copied or exported).
// Its cell would lie outside the grid; the run stops instead.
[[noreturn]] void changed_file(const RunState& st, const Point& p)
{
    fail("\n\n\tFile " + st.nomim3 + " changed during the run: the point " + lf(p.x) + " " + lf(p.y) +
         " lies outside the extents of the first reading\n");
}

// Points of a batch land all over the grid when the files are not in scan
// order; every cell visit is then a cache miss in dtab and in tab_util. The
// batch is therefore placed first, with its cells fetched ahead, and the
// updates applied afterwards in file order. The result does not depend on
// the order anyway; only ties matter and they change nothing.
template <bool keep_highest>
void assign(RunState& st, const Point* pts, std::size_t n)
{
    double* cell[point_batch];
    unsigned char* flag[point_batch];
    const double Xmin = st.Xmin, Xmax = st.Xmax, Ymin = st.Ymin, Ymax = st.Ymax, pix = st.pix_size;
    for (std::size_t k = 0; k < n; ++k) {
        if (!(pts[k].x >= Xmin && pts[k].x <= Xmax && pts[k].y >= Ymin && pts[k].y <= Ymax)) changed_file(st, pts[k]);
        const int i = row_of(pts[k].y, Ymax, pix);
        const int j = column_of(pts[k].x, Xmin, pix);
        cell[k] = st.dtab[i] + j;
        flag[k] = st.tab_util[i] + j;
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

void assignment_pass(RunState& st)
{
    PointSink sink = st.retorno == 0
                         ? PointSink([&](const Point* pts, std::size_t n) { assign<true>(st, pts, n); })
                         : PointSink([&](const Point* pts, std::size_t n) { assign<false>(st, pts, n); });
    for (int m = 1; m <= st.numlay; ++m) read_point_file(st, m, "\n\n\t", sink);
}
