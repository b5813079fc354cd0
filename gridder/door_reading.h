#pragma once
// The command's side of the program's reading door: the files named on the
// command line read through it, with the command's progress, and the
// coordinate system their LAS and LAZ records hold.

#include <string>
#include <vector>

#include "core/point_files.h"
#include "gridder/crs.h"
#include "gridder/grid_options.h"
#include "gridder/progress.h"
#include "output/output_target.h"
#include "points/point_reader.h"
#include "points/reading_events.h"

namespace kestranov::gridder {

// The point files as the door takes them: each name is a path as typed,
// from the current directory.
PointFiles door_files(const std::vector<std::string>& paths, const ReadingOptions& reading);

// What the reading tells, as the command's progress: file k of n, named as
// typed, and the records of every file so far.
class DoorProgress : public ReadingEvents {
public:
    DoorProgress(Progress& progress, const PointFiles& files) : progress_(&progress), files_(&files) {}
    void file_opened(int index, const std::string& path) override;
    void records_read(long long records, double part) override;
    void file_read(int index, long long records) override;

private:
    Progress* progress_;
    const PointFiles* files_;
    long long before_ = 0;  // the records of the files read before
};

// --threads (every core by default) and the filters.
ReadingOptions reading_of(const GridOptions& options);

// One reading of every file: each record the filter keeps goes to `sink`.
// Returns the records read, kept or not.
long long read_all(ReadingEvents& events, const PointFiles& files, SeenFiles& seen, Wanted wanted,
                   const PointSink& sink);

// The files read, which no output may replace.
std::vector<KeptFile> inputs_of(const SeenFiles& seen);

struct CrsChoice {
    std::optional<Crs> crs;
    bool typed = false;                    // from --srs
    std::vector<std::string> without_crs;  // files that hold none
    std::vector<std::string> unreadable;   // files whose records GDAL cannot read
    std::string unreadable_why;            // of the first of them
};

// The files' coordinate system, or --srs over it (the files' records then
// unread): one system for them all. A file whose records GDAL cannot read
// counts as one without a system, in `unreadable`: a damaged record says
// nothing of the points, and the other files' system holds for them.
// Throws CrsError naming a file whose system no grid can be laid in, or two
// files whose systems differ.
CrsChoice choose_crs(const GridOptions& options, const SeenFiles& seen);

// What the summary says when no system is known: why, and how to give one.
std::string why_no_crs(const CrsChoice& choice);
// The line on standard error for files whose records cannot be read (empty
// when there is none): what became of them in `outputs` ("the DEM").
std::string unreadable_warning(const CrsChoice& choice, const std::string& outputs);
// The summary's note when some files' records cannot be read and the
// others' system is taken (empty otherwise).
std::string unreadable_note(const CrsChoice& choice);

}  // namespace kestranov::gridder
