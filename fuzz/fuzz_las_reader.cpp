// Arbitrary bytes as a LAS point file (p.las, with no p.xyz beside it), read
// through the program's one door to the point files, twice: handing on every
// point, and handing on only the range as the extent pass asks. Both must
// end alike: the same message naming the file, or the same record count and
// the same extents, with every value finite. Nothing else may happen: no
// other error, no crash, no read beyond a buffer.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/fatal.h"
#include "fuzz_support.h"
#include "points/point_reader.h"
#include "run/console_reading.h"

using namespace kestranov;

namespace {

struct Reading {
    std::string error;
    long long records = -1;
    double low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
    bool any = false;
};

Reading read_las_file(bool extents_only)
{
    std::ostringstream console;
    const ConsoleFiles files = console_files(fuzz::drive(), "c:\\images\\f\\", {"p"});
    Reading r;
    PointSink sink = [&](const Point* pts, std::size_t n) {
        fuzz::check(n > 0, "an empty batch");
        for (std::size_t k = 0; k < n; ++k) {
            const double v[3] = {pts[k].x, pts[k].y, pts[k].z};
            for (int a = 0; a < 3; ++a) {
                fuzz::check(std::isfinite(v[a]), "a value that is not finite");
                r.low[a] = r.any ? std::min(r.low[a], v[a]) : v[a];
                r.high[a] = r.any ? std::max(r.high[a], v[a]) : v[a];
            }
            r.any = true;
        }
    };
    try {
        SeenFile seen;
        r.records = read_console_file(console, files, 0, sink, seen, extents_only ? Wanted::extents : Wanted::points);
    } catch (const Fatal& e) {
        r.error = e.text;
    }
    return r;
}

bool same_double(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    write_file(fuzz::drive() / "images" / "f" / "p.las", std::string_view(reinterpret_cast<const char*>(data), size));
    const Reading points = read_las_file(false), range = read_las_file(true);
    fuzz::check(points.error == range.error,
                "the two readings fail differently: \"" + points.error + "\" and \"" + range.error + "\"");
    if (!points.error.empty()) {
        fuzz::check(fuzz::starts_with(points.error, "\n\n\tFile c:\\images\\f\\p.las"),
                    "a message that does not name the file: " + points.error);
        return 0;
    }
    fuzz::check(points.records == range.records, "the two readings count differently");
    fuzz::check(points.any == (points.records > 0) && range.any == points.any, "points without records");
    for (int a = 0; a < 3 && points.any; ++a)
        fuzz::check(same_double(points.low[a], range.low[a]) && same_double(points.high[a], range.high[a]),
                    "the range differs from that of the points");
    return 0;
}
