// Point files in the ASPRS LAS format, versions 1.0 to 1.4, point data
// formats 0 to 10, uncompressed. Every record starts with X, Y and Z as
// little-endian 32-bit integers, to be scaled and offset by the header's
// factors; the rest of a record (and the variable-length records before
// the points) is not needed.
#pragma once

#include <cstdint>

#include "platform/input_file.h"
#include "points/record_batch.h"

namespace kestranov {

// Reads the points of `f` (opened in binary mode, at its start) into
// `batch`. A header that no LAS file has and a file holding fewer points
// than its header announces end the run naming the file. The compression
// bits of the point format are not looked at: a compressed file is the LAZ
// reader's.
void read_las(InputFile& f, RecordBatch& batch);

}  // namespace kestranov
