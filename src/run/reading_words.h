// The words for the codes of the reading library: why a point file is unfit
// to read, made from the reason and the facts it gives, and the names of the
// LAS header's fields. The one place they are written, for the console's
// lines and kestranov-grid's alike (both through console_text).
#pragma once

#include <string>

#include "points/read_error.h"

namespace kestranov {

// In lower case, to follow "File <name>: "; empty for no refusal.
std::string refusal_words(const Refusal& refusal);

// "offset to the points", "X scale factor".
const char* header_field_words(LasHeaderField field);

}  // namespace kestranov
