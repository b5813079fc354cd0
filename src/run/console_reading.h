// The console's side of the reading: the lines the console has always
// shown while it reads its point files (each file's name, a progress line
// every 100000 records, the first reading's total), made from what the
// reading tells.
#pragma once

#include <iosfwd>
#include <string>

#include "core/extents.h"
#include "core/point_files.h"
#include "points/point_reader.h"
#include "points/read_error.h"
#include "points/reading_events.h"

namespace kestranov {

class ConsoleReading : public ReadingEvents {
public:
    explicit ConsoleReading(std::ostream& out) : out_(&out) {}
    void file_opened(int index, const std::string& path) override;
    void records_read(long long records, double part) override;

private:
    std::ostream* out_;
};

// The first reading's total line.
void show_first_total(std::ostream& out, long long records);

// The console's text of a reading's failure.
std::string console_text(const ReadError& e);

// One reading of point file k (from 0) with the console's lines on `out`;
// a failure ends the run with its console text (Fatal).
long long read_console_file(std::ostream& out, const PointFiles& files, int m, const PointSink& sink, SeenFile& seen,
                            Wanted wanted = Wanted::points);

// The first reading of every point file, as the console shows it: the
// lines of each file, the total number of records; the run ends where the
// files hold no point, or with the console text of a reading's failure.
Extents console_extent_pass(std::ostream& out, const PointFiles& files, SeenFiles& seen,
                            Wanted wanted = Wanted::extents);

}  // namespace kestranov
