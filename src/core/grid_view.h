// What the gridding steps and the writers see of the cell grids: the model
// of nb_lig rows and nb_col columns, without owning anything.
#pragma once

namespace kestranov {

// Occupancy flags of tab_util. A filled pit is marked too, so that tab_util
// stays the one record of which cells hold a value.
constexpr unsigned char cell_empty = 255;
constexpr unsigned char cell_hit = 1;
constexpr unsigned char cell_filled = 2;

struct GridView {
    double* const* dtab;             // elevations in metres
    unsigned char* const* tab_util;  // occupancy flags (null where a step needs none)
    int nb_lig;
    int nb_col;
};

}  // namespace kestranov
