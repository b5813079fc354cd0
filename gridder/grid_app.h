#pragma once
// kestranov-grid: DEMs from point files on a true lattice, with gaps as
// nodata, class and return filters and the files' coordinate system.

#include <ostream>
#include <string>
#include <vector>

namespace kestranov::gridder {

// The whole command; returns its exit status: 0 done, 1 failed (one line
// on `err`, nothing written), 2 a malformed command line. `terminal`: `err`
// is a terminal, where progress is shown.
int run_grid(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal);

}  // namespace kestranov::gridder
