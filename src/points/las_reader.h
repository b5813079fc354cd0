// Point files in the ASPRS LAS format, versions 1.0 to 1.4, point data
// formats 0 to 10, uncompressed. Every record starts with X, Y and Z as
// little-endian 32-bit integers, to be scaled and offset by the header's
// factors; the rest of a record (and the variable-length records before
// the points) is not needed.
#pragma once

#include "points/point_decoder.h"

namespace kestranov {

// Reads the points of `f` (opened in binary mode, at its start) into
// `batch`. A header that no LAS file has, or a file holding more whole
// records than its header announces where nothing may follow the points,
// ends the run naming the file; a file holding fewer is cut. `first.las`
// empty (the first reading) takes the header; set, a header that differs
// from it ends the run as a file changed during the run. The door gives it
// no compressed (LAZ) file: those go to the LAZ row.
InputEnd read_las(InputFile& f, RecordBatch& batch, const ReadingOptions& options, const ReadingSeams& seams,
                  FirstReading& first);

}  // namespace kestranov
