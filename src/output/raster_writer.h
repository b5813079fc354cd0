#pragma once

#include <string>

struct RunState;

// The raster branch of the output dialogue: raster type, hypsometric scale,
// then the image and its descriptor. A type and scale that would lose
// elevations are refused and asked again.
void raster_branch(RunState& st);

// The descriptor's text, "\n" line ends (CR LF in the file).
std::string descriptor_text(const RunState& st);
