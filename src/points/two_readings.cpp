#include "points/two_readings.h"

namespace kestranov {

namespace {

void first_reading(const PointFiles& files, SeenFiles& seen, const ReadingSteps& steps, ReadingStep step)
{
    const Wanted wanted = step == ReadingStep::first ? Wanted::extents_or_header : Wanted::extents;
    steps.range_read(extent_pass(steps.events(step), files, seen, wanted), step);
}

}  // namespace

void read_twice(const PointFiles& files, SeenFiles& seen, const ReadingSteps& steps)
{
    if (!steps.range_known) first_reading(files, seen, steps, ReadingStep::first);
    const bool headers = bounds_from_headers(seen);
    if (!steps.make_grid(headers)) {
        // Read anew: these readings are first and second again.
        first_reading(files, seen, steps, ReadingStep::first_again);
        steps.make_grid(false);
        steps.read_into_grid(steps.events(ReadingStep::second), nullptr);
        return;
    }
    ExtentTally found;
    if (steps.read_into_grid(steps.events(ReadingStep::second), headers ? &found : nullptr)) return;
    // The points it read are now those of the first reading.
    for (SeenFile& f : seen) f.first.header_bounds.reset();
    steps.range_gathered(found);
    steps.make_grid(false);
    steps.read_into_grid(steps.events(ReadingStep::second_again), nullptr);
}

}  // namespace kestranov
