#pragma once
// --like-console: the console program's own model, through its own steps
// (the extent pass, its cell mapping from Xmin and Ymax, the sweep that
// fills the pits, the density check, its ASCII grid with "%lf" and CR LF),
// so that one engine serves both front ends and an .asc output is the
// console's file byte for byte.

#include <string>
#include <vector>

#include "gridder/grid_options.h"
#include "gridder/grid_run.h"

namespace kestranov::gridder {

GridReport console_grid(const GridOptions& options, const std::vector<std::string>& files);

}  // namespace kestranov::gridder
