#pragma once
// kestranov-export's command line: the model read, the GeoTIFF written,
// every failure one line on stderr with exit status 1.

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace kestranov::exporter {

std::string usage_text();

// The whole program; returns the exit status.
int run_export(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kestranov::exporter
