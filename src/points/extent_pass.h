#pragma once

#include <iosfwd>

#include "core/extents.h"
#include "core/point_files.h"
#include "points/point_reader.h"

namespace kestranov {

// The smallest and largest X, Y and Z of the points handed to add(), from
// the first one on (never from fixed guesses, so that negative coordinates,
// negative elevations and eastings beyond any guess get their true values).
class ExtentTally {
public:
    void add(const Point* pts, std::size_t n);
    bool any() const { return any_; }
    const Extents& extents() const { return e_; }

private:
    Extents e_;
    bool any_ = false;
};

// The first reading of every point file: the smallest and largest X, Y and Z
// of the cloud, with the name and progress lines of each file and the total
// number of records on `out`. `seen` gets each file as this reading found
// it, for the second reading to check against.
Extents extent_pass(std::ostream& out, const PointFiles& files, SeenFiles& seen);

}  // namespace kestranov
