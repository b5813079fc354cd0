// Point files in the ASPRS LAS format, versions 1.0 to 1.4, point data
// formats 0 to 10, uncompressed. Every record starts with X, Y and Z as
// little-endian 32-bit integers, to be scaled and offset by the header's
// factors; the rest of a record (and the variable-length records before
// the points) is not needed.
#pragma once

#include <optional>

#include "platform/input_file.h"
#include "points/las_header.h"
#include "points/record_batch.h"

namespace kestranov {

// Reads the points of `f` (opened in binary mode, at its start) into
// `batch`. A header that no LAS file has, a compressed (LAZ) point format,
// a file holding fewer points than its header announces (or, where nothing
// may follow the points, more) end the run naming the file. `seen` empty
// (the first reading) takes the header; set, a header that differs from it
// ends the run as a file changed during the run.
void read_las(InputFile& f, RecordBatch& batch, std::optional<LasHeader>& seen);

}  // namespace kestranov
