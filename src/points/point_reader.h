// The one door to the point files: a name typed in the dialogue is read as
// the first of <name>.xyz (text), <name>.las (LAS) and <name>.laz (LAZ)
// that exists, the extension matched without regard to case (a name that
// already ends in one of them is that file first), streamed in large blocks
// and handed on in batches, never held whole. Which decoder reads a file is
// one table in point_reader.cpp: extension, open mode, decoder or refusal.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/point_files.h"
#include "core/point_filter.h"
#include "platform/file_identity.h"
#include "points/point_decoder.h"
#include "points/reading_events.h"
#include "points/record_batch.h"

namespace kestranov {

// A point file as a reading found it.
struct SeenFile {
    std::string path;                      // the file read, as the console names it
    std::optional<FileIdentity> identity;  // the file itself, from its first reading
    std::optional<long long> records;      // its records, from its first reading
    FirstReading first;                    // what its decoder kept of its first reading
    FilterTally tally;                     // its records as the filter judged them, in the last reading
};
// Entry k for point file k (from 0).
using SeenFiles = std::vector<SeenFile>;

// Whether a first reading took a LAZ file's range from its header
// (Wanted::extents_or_header), and whether the second reading found
// every such header right.
bool bounds_from_headers(const SeenFiles& seen);
bool headers_held(const SeenFiles& seen);
// Whether a grid of `cells` over bounds taken from headers is one the
// files' records could fill: at most 8 cells a record, and a million more.
// A far larger one comes of a stale header (a tile cut from a survey that
// kept the survey's bounds), and would cost its memory for nothing.
bool fits_the_records(double cells, const SeenFiles& seen);

// Reads point file k (from 0) of `files`: tells `events` when it is open
// and the records read every 100000 records, and hands the records to
// `sink` in file order; returns how many there were. `seen.path` is set to
// the file read before any record is handed on. With `seen.identity`
// empty, it is filled now (the first reading); set, the name must still
// lead to that file: a file that is not that one any more (or another file
// the name now finds first), that changes while it is read, or that holds
// another number of records, ends the run. A name with
// no file, a file that is not a regular file, a compressed LAS file and
// every fault of the file's content end the run naming the file.
// `wanted`: whether the sink takes only the range of the points (the extent
// pass), which a LAS file may hand on as two corners per run of records, and
// a LAZ file take from its header.
// `files.reading` sets the threads, the block size and the test seams, and
// the filter: only the records it keeps reach `sink` (the count returned,
// the progress told and the checks against the first reading still count
// every record), `seen.tally` tells how it judged them, and a text file,
// which has nothing to filter by, ends the run.
long long read_point_file(ReadingEvents& events, const PointFiles& files, int k, const PointSink& sink, SeenFile& seen,
                          Wanted wanted = Wanted::points);

}  // namespace kestranov
