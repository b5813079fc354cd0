// The one reading protocol of both front ends, and the facts a reading's
// failure carries to them: the code and the numbers, no text.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "points/carried_laz.h"
#include "points/two_readings.h"
#include "support.h"

namespace {

using kestranov::ReadingStep;

const char* name_of(ReadingStep step)
{
    switch (step) {
        case ReadingStep::first:
            return "first";
        case ReadingStep::first_again:
            return "first_again";
        case ReadingStep::second:
            return "second";
        case ReadingStep::second_again:
            return "second_again";
    }
    return "?";
}

}  // namespace

// Which readings run, in which order, for a LAZ header whose bounds are
// right, too narrow (the second reading again, over the range it
// gathered), or whose grid the front end refuses (the first reading again,
// from the points); none first where the range is known.
TEST(TwoReadings, ReadAgainOnlyWhereAHeaderFailed)
{
    // The header's bounds made the points' own, from the LAS twin.
    std::string right = read_file(carried / "point10_4x10.laz");
    {
        TempDir dir;
        write_file(dir.path() / "t.las", twin_of_carried());
        kestranov::SeenFiles seen;
        kestranov::ReadingEvents none;
        const kestranov::PointFiles twin{"", {(dir.path() / "t.las").string()}};
        const kestranov::Extents e = kestranov::extent_pass(none, twin, seen).range.extents();
        std::size_t at = 179;  // the header's doubles: max X, min X, max Y, min Y, max Z, min Z
        for (const double v : {e.Xmax, e.Xmin, e.Ymax, e.Ymin, e.Zmax, e.Zmin}) patch<double>(right, at, v), at += 8;
    }
    constexpr std::size_t min_x = 187;
    std::string narrow = right;
    patch<double>(narrow, min_x, field<double>(right, min_x) + 1);
    struct Case {
        const std::string* bytes;
        bool range_known, refuse_header_grid;
        std::string steps;
    };
    const Case cases[] = {
        {&right, false, false, "first range grid(headers) second "},
        {&narrow, false, false, "first range grid(headers) second gathered grid second_again "},
        {&right, false, true, "first range grid(headers) first_again range grid second "},
        {&right, true, false, "grid second "},
    };
    for (const Case& c : cases) {
        TempDir dir;
        write_file(dir.path() / "p.laz", *c.bytes);
        const kestranov::PointFiles files{"", {(dir.path() / "p.laz").string()}};
        kestranov::SeenFiles seen;
        kestranov::ReadingEvents events;
        kestranov::Extents gathered;
        std::string steps;
        kestranov::ReadingSteps s;
        s.range_known = c.range_known;
        s.events = [&](ReadingStep step) -> kestranov::ReadingEvents& {
            steps += std::string(name_of(step)) + " ";
            return events;
        };
        s.range_read = [&](const kestranov::ExtentReading& found, ReadingStep) {
            EXPECT_EQ(found.records, 40);
            steps += "range ";
        };
        s.make_grid = [&](bool from_headers) {
            steps += from_headers ? "grid(headers) " : "grid ";
            return !(from_headers && c.refuse_header_grid);
        };
        s.read_into_grid = [&](kestranov::ReadingEvents& told, kestranov::ExtentTally* gather) {
            long long records = 0;
            for (int k = 0; k < files.count(); ++k)
                records += kestranov::read_point_file(
                    told, files, k,
                    [&](const kestranov::Point* p, std::size_t n) {
                        if (gather) gather->add(p, n);
                    },
                    seen[static_cast<std::size_t>(k)]);
            EXPECT_EQ(records, 40);
            return kestranov::headers_held(seen);
        };
        s.range_gathered = [&](const kestranov::ExtentTally& range) {
            gathered = range.extents();
            steps += "gathered ";
        };
        if (c.range_known) seen.resize(1);
        kestranov::read_twice(files, seen, s);
        EXPECT_EQ(steps, c.steps);
        // The points' own west edge, below the narrowed header's.
        if (c.bytes == &narrow) {
            EXPECT_EQ(gathered.Xmin, field<double>(right, min_x));
        }
    }
}

// A failure carries its code and facts; the front end makes the text.
TEST(TwoReadings, AFailureCarriesItsFacts)
{
    const std::string laz = read_file(carried / "point10_4x10.laz");
    struct Case {
        std::string name, bytes;
        kestranov::ReadFault fault;
        long long record;
        std::uint64_t bytes_fact, at;
        std::string token;
    };
    const Case cases[] = {
        {"a.xyz", "1 2 3\n4 x 6\n", kestranov::ReadFault::not_a_number, 2, 0, 0, "x"},
        {"a.xyz", "1 2 3\n4 5\n", kestranov::ReadFault::record_short, 2, 0, 0, ""},
        {"a.laz", laz.substr(0, 700), kestranov::ReadFault::laz_table_beyond_end, 0, 700, 793, ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        write_file(dir.path() / c.name, c.bytes);
        const kestranov::PointFiles files{dir.path().string() + "/", {c.name}};
        kestranov::SeenFile seen;
        try {
            kestranov::ReadingEvents none;
            kestranov::read_point_file(
                none, files, 0, [](const kestranov::Point*, std::size_t) {}, seen);
            ADD_FAILURE() << c.name << " read";
        } catch (const kestranov::ReadError& e) {
            EXPECT_EQ(e.fault, c.fault) << c.bytes;
            EXPECT_EQ(e.path, files.path_of(0));
            EXPECT_EQ(e.file, 0);
            EXPECT_EQ(e.record, c.record);
            EXPECT_EQ(e.bytes, c.bytes_fact);
            EXPECT_EQ(e.at, c.at);
            EXPECT_EQ(e.token, c.token);
        }
    }
}
