#pragma once
// Reader for ESRI ASCII grids as kestranov writes them (<name> and asc_suffix(),
// src/core/model_files.h).

#include <filesystem>
#include <istream>
#include <string>

#include "models/elevation_grid.h"

namespace kestranov::models {

// Reads and validates a whole grid. Throws ModelError naming `file` when the
// file is missing, unreadable, malformed, truncated, or holds no cells.
ElevationGrid read_asc(const std::filesystem::path& file);

// Same parser on an already opened stream; `name` is only used in messages.
ElevationGrid parse_asc(std::istream& in, const std::string& name);

}  // namespace kestranov::models
