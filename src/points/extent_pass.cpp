#include "points/extent_pass.h"

namespace kestranov {

ExtentReading extent_pass(ReadingEvents& events, const PointFiles& files, SeenFiles& seen, Wanted wanted)
{
    ExtentReading found;
    const PointSink extend = [&](const Point* pts, std::size_t n) { found.range.add(pts, n); };
    seen.assign(files.names.size(), SeenFile{});
    for (int k = 0; k < files.count(); ++k)
        found.records += read_point_file(events, files, k, extend, seen[static_cast<std::size_t>(k)], wanted);
    return found;
}

}  // namespace kestranov
