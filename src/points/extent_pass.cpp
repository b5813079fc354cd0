#include "points/extent_pass.h"

#include <ostream>

#include "points/point_reader.h"
#include "run/fatal.h"
#include "run/run_state.h"

void extent_pass(RunState& st)
{
    // The extents start from the first point, not from fixed guesses, so
    // that negative coordinates, negative elevations and eastings beyond any
    // guess get their true values.
    bool any = false;
    long long total = 0;
    PointSink extend = [&](const Point* pts, std::size_t n) {
        std::size_t k = 0;
        if (!any) {
            st.Xmin = st.Xmax = pts[0].x;
            st.Ymin = st.Ymax = pts[0].y;
            st.Zmin = st.Zmax = pts[0].z;
            any = true;
            k = 1;
        }
        double xmin = st.Xmin, xmax = st.Xmax, ymin = st.Ymin, ymax = st.Ymax, zmin = st.Zmin, zmax = st.Zmax;
        for (; k < n; ++k) {
            const Point& p = pts[k];
            if (xmin > p.x) xmin = p.x;
            if (xmax < p.x) xmax = p.x;
            if (ymin > p.y) ymin = p.y;
            if (ymax < p.y) ymax = p.y;
            if (zmin > p.z) zmin = p.z;
            if (zmax < p.z) zmax = p.z;
        }
        st.Xmin = xmin, st.Xmax = xmax, st.Ymin = ymin, st.Ymax = ymax, st.Zmin = zmin, st.Zmax = zmax;
    };
    for (int m = 1; m <= st.numlay; ++m) total += read_point_file(st, m, "\n\t", extend);

    *st.out << "\n\n\tFirst Lecture " << "\n\n\t\tTotal number of registers = " << total << " \n";
    if (!any) fail("\n\n\tThe point files hold no point: there is nothing to grid\n");
}
