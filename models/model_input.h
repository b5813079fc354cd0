#pragma once
// One model file of any of the program's formats, read for a companion.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "models/companion_cli.h"
#include "models/elevation_grid.h"

namespace kestranov::models {

struct Model {
    ElevationGrid grid;
    bool metres = true;  // false: a raster image's integers, unit not given
    // The unit the file itself names (a GeoTIFF's coordinate system: "m",
    // "ft"), empty when it names none. Unset for the program's own files,
    // whose unit is the rule above.
    std::optional<std::string> own_unit;
    std::vector<std::string> warnings;  // suspicious but usable
};

// A GeoTIFF (.tif or .tiff, any case) or a GDAL virtual raster (.vrt, as a
// tile plan's mosaic): read only through GDAL, which this library does not link (the gridder's GDAL module shares it),
// so the companion that reads one hands its reader to read_model.
bool geotiff_name(const std::filesystem::path& input);
using GeoTiffReader = std::function<Model(const std::filesystem::path&)>;

// Reads an ASCII grid, or a raster image with its descriptor (either name
// given), in metres when `scale` gives the image's unit; a GeoTIFF through
// `geotiff` when one is given (without one it is an unrecognised file). A
// scale given for an ASCII grid or a GDAL raster is ignored with a warning.
// Throws ModelError naming the file at fault, also when `output` would
// overwrite one of the model's files.
Model read_model(const std::filesystem::path& input, const std::optional<ScaleUnit>& scale,
                 const std::filesystem::path& output, const GeoTiffReader& geotiff = {});

}  // namespace kestranov::models
