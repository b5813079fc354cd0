// The raster descriptor: the text that tells a reader of the raster image
// its rows, columns, bytes per cell, scaled elevation range, cell size,
// corners and return selection.
#pragma once

#include <string>

#include "core/extents.h"

namespace kestranov {

struct DescriptorInfo {
    int nb_lig, nb_col;
    int itype;  // 0: 16 bits, 1: 32 bits
    double coef;
    double pix_size;
    Extents e;
    int retorno;
};

// The descriptor's text, "\n" line ends (CR LF in the file).
std::string descriptor_text(const DescriptorInfo& d);

}  // namespace kestranov
