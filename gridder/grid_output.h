#pragma once
// Where a grid goes: a GeoTIFF encoded whole in memory, then written
// through the program's output file (it appears only when complete, and
// never over a point file the run read); or an ESRI ASCII grid with its .prj.

#include <string>
#include <vector>

#include "export/band_cells.h"
#include "grid/lattice.h"
#include "grid/lattice_grid.h"
#include "gridder/grid_options.h"
#include "gridder/grid_run.h"
#include "output/output_target.h"

namespace kestranov::gridder {

void write_bytes(const std::string& path, const std::vector<unsigned char>& bytes, const std::vector<KeptFile>& inputs);

// Throws InputError when the folder `output` goes into is missing or no
// folder: one line before any point is read, not at the end of the run.
void require_output_folder(const std::string& output);

// An ASCII grid takes away an older grid's .prj beside it (.prj or .PRJ,
// as GDAL reads either), once it is in place (GDAL's drivers do the same
// with a dataset's side files): without a system, that grid's would be
// read as this one's; with one, a .PRJ would stand beside its .prj.
// Returns the removed names, or "". `tin`: the TIN band's values (row by
// row from the north, NaN where nodata), at its place among the
// statistics' bands, when --output-type names tin. `grid`: the
// statistics' cells on `lattice`, none when the tin band is all there is.
// `gathered`: what was gathered of each statistic's cells for a GeoTIFF
// (export/band_cells.h), in their order; none: the encoder reads them.
std::string write_lattice_grid(const GridOptions& options, const Lattice& lattice, const LatticeGrid* grid,
                               const GridReport& report, const std::vector<KeptFile>& inputs,
                               const std::vector<double>& tin, const std::vector<exporter::BandCells>& gathered);

}  // namespace kestranov::gridder
