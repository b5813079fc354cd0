// Which vector unit the point reading and the cell placing use: the widest
// this processor has (AVX-512 with VBMI, AVX2, else plain scalar code),
// chosen once at run time, or the one KESTRANOV_SIMD names when the
// processor has it. Every path gives the same values; only speed differs.
#pragma once

#include <optional>

#include "core/reading_options.h"

namespace kestranov {

bool vector_path_available(VectorPath path);
// The path of a reading: `wanted` when the processor has it, else the one
// chosen for this processor.
VectorPath vector_path(std::optional<VectorPath> wanted = std::nullopt);
const char* vector_path_name(VectorPath path);

}  // namespace kestranov
