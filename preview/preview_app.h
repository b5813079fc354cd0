#pragma once
// Command-line front end: argument handling, choosing the reader, and turning
// every failure into one line on stderr with exit status 1.

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "models/companion_cli.h"

namespace kestranov::preview {

using models::input_kind;
using models::InputKind;
using models::Options;
using models::parse_arguments;
using models::scale_unit;
using models::ScaleUnit;
using models::UsageError;

std::string usage_text();

// FILE with its extension replaced by .png.
std::filesystem::path default_output(const std::filesystem::path& input);

// The whole program; returns the exit status.
int run_preview(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kestranov::preview
