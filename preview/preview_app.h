#pragma once
// Command-line front end: argument handling, choosing the reader, and turning
// every failure into one line on stderr with exit status 1.

#include <filesystem>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestranov::preview {

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
    bool help = false;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `args` excludes the program name. Throws UsageError for anything malformed.
Options parse_arguments(const std::vector<std::string>& args);

std::string usage_text();

enum class InputKind { ascii_grid, raw_image };

// Decided by extension: .asc, or .raw / its .txt descriptor.
std::optional<InputKind> input_kind(const std::filesystem::path& input);

// FILE with its extension replaced by .png.
std::filesystem::path default_output(const std::filesystem::path& input);

// The whole program; returns the exit status.
int run_preview(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kestranov::preview
