// The raster image: the model's cells as integers of 1/coef metre, 16-bit
// unsigned (itype 0, each value modulo 65536) or 32-bit signed (itype 1),
// little-endian, row by row from the north, no header. Their bytes per cell
// are raster_bytes (core/model_files.h), which the readers take too.
#pragma once

#include <cstdint>

#include "core/extents.h"
#include "core/grid_view.h"
#include "platform/output_file.h"

namespace kestranov {

// Writes the image of `grid` to `file`, scaled a slice at a time: no second
// grid is held, and a model without rows or columns writes nothing.
void write_raw_image(OutputFile& file, GridView grid, int itype, double coef);

// The smallest and largest scaled value either raster file would carry: the
// cloud's extents (the descriptor's numbers) and every written cell (a mean
// can differ from the extremes in its last bit).
struct ScaledRange {
    std::int64_t lo, hi;
};
ScaledRange scaled_range(GridView grid, const Extents& e, double coef);

}  // namespace kestranov
