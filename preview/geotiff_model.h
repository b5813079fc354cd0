#pragma once
// A GeoTIFF (kestranov-grid's, kestranov-export's or any other) or a VRT (a
// tile plan's mosaic) read for the preview through GDAL: its first band, its
// nodata cells empty, its unit from its coordinate system.

#include <cstdint>
#include <filesystem>

#include "models/model_input.h"

namespace kestranov::preview {

// `available_bytes` is the memory the grid may take (0: unknown, no limit).
// Throws models::ModelError naming `file` when GDAL cannot open it, when it
// has no band, when its band needs more memory than that, or when GDAL
// cannot read its cells; and, in a build without GDAL, for any GeoTIFF or VRT.
models::Model read_geotiff_model(const std::filesystem::path& file, std::uint64_t available_bytes);

}  // namespace kestranov::preview
