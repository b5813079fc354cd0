#pragma once
// The point files a command line names: files as given, folders as every
// point file directly inside them, in name order. A file that cannot be
// read is refused here, before any reading, whether named or found in a
// folder: a folder's entries may be skipped instead (--skip-unreadable).

#include <stdexcept>
#include <string>
#include <vector>

#include "core/point_filter.h"

namespace kestranov::gridder {

struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Whether `name` ends in .xyz, .las or .laz, in any case.
bool is_point_file_name(const std::string& name);
// Whether the file is text (.xyz): it holds no classes nor returns.
bool is_text_point_file(const std::string& name);

// Throws InputError naming the first text file of `paths` when the filter
// is active: text holds no classes nor returns to filter by.
void refuse_filtered_text(const PointFilter& filter, const std::vector<std::string>& paths);

// Why the point file at `path` cannot be read ("" when it can): its name
// missing, a link to nothing, not a regular file, refused by
// the system. Never waits on a FIFO.
std::string why_unreadable(const std::string& path);

struct InputList {
    std::vector<std::string> files;
    std::vector<std::string> skipped;  // "path: why", of folders' entries
};

// Throws InputError naming the input that is missing, not a point file, a
// folder that holds none, or a file that cannot be read, a folder's entry
// too (one whose name is a point file's); with `skip_unreadable`, such an
// entry of a folder is left out, in `skipped`.
InputList point_files(const std::vector<std::string>& inputs, bool skip_unreadable);

}  // namespace kestranov::gridder
