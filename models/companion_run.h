#pragma once
// The frame both companions run in: the command line read, each failure told
// in one line on stderr (status 1, or 2 for a usage error), warnings shown
// once the work is done.

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "models/companion_cli.h"

namespace kestranov::models {

// `text` kept to one printable line: control bytes (a line feed in a file
// name, an escape sequence) and the UTF-8 C1 controls become '?'.
std::string one_line(std::string text);

// The companion's work on its options: writes its success line on `out`
// (through one_line) and adds "warning: ..." or "note: ..." lines to
// `notices`; throws ModelError (or bad_alloc) on failure.
using CompanionWork = std::function<void(const Options&, std::ostream& out, std::vector<std::string>& notices)>;

// Returns the exit status: 0 after the work, or after --help (the usage) or
// --version (the program and the project's version) on `out` without it; 2
// after a usage error, 1 after a failure (one line each; the notices of a
// failed run are not shown).
int run_companion(const char* program, const std::string& usage, bool takes_epsg, const std::vector<std::string>& args,
                  std::ostream& out, std::ostream& err, const CompanionWork& work);

}  // namespace kestranov::models
