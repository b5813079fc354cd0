#pragma once

#include "core/grid_view.h"
#include "output/descriptor.h"
#include "output/output_target.h"

namespace kestranov {

// Writes the raster image of `grid` and its descriptor. Both files are
// created before either is written; the image and its descriptor describe
// each other, so both take their places or neither does (an older pair is
// then left as it was). A failure ends the run naming the file at fault.
void write_raster(const OutputTarget& image, const OutputTarget& descriptor, GridView grid, const DescriptorInfo& info);

}  // namespace kestranov
