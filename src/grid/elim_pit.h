#pragma once

#include "core/grid_view.h"

namespace kestranov {

// One sweep that gives every pit of the model (a cell into which no point
// fell) the mean of its neighbours that hold a value, in nine passes: the
// four corners, the first and last rows, the first and last columns, then
// the interior row by row. A pit filled earlier in the sweep counts as a
// neighbour for the cells visited after it; a pit without such a neighbour
// when it is visited stays empty. A mean beyond the range of a double
// (neighbours near the largest double) ends the run naming the cell.
void elim_pit(GridView grid);

// Cells of the model (rows 0..nb_lig-1, columns 0..nb_col-1) that hold no value.
long long count_pits(GridView grid);

// Ends the run when pits are left after elim_pit: the cloud is too sparse
// for cells of `pix_size`.
void check_density(GridView grid, double pix_size);

}  // namespace kestranov
