#pragma once
// The point files a command line names: files as given, folders as every
// point file directly inside them, in name order.

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

// Throws InputError naming the input that is missing, not a point file, or
// a folder that holds none.
std::vector<std::string> point_files(const std::vector<std::string>& inputs);

}  // namespace kestranov::gridder
