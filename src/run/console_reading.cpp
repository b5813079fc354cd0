#include "run/console_reading.h"

#include <ostream>

#include "core/fatal.h"
#include "core/messages.h"
#include "points/extent_pass.h"

namespace kestranov {

void ConsoleReading::file_opened(int index, const std::string& path)
{
    *out_ << "\n\n\tFile " << index + 1 << " Name : " << path << "\n\n";
    out_->flush();
}

void ConsoleReading::records_read(long long records, double /*part*/)
{
    *out_ << "\tregister " << records << "                    \r    ";
    out_->flush();
}

void show_first_total(std::ostream& out, long long records)
{
    out << "\n\n\tFirst Lecture "
        << "\n\n\t\tTotal number of registers = " << records << " \n";
}

long long read_console_file(std::ostream& out, const PointFiles& files, int m, const PointSink& sink, SeenFile& seen,
                            Wanted wanted)
{
    ConsoleReading lines(out);
    return read_point_file(lines, files, m, sink, seen, wanted);
}

Extents console_extent_pass(std::ostream& out, const PointFiles& files, SeenFiles& seen, Wanted wanted)
{
    ConsoleReading lines(out);
    const ExtentReading found = extent_pass(lines, files, seen, wanted);
    show_first_total(out, found.records);
    if (!found.range.any()) fail(no_point_at_all());
    return found.range.extents();
}

}  // namespace kestranov
