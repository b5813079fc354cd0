// The point files of a run: the folder, held once, and the names typed. A
// file's path is built when it is opened, so that a long folder name is not
// copied once per file.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/reading_options.h"

namespace kestranov {

struct data_file {
    std::string nombre;  // a point file's name as typed, without .xyz
};

struct PointFiles {
    std::filesystem::path drive_root;     // the directory that stands for c:\ (empty: current directory)
    const std::string& folder;            // c:\images\zone1\ .
    const std::vector<data_file>& names;  // entry k (1..count) is the k-th point file; entry 0 unused
    int count;
    ReadingOptions reading = {};  // threads, block size and test seams of every reading

    // c:\images\zone1\a: the point file's path without its extension (.xyz or .las)
    std::string windows_stem(int m) const { return folder + names[static_cast<std::size_t>(m)].nombre; }
};

}  // namespace kestranov
