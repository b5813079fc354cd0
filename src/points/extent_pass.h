#pragma once

#include <iosfwd>

#include "core/extents.h"
#include "core/point_files.h"
#include "points/extent_tally.h"
#include "points/point_reader.h"

namespace kestranov {

// The first reading of every point file: the smallest and largest X, Y and Z
// of the cloud, with the name and progress lines of each file and the total
// number of records on `out`. `seen` gets each file as this reading found
// it, for the second reading to check against.
Extents extent_pass(std::ostream& out, const PointFiles& files, SeenFiles& seen);

}  // namespace kestranov
