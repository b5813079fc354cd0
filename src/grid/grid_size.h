#pragma once

#include <cstdint>

#include "core/extents.h"
#include "core/matrix.h"

namespace kestranov {

struct GridSize {
    int nb_lig;
    int nb_col;
};

// nb_lig and nb_col from the extents and the cell size: the extended-precision
// quotients truncated toward zero. Refuses, before anything is allocated, a
// grid whose counts do not fit 32 bits or whose grids need more than the
// `available` bytes of memory (0: not known, not checked).
GridSize size_grid(const Extents& e, double pix_size, std::uint64_t available);

// dtab and tab_util, nb_lig + 2 rows of nb_col + 2 cells each, zero-filled:
// every elevation 0.0. The flags are left for assignment_pass, which sets
// all of them. `pix_size` only names the grid in the message when memory
// runs out.
struct CellGrids {
    Matrix<double> dtab;
    Matrix<unsigned char> tab_util;
};
CellGrids allocate_grids(GridSize size, double pix_size);

}  // namespace kestranov
