#pragma once
// Writes the preview as an 8-bit RGB PNG without ever leaving a partial file.

#include <filesystem>

#include "preview/image.h"

namespace kestranov::preview {

// Writes to a temporary name beside `out` and renames it into place only once the
// whole file is on disk; on any failure the temporary is removed and a
// ModelError naming `out` is thrown. An existing `out` is replaced on success.
void write_png(const std::filesystem::path& out, const RgbImage& image);

}  // namespace kestranov::preview
