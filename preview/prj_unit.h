#pragma once
// The unit of a model's elevations where a coordinate system names it: a
// .prj beside the model (as kestranov-grid writes one beside its ESRI grids)
// or a GeoTIFF's own system; read through GDAL where the preview is built
// with it.

#include <filesystem>
#include <optional>

#include "export/linear_unit.h"

#ifdef KESTRANOV_PREVIEW_GDAL
class OGRSpatialReference;
#endif

namespace kestranov::preview {

// Nothing when there is no .prj, when GDAL cannot read it, or when the
// preview was built without GDAL.
std::optional<exporter::LinearUnit> unit_beside(const std::filesystem::path& model);

#ifdef KESTRANOV_PREVIEW_GDAL
// A projected system's linear unit; none (empty names) for a geographic
// one, whose degrees are no unit of height.
exporter::LinearUnit unit_of_system(const OGRSpatialReference& srs);
#endif

}  // namespace kestranov::preview
