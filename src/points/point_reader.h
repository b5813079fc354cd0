// The one door to the point files: a name typed in the dialogue is read as
// <name>.xyz (text) or, when there is no such file, as <name>.las (LAS, or
// LAZ when its header says so), or else as <name>.laz, streamed in large
// blocks and handed on in batches, never held whole.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "core/point_files.h"
#include "platform/file_identity.h"
#include "points/record_batch.h"

namespace kestranov {

// A point file as a reading found it.
struct SeenFile {
    std::string path;                      // the file read, as the console names it
    std::optional<FileIdentity> identity;  // the file itself, from its first reading
    std::optional<long long> records;      // its records, from its first reading
};
// Entry m for point file m (entry 0 unused).
using SeenFiles = std::vector<SeenFile>;

// Reads point file m (1..count) of `files`: prints its name line and a
// progress line every 100000 records on `out`, and hands the records to
// `sink` in file order; returns how many there were. `seen.path` is set to
// the file read before any record is handed on. With `seen.identity`
// empty, it is filled now (the first reading); set, a file that is not that
// one any more, that changes while it is read, or that holds another number
// of records, ends the run. A name with
// no file, a file that is not a regular file and
// every fault of the file's content end the run naming the file.
// `extents_only`: the sink takes only the range of the points (the extent
// pass), which a LAS file may hand on as two corners per run of records.
long long read_point_file(std::ostream& out, const PointFiles& files, int m, const PointSink& sink, SeenFile& seen,
                          bool extents_only = false);

}  // namespace kestranov
