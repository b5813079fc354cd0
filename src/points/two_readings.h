// The one reading protocol of a gridding run, for every front end: a first
// reading for the range of the points, a grid made for that range, and a
// second reading into the grid. The first reading takes a LAZ file's range
// from its header instead of decoding every point, which halves such a run;
// the second decodes them and checks the header. Where a header's bounds
// gave a grid too large for the records, the first reading runs again from
// the points alone; where a header's bounds were not its points', the second
// reading runs again over the range it gathered. What differs between the
// front ends comes in as the steps below.
#pragma once

#include <functional>

#include "core/point_files.h"
#include "points/extent_pass.h"
#include "points/extent_tally.h"
#include "points/point_reader.h"
#include "points/reading_events.h"

namespace kestranov {

// The readings of the protocol, in the order they may come.
enum class ReadingStep {
    first,         // the range, LAZ files' from their headers
    first_again,   // the range from the points alone, where the headers' gave a grid too large
    second,        // into the grid
    second_again,  // into the grid of the range the second reading gathered, where a header was wrong
};

struct ReadingSteps {
    // The range is known without a first reading (given by the user).
    bool range_known = false;
    // Who is told of each reading's files and records.
    std::function<ReadingEvents&(ReadingStep step)> events;
    // What a first reading found (ReadingStep::first or first_again): the
    // front end takes its range for the grid, or ends the run where there
    // is no point.
    std::function<void(const ExtentReading& found, ReadingStep step)> range_read;
    // Makes the grid for the range taken. `from_headers`: where the range
    // came from LAZ headers, false refuses a grid too large for this
    // machine or for the records (fits_the_records), since the points' own
    // range may be far less; otherwise such a grid ends the run (throws).
    std::function<bool(bool from_headers)> make_grid;
    // One reading into the grid made last; `gathered`, where given, takes
    // the range of every point read. Returns whether every LAZ header whose
    // bounds the first reading took held its points.
    std::function<bool(ReadingEvents& events, ExtentTally* gathered)> read_into_grid;
    // The range the second reading gathered, for the grid of the second
    // reading again.
    std::function<void(const ExtentTally& gathered)> range_gathered;
};

// Runs the protocol over `files`; `seen` holds the files as the last
// readings found them.
void read_twice(const PointFiles& files, SeenFiles& seen, const ReadingSteps& steps);

}  // namespace kestranov
