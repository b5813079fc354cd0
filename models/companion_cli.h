#pragma once
// What both companions take on their command line: one model file, the unit
// of a raster image's integers, where to write; and how a model file is told
// by its name.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "models/argument_scanner.h"

namespace kestranov::models {

struct ScaleUnit {
    std::string name;  // "m", "dm", "cm" or "mm"
    double divisor;    // stored value / divisor = metres
    int decimals;      // digits after the point that the unit can actually resolve
};

std::optional<ScaleUnit> scale_unit(const std::string& name);

struct Options {
    std::filesystem::path input;
    std::optional<std::filesystem::path> output;
    std::optional<ScaleUnit> scale;
    std::optional<int> epsg;  // only where the companion takes --epsg
    bool help = false, version = false;
};

// `args` excludes the program name; `takes_epsg` admits --epsg CODE. Throws
// UsageError for anything malformed.
Options parse_arguments(const std::vector<std::string>& args, bool takes_epsg = false);

enum class InputKind { ascii_grid, raw_image };

// Decided by extension: .asc, or .raw / its .txt descriptor.
std::optional<InputKind> input_kind(const std::filesystem::path& input);

// Where a companion writes: -o, or the input with its extension replaced by
// `extension` (".png", ".tif").
std::filesystem::path output_for(const Options& opt, const char* extension);

// Whether two names reach one file (links and "." followed).
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace kestranov::models
