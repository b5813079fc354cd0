#pragma once
// Reader for kestranov's raster images (16-bit or 32-bit cells) and their
// descriptors, named as src/core/model_files.h has it: <name> and
// image_suffix() for the image, descriptor_suffix() for the descriptor.

#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "models/elevation_grid.h"

namespace kestranov::models {

struct RawDescriptor {
    std::int64_t rows = 0;
    std::int64_t cols = 0;
    int bytes_per_cell = 0;  // raster16_bytes or raster32_bytes
    std::int64_t zmin = 0;   // scaled (integer) elevations, unit unknown to the file
    std::int64_t zmax = 0;
    double cellsize = 0.0;
    // The cloud's western and southern extents: the descriptor's "X min" and
    // "Y min", which the program widens by descriptor_margin, narrowed back. Unknown when
    // the descriptor has no such line.
    std::optional<double> xmin, ymin;
};

struct RawFiles {
    std::filesystem::path image;
    std::filesystem::path descriptor;
    int name_bytes = 0;  // the bytes per cell its "_m2" or "_m4" gives, 0 if the name does not say
};

struct RawGrid {
    ElevationGrid grid;  // elevations in stored (scaled integer) units
    RawDescriptor descriptor;
    std::vector<std::string> warnings;  // suspicious but drawable
};

// Works out image and descriptor names from either of the pair.
RawFiles raw_files_for(const std::filesystem::path& input);

// Narrows a corner the descriptor writes ("%lf" of an extent less descriptor_margin) back
// to the extent: in decimal, so that the result is the double whose "%lf"
// text the ASCII grid of the same run carries. Nothing when `text` is no number.
std::optional<double> narrowed_corner(std::string_view text);

// Parses the first six descriptor lines and the corner line; the rest (notes,
// return type) is ignored.
RawDescriptor parse_descriptor(std::istream& in, const std::string& name);

// 16-bit images keep each value modulo 65536; given the minimum that the
// descriptor records, the true value is the one in [zmin, zmin + 65535].
std::int64_t recover_16bit(std::uint16_t stored, std::int64_t zmin);

// Reads and cross-checks both files; throws ModelError naming the file at fault.
RawGrid read_raw(const std::filesystem::path& input);

}  // namespace kestranov::models
