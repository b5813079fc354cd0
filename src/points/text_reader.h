// Point files as text: decimal numbers separated by white space, taken three
// at a time as X Y Z, read in blocks from the block source, on this thread
// or, with more than one thread in the options, through the block pipeline.
#pragma once

#include "points/point_decoder.h"

namespace kestranov {

// Reads the whole text of `f` into `batch`. Text that is not a finite
// number ends the run naming the file and the record; a text that ends
// inside a record is a short record. A text keeps nothing of its first
// reading.
InputEnd read_text(InputFile& f, RecordBatch& batch, const ReadingOptions& options, const ReadingSeams& seams,
                   FirstReading& first);

}  // namespace kestranov
