// The output dialogue: the model's name and format, and for a raster its
// type and hypsometric scale; then the one output chosen is written.
#pragma once

#include <vector>

#include "output/output_target.h"

namespace kestranov {

struct RunState;

// Asks for the DEM's name (nomfic1) and the format, then writes the ASCII
// grid (nomim4 ends as its path) or the raster image (nomim4) and its
// descriptor (nomdescr4). No output may replace one of the `inputs`.
void saving(RunState& st, const std::vector<KeptFile>& inputs = {});

}  // namespace kestranov
