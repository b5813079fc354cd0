#pragma once

#include <string>

struct RunState;

// The six header lines, CR LF ended, of the ASCII grid.
std::string asc_header(const RunState& st);

// Writes the ASCII grid to nomim4: the header, then every cell of the model
// with "%lf" and a tab, north to south and west to east, on one line.
void write_asc(RunState& st);
