#include "points/extent_pass.h"

#include <optional>
#include <ostream>

#include "core/fatal.h"
#include "core/messages.h"
#include "points/point_reader.h"

namespace kestranov {

void ExtentTally::add(const Point* pts, std::size_t n)
{
    std::size_t k = 0;
    if (n == 0) return;
    if (!any_) {
        e_.Xmin = e_.Xmax = pts[0].x;
        e_.Ymin = e_.Ymax = pts[0].y;
        e_.Zmin = e_.Zmax = pts[0].z;
        any_ = true;
        k = 1;
    }
    double xmin = e_.Xmin, xmax = e_.Xmax, ymin = e_.Ymin, ymax = e_.Ymax, zmin = e_.Zmin, zmax = e_.Zmax;
    for (; k < n; ++k) {
        const Point& p = pts[k];
        if (xmin > p.x) xmin = p.x;
        if (xmax < p.x) xmax = p.x;
        if (ymin > p.y) ymin = p.y;
        if (ymax < p.y) ymax = p.y;
        if (zmin > p.z) zmin = p.z;
        if (zmax < p.z) zmax = p.z;
    }
    e_.Xmin = xmin, e_.Xmax = xmax, e_.Ymin = ymin, e_.Ymax = ymax, e_.Zmin = zmin, e_.Zmax = zmax;
}

Extents extent_pass(std::ostream& out, const PointFiles& files, SeenFiles& seen)
{
    ExtentTally tally;
    long long total = 0;
    PointSink extend = [&](const Point* pts, std::size_t n) { tally.add(pts, n); };
    seen.assign(static_cast<std::size_t>(files.count) + 1, SeenFile{});
    for (int m = 1; m <= files.count; ++m)
        total += read_point_file(out, files, m, extend, seen[static_cast<std::size_t>(m)], true);

    out << "\n\n\tFirst Lecture "
        << "\n\n\t\tTotal number of registers = " << total << " \n";
    if (!tally.any()) fail(no_point_at_all());
    return tally.extents();
}

}  // namespace kestranov
