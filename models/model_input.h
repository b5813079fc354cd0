#pragma once
// One model file of any of the program's formats, read for a companion.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "models/companion_cli.h"
#include "models/elevation_grid.h"

namespace kestranov::models {

struct Model {
    ElevationGrid grid;
    bool metres = true;                 // false: a raster image's integers, unit not given
    std::vector<std::string> warnings;  // suspicious but usable
};

// Reads an ASCII grid, or a raster image with its descriptor (either name
// given), in metres when `scale` gives the image's unit. A scale given for an
// ASCII grid is ignored with a warning. Throws ModelError naming the file at
// fault, also when `output` would overwrite one of the model's files.
Model read_model(const std::filesystem::path& input, const std::optional<ScaleUnit>& scale,
                 const std::filesystem::path& output);

}  // namespace kestranov::models
