// Arbitrary bytes as a LAZ point file (p.laz alone), read through the
// program's one door to the point files three times: handing on every point
// on one thread, the same on two (chunks decoded on a worker), and handing
// on only the range as the extent pass asks. All three must end alike: the
// same message naming the file, or the same record count and the same
// points or extents, every value finite. Spoiled chunks may decode to other
// points, but nothing else may happen: no other error, no crash, no read
// beyond a buffer, no hang.
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
    std::vector<double> values;  // every value handed on, in order
    double low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
    bool any = false;
};

Reading read_laz_file(int threads, bool extents_only)
{
    std::ostringstream console;
    ConsoleFiles files = console_files(fuzz::drive(), "c:\\images\\f\\", {"p"});
    files.files.reading.threads = threads;
    Reading r;
    PointSink sink = [&](const Point* pts, std::size_t n) {
        fuzz::check(n > 0, "an empty batch");
        for (std::size_t k = 0; k < n; ++k) {
            const double v[3] = {pts[k].x, pts[k].y, pts[k].z};
            for (int a = 0; a < 3; ++a) {
                fuzz::check(std::isfinite(v[a]), "a value that is not finite");
                r.low[a] = r.any ? std::min(r.low[a], v[a]) : v[a];
                r.high[a] = r.any ? std::max(r.high[a], v[a]) : v[a];
                if (!extents_only) r.values.push_back(v[a]);
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
    write_file(fuzz::drive() / "images" / "f" / "p.laz", std::string_view(reinterpret_cast<const char*>(data), size));
    const Reading one = read_laz_file(1, false), two = read_laz_file(2, false), range = read_laz_file(1, true);
    for (const Reading* other : {&two, &range})
        fuzz::check(one.error == other->error,
                    "two readings fail differently: \"" + one.error + "\" and \"" + other->error + "\"");
    if (!one.error.empty()) {
        fuzz::check(fuzz::starts_with(one.error, "\n\n\tFile c:\\images\\f\\p.laz"),
                    "a message that does not name the file: " + one.error);
        return 0;
    }
    fuzz::check(one.records == two.records && one.records == range.records, "the readings count differently");
    fuzz::check(one.values.size() == two.values.size() &&
                    std::equal(one.values.begin(), one.values.end(), two.values.begin(), same_double),
                "two threads hand on other points than one");
    fuzz::check(one.any == (one.records > 0) && range.any == one.any, "points without records");
    for (int a = 0; a < 3 && one.any; ++a)
        fuzz::check(same_double(one.low[a], range.low[a]) && same_double(one.high[a], range.high[a]),
                    "the range differs from that of the points");
    return 0;
}
