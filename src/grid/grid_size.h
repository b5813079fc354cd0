#pragma once

struct RunState;

// nb_lig and nb_col from the extents and the cell size: the extended-precision
// quotients truncated toward zero. Refuses, before anything is allocated, a
// grid whose counts do not fit 32 bits or whose cells do not fit this
// machine's memory.
void size_grid(RunState& st);

// dtab and tab_util, nb_lig + 2 rows of nb_col + 2 cells each, cleared:
// every elevation 0.0, every cell without a point.
void allocate_grids(RunState& st);
