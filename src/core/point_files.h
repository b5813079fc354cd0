// The point files of a reading, each a path on this machine as its user
// named it (the extension may be left out: the reading looks for .xyz,
// .las and .laz), and how they are read. The folder they share is held
// once, and a file's path built when it is opened, so that a long folder
// name is not copied once per file. A plain value: a list can be copied
// and kept.
#pragma once

#include <string>
#include <vector>

#include "core/reading_options.h"

namespace kestranov {

struct PointFiles {
    std::string folder;              // the path every name follows (with its separator), or empty
    std::vector<std::string> names;  // file k (from 0): folder + names[k] is its path
    ReadingOptions reading = {};     // the user's threads and filter, for every reading
    ReadingSeams seams = {};         // a test's block size, vector path and faults

    int count() const { return static_cast<int>(names.size()); }
    std::string path_of(int k) const { return folder + names[static_cast<std::size_t>(k)]; }
};

}  // namespace kestranov
