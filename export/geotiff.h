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
// models::ModelError naming `name` (the file to be written) when GDAL refuses
// the grid or the code, or an elevation does not fit a Float32.
std::vector<unsigned char> encode_geotiff(const models::ElevationGrid& grid, std::optional<int> epsg,
                                          const std::string& name);

}  // namespace kestranov::exporter
