#pragma once
// The GDAL virtual mosaic of a tiles plan, written before any tile exists:
// the whole lattice's size and geotransform, the tiles' cell type, nodata
// and coordinate system, and each tile placed at its cells.

#include <string>

#include "gridder/grid_options.h"
#include "gridder/tile_plan.h"

namespace kestranov::gridder {

// The VRT's XML; its tiles are named relative to it (tiles/COL_ROW.tif), so
// that the folder can move as a whole.
std::string mosaic_vrt(const GridOptions& options, const TilePlan& plan);

}  // namespace kestranov::gridder
