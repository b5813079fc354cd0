#include "points/extent_pass.h"

#include <optional>
#include <ostream>

#include "core/fatal.h"
#include "core/messages.h"
#include "points/point_reader.h"

namespace kestranov {

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
