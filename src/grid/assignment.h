#pragma once

#include "core/extents.h"
#include "core/grid_view.h"
#include "core/point_files.h"
#include "points/extent_pass.h"
#include "points/point_reader.h"
#include "points/reading_events.h"

namespace kestranov {

// The second reading of every point file: each point into its cell of
// `grid`, keeping the highest elevation of the cell for the first return
// (retorno 0) and the lowest for the last return (any other retorno). Ties
// change nothing, so the result does not depend on the order of the points
// or of the files. `seen` and `e` are the files and the extents of the first
// reading: another file, or a point beyond them, stops the run (its file
// changed in between). The grids of `grid` have the nb_lig + 2 rows of
// nb_col + 2 cells that allocate_grids gives; afterwards every flag of
// tab_util says whether its cell got a point, and a cell without one holds
// 0.0, whatever the grids held before.
// A LAZ file whose first reading took its range from its header is held to
// it instead: its points beyond `e` are left out, and the result is false
// if any such header gave other bounds than its points' own (the grid is
// then not the points' one, and the caller reads again over the extents
// `gathered`, where given, found of every point).
bool assignment_pass(ReadingEvents& events, const PointFiles& files, const SeenFiles& seen, const Extents& e,
                     double pix_size, int retorno, GridView grid, ExtentTally* gathered = nullptr);

}  // namespace kestranov
