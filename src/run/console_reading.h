// The console's side of the reading: the names the console gives its point
// files (c:\images\zone1\a, the folder and the name typed) and where they
// lie on this machine, and the lines the console has always shown while it
// reads them (each file's name, a progress line every 100000 records, the
// first reading's total) and its failure texts, made from what the reading
// tells.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/extents.h"
#include "core/point_files.h"
#include "points/point_reader.h"
#include "points/read_error.h"
#include "points/reading_events.h"

namespace kestranov {

struct RunState;

// The point files of a run as the console names them and as the reading
// finds them: file k is folder + names[k] (without extension) in the
// dialogue, files.path_of(k) under the directory that stands for c:\ .
struct ConsoleFiles {
    std::string folder;  // c:\images\zone1\ , held once
    std::vector<std::string> names;
    PointFiles files;
};

// `folder` (c:\images\zone1\) and the names typed in it, under `drive_root`
// (empty: the current directory).
ConsoleFiles console_files(const std::filesystem::path& drive_root, const std::string& folder,
                           const std::vector<std::string>& names, const ReadingOptions& reading = {},
                           const ReadingSeams& seams = {});
// The run's: nomgen and the names of files[1..numlay], its reading options and seams.
ConsoleFiles console_files(const RunState& st);

// The console's name of `found`, the file the reading found for point file
// k: the Windows name with the found file's ending.
std::string console_name(const ConsoleFiles& names, int k, const std::string& found);

class ConsoleReading : public ReadingEvents {
public:
    ConsoleReading(std::ostream& out, const ConsoleFiles& names) : out_(&out), names_(&names) {}
    void file_opened(int index, const std::string& path) override;
    void records_read(long long records, double part) override;

private:
    std::ostream* out_;
    const ConsoleFiles* names_;
};

// The first reading's total line.
void show_first_total(std::ostream& out, long long records);

// The console's text of a reading's failure, its file named by `names`
// (null: by its path).
std::string console_text(const ReadError& e, const ConsoleFiles* names = nullptr);

// One reading of point file k (from 0) with the console's lines on `out`;
// a failure ends the run with its console text (Fatal).
long long read_console_file(std::ostream& out, const ConsoleFiles& files, int k, const PointSink& sink, SeenFile& seen,
                            Wanted wanted = Wanted::points);

// The first reading of every point file, as the console shows it: the
// lines of each file, the total number of records; the run ends where the
// files hold no point, or with the console text of a reading's failure.
Extents console_extent_pass(std::ostream& out, const ConsoleFiles& files, SeenFiles& seen,
                            Wanted wanted = Wanted::extents);

}  // namespace kestranov
