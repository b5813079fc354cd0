// Point files as text: decimal numbers separated by white space, taken three
// at a time as X Y Z, read in large blocks (on several threads on request).
#pragma once

#include <cstddef>

#include "platform/input_file.h"
#include "points/record_batch.h"

namespace kestranov {

// Reads the whole text of `f3` into `batch`. Text that is not a finite
// number ends the run naming the file and the record. Returns false when
// the text ends inside a record: the caller first checks that the file did
// not change meanwhile, then calls short_last_record.
bool read_text(InputFile& f3, RecordBatch& batch, int threads);
[[noreturn]] void short_last_record(const RecordBatch& batch);

// Test seam: the size of the blocks a file is read in (0: the usual 4 MiB),
// so that a small file crosses many block boundaries.
void point_reader_set_block_size(std::size_t bytes);

// The block size in use (the LAS reader reads in blocks of the same size).
std::size_t point_block_size();

}  // namespace kestranov
