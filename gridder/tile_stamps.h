#pragma once
// What a plan saw of each input file (its size and modification time, in
// nanoseconds), written into each job's line, and the job's check that the
// file is still the one planned: a file rewritten, replaced or swapped with
// another between the plan and its jobs would otherwise be gridded as it
// now is, in some tiles and not in others.

#include <optional>
#include <string>
#include <vector>

#include "gridder/grid_options.h"

namespace kestranov::gridder {

using FileStamp = GridOptions::FileStamp;

// The file's stamp now; nothing, errno set, when it cannot be read.
std::optional<FileStamp> stamp_of(const std::string& path);

// As --stamps takes them: SIZE:NANOSECONDS, comma-separated, in the order of the files.
std::string stamps_text(const std::vector<FileStamp>& stamps);

// A job's files (options.inputs) against its --stamps: an InputError naming
// the first file whose size or modification time is not the plan's.
void check_planned_files(const GridOptions& options);

}  // namespace kestranov::gridder
