// Point files in LAZ, LAS compressed by LASzip: the LAS header and its
// variable-length records as in LAS, among them the LASzip VLR that says how
// the points were compressed; then the points in chunks compressed one by
// one, found through the chunk table. X, Y and Z are scaled as the LAS
// reader scales them, so that a DEM from a LAZ file is byte for byte the DEM
// from the same points as LAS.
#pragma once

#include "core/reading_options.h"
#include "platform/input_file.h"
#include "points/point_decoder.h"
#include "points/record_batch.h"

namespace kestranov {

// Reads the points of `f` (opened at its start, its header marking them
// compressed) into `batch`, decoding the chunks on up to `options.threads`
// threads (the points still come in file order). A missing or unknown
// LASzip VLR, one that does not fit the header, a chunk table that no file
// can have and a chunk whose compressed data ends early end the run naming
// the file; a file cut inside its chunks is told as its end, for the door to
// report once it knows the file did not change. `first` holds the header of
// the first reading, as for LAS.
InputEnd read_laz(InputFile& f, RecordBatch& batch, const ReadingOptions& options, const ReadingSeams& seams,
                  FirstReading& first);

}  // namespace kestranov
