// The point files of a reading: the folder, held once, and the names typed.
// A file's path is built when it is opened. Plain values: a list can be
// copied and kept.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/reading_options.h"

namespace kestranov {

struct PointFiles {
    std::filesystem::path drive_root;  // the directory that stands for c:\ (empty: current directory)
    std::string folder;                // c:\images\zone1\ , or empty for names that are whole paths
    std::vector<std::string> names;    // file k (from 0): its name as typed, without .xyz
    ReadingOptions reading = {};       // the user's threads and filter, for every reading
    ReadingSeams seams = {};           // a test's block size, vector path and faults

    int count() const { return static_cast<int>(names.size()); }
    // c:\images\zone1\a: point file k's path without its extension (.xyz or .las)
    std::string windows_stem(int k) const { return folder + names[static_cast<std::size_t>(k)]; }
};

}  // namespace kestranov
