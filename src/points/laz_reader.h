// Point files in LAZ, LAS compressed by LASzip: the LAS header and its
// variable-length records as in LAS, among them the LASzip VLR that says how
// the points were compressed; then the points in chunks compressed one by
// one, found through the chunk table. X, Y and Z are scaled as the LAS
// reader scales them, so that a DEM from a LAZ file is byte for byte the DEM
// from the same points as LAS.
#pragma once

#include "platform/input_file.h"
#include "points/las_header.h"
#include "points/record_batch.h"

namespace kestranov {

// Reads the points of `f`, whose header `h` marks them compressed, into
// `batch`, decoding the chunks on up to `threads` threads (the points still
// come in file order). A missing or unknown LASzip VLR, one that does not
// fit the header, a chunk table that no file can have, a file cut short and
// a chunk whose compressed data ends early end the run naming the file.
void read_laz(InputFile& f, const LasHeader& h, RecordBatch& batch, int threads);

}  // namespace kestranov
