#pragma once
// The unit of a model's elevations when a .prj lies beside it (as
// kestranov-grid writes one beside its ESRI grids): the coordinate system's
// linear unit, read through GDAL where the preview is built with it.

#include <filesystem>
#include <optional>

#include "export/linear_unit.h"

namespace kestranov::preview {

// Nothing when there is no .prj, when GDAL cannot read it, or when the
// preview was built without GDAL.
std::optional<exporter::LinearUnit> unit_beside(const std::filesystem::path& model);

}  // namespace kestranov::preview
