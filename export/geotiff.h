#pragma once
// The model as a Cloud Optimized GeoTIFF, through GDAL: one Float32 band of
// elevations in metres, tiled, DEFLATE with the floating-point predictor,
// with overviews.

#include <optional>
#include <string>
#include <vector>

#include "models/elevation_grid.h"

namespace kestranov::exporter {

// The whole file's bytes. `grid` must be in metres and carry its corner;
// `epsg` is written as the coordinate system when given. Throws
// models::ModelError naming `input` (the model file the grid was read from:
// the fault is in its content, not in the file to be written) when GDAL
// refuses the grid or the code, runs out of memory, or an elevation does not
// fit a Float32.
std::vector<unsigned char> encode_geotiff(const models::ElevationGrid& grid, std::optional<int> epsg,
                                          const std::string& input);

}  // namespace kestranov::exporter
