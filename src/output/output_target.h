// Where an output goes, and the messages of an output file that could not
// be made. The console names a file by its Windows path; the file itself
// is opened under the path it maps to.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/fatal.h"
#include "core/messages.h"
#include "platform/output_file.h"

namespace kestranov {

// A file the run reads (a point file), which no output may replace.
struct KeptFile {
    FileIdentity id;
    std::string shown;
};

struct OutputTarget {
    std::filesystem::path host;                   // where the file is written
    std::string shown;                            // its Windows path (c:\images\zone1\...), as the console names it
    const std::vector<KeptFile>* keep = nullptr;  // files it must not replace
};

// Ends the run unless `file` could be created and replaces none of the
// files to keep: a DEM name that is a link to a point file would otherwise
// overwrite the points with the grid.
inline void require_created(const OutputFile& file, const OutputTarget& target)
{
    if (!file.opened()) fail(output_cannot_be_created(target.shown));
    if (!target.keep) return;
    for (const KeptFile& input : *target.keep)
        if (file.would_replace(input.id)) fail(output_is_point_file(target.shown, input.shown));
}

[[noreturn]] inline void write_failed(const std::string& windows_path) { fail(output_not_complete(windows_path)); }

// The file was written whole but could not replace the file of its name
// (a folder of that name, a file that may not be replaced): the new output
// is dropped and whatever was there before is left as it was.
[[noreturn]] inline void place_failed(const std::string& windows_path) { fail(output_not_in_place(windows_path)); }

}  // namespace kestranov
