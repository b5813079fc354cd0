#include "points/extent_pass.h"

#include <optional>
#include <ostream>

#include "core/fatal.h"
#include "core/messages.h"
#include "points/point_reader.h"

namespace kestranov {

Extents extent_pass(std::ostream& out, const PointFiles& files, SeenFiles& seen)
{
    Extents e;
    // The extents start from the first point, not from fixed guesses, so
    // that negative coordinates, negative elevations and eastings beyond any
    // guess get their true values.
    bool any = false;
    long long total = 0;
    PointSink extend = [&](const Point* pts, std::size_t n) {
        std::size_t k = 0;
        if (!any) {
            e.Xmin = e.Xmax = pts[0].x;
            e.Ymin = e.Ymax = pts[0].y;
            e.Zmin = e.Zmax = pts[0].z;
            any = true;
            k = 1;
        }
        double xmin = e.Xmin, xmax = e.Xmax, ymin = e.Ymin, ymax = e.Ymax, zmin = e.Zmin, zmax = e.Zmax;
        for (; k < n; ++k) {
            const Point& p = pts[k];
            if (xmin > p.x) xmin = p.x;
            if (xmax < p.x) xmax = p.x;
            if (ymin > p.y) ymin = p.y;
            if (ymax < p.y) ymax = p.y;
            if (zmin > p.z) zmin = p.z;
            if (zmax < p.z) zmax = p.z;
        }
        e.Xmin = xmin, e.Xmax = xmax, e.Ymin = ymin, e.Ymax = ymax, e.Zmin = zmin, e.Zmax = zmax;
    };
    seen.assign(static_cast<std::size_t>(files.count) + 1, SeenFile{});
    for (int m = 1; m <= files.count; ++m)
        total += read_point_file(out, files, m, extend, seen[static_cast<std::size_t>(m)], true);

    out << "\n\n\tFirst Lecture "
        << "\n\n\t\tTotal number of registers = " << total << " \n";
    if (!any) fail(no_point_at_all());
    return e;
}

}  // namespace kestranov
