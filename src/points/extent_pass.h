#pragma once

#include "core/point_files.h"
#include "points/extent_tally.h"
#include "points/point_reader.h"
#include "points/reading_events.h"

namespace kestranov {

// What a reading of every file for the range of its points found.
struct ExtentReading {
    ExtentTally range;      // of the points handed on (none: the files hold no point, or the filter kept none)
    long long records = 0;  // every record read, kept or not
};

// The first reading of every point file: the smallest and largest X, Y and Z
// of the cloud, each file's opening and records told to `events`. `seen`
// gets each file as this reading found it, for the second reading to check
// against. `wanted`: Wanted::extents_or_header lets a LAZ file's header
// stand for its points' range.
ExtentReading extent_pass(ReadingEvents& events, const PointFiles& files, SeenFiles& seen,
                          Wanted wanted = Wanted::extents);

}  // namespace kestranov
