#include "grid/assignment.h"

#include "grid/cell_position.h"
#include "points/point_reader.h"
#include "run/run_state.h"

namespace {

template <bool keep_highest>
void assign(RunState& st, const Point* pts, std::size_t n)
{
    double** dtab = st.dtab;
    unsigned char** tab_util = st.tab_util;
    const double Xmin = st.Xmin, Ymax = st.Ymax, pix = st.pix_size;
    for (std::size_t k = 0; k < n; ++k) {
        const Point& p = pts[k];
        const int i = row_of(p.y, Ymax, pix);
        const int j = column_of(p.x, Xmin, pix);
        double& cell = dtab[i][j];
        unsigned char& flag = tab_util[i][j];
        if (flag == cell_empty) {
            cell = p.z;
            flag = cell_hit;
        } else if (keep_highest ? p.z > cell : p.z < cell) {
            cell = p.z;
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
