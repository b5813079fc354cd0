#pragma once

#include <string>

#include "core/extents.h"
#include "core/grid_view.h"
#include "output/output_target.h"

namespace kestranov {

// The six header lines, "\n" ended (CR LF in the file), of the ASCII grid.
std::string asc_header(GridView grid, const Extents& e, double pix_size);

// Writes the ASCII grid: the header, then every cell of the model with
// "%lf" and a tab, north to south and west to east, on one line, its text
// made on up to two of `threads` threads (the same bytes on any number).
// Complete or not at all; a failure ends the run naming the file.
void write_asc(const OutputTarget& target, GridView grid, const Extents& e, double pix_size, int threads = 1);

}  // namespace kestranov
