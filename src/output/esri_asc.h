// The ESRI ASCII grid of kestranov-grid, unlike the console's .asc: one line
// per row, LF line ends, every number in the shortest text that reads back
// as the same double, empty cells written as the nodata value; and, beside
// it, an optional .prj text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "grid/lattice.h"
#include "grid/lattice_grid.h"
#include "output/output_target.h"

namespace kestranov {

// The six header lines, each "\n"-ended: ncols, nrows, xllcorner (the
// lattice's xmin), yllcorner (its ymin), cellsize, NODATA_value.
std::string esri_asc_header(const Lattice& lattice, double nodata);

// Writes the grid's header and then its rows, north first, values
// separated by one space. Complete or not at all; a failure ends the run
// naming the file (fail, core/fatal.h), as does a nodata value or a cell
// value that is not finite, which the format cannot hold.
void write_esri_asc(const OutputTarget& asc, const LatticeGrid& grid, double nodata);

// The same, with `prj_text` written to `prj` as it is: the grid and its
// .prj take their places both or neither (an older pair is then left as it
// was), and neither is written when either cannot be created.
void write_esri_asc(const OutputTarget& asc, const OutputTarget& prj, std::string_view prj_text,
                    const LatticeGrid& grid, double nodata);

// The same for any band of `lattice`'s cells: `row(r)` gives the cols values
// of row r (north first), NaN where empty.
using AscRow = std::function<const double*(std::int64_t row)>;
void write_esri_asc(const OutputTarget& asc, const Lattice& lattice, const AscRow& row, double nodata);
void write_esri_asc(const OutputTarget& asc, const OutputTarget& prj, std::string_view prj_text, const Lattice& lattice,
                    const AscRow& row, double nodata);

// The .prj beside `asc`: its path and shown name with the extension
// replaced by .prj, or .prj added when it has none.
OutputTarget prj_beside(const OutputTarget& asc);

}  // namespace kestranov
