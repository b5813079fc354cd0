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

std::string console_text(const ReadError& e)
{
    const std::string& p = e.path;
    switch (e.fault) {
        case ReadFault::cannot_be_read:
            return file_cannot_be_read(p);
        case ReadFault::unknown:
            return file_unknown(p, e.first_reading);
        case ReadFault::not_regular:
            return file_not_regular(p);
        case ReadFault::refused:
            return file_refused(p, e.reason);
        case ReadFault::not_a_number:
            return record_not_a_number(p, e.record, e.token, e.not_finite);
        case ReadFault::record_short:
            return record_short(p, e.record);
        case ReadFault::beyond_double:
            return point_beyond_double(p, static_cast<std::uint64_t>(e.record));
        case ReadFault::points_missing:
            return points_missing(p, e.record, e.expected);
        case ReadFault::las_records_too_short:
            return las_records_too_short(p, static_cast<std::size_t>(e.bytes), static_cast<std::size_t>(e.needed));
        case ReadFault::las_records_after_points:
            return las_records_after_points(p, static_cast<std::uint64_t>(e.record), e.expected);
        case ReadFault::laz_table_beyond_end:
            return laz_table_beyond_end(p, e.bytes, e.at);
        case ReadFault::laz_table_cut:
            return laz_table_cut(p, e.at);
        case ReadFault::laz_table_pointer_lost:
            return laz_table_pointer_lost(p, e.pointer, e.bytes);
        case ReadFault::replaced:
            return file_replaced(p);
        case ReadFault::reads_otherwise:
            return file_reads_otherwise(p);
        case ReadFault::las_header_changed:
            return las_header_changed(p, e.field, e.now, e.first);
        case ReadFault::record_count_changed:
            return record_count_changed(p, e.record, static_cast<long long>(e.expected));
    }
    return unexpected_failure("a reading failed");
}

long long read_console_file(std::ostream& out, const PointFiles& files, int m, const PointSink& sink, SeenFile& seen,
                            Wanted wanted)
{
    ConsoleReading lines(out);
    try {
        return read_point_file(lines, files, m, sink, seen, wanted);
    } catch (const ReadError& e) {
        fail(console_text(e));
    }
}

Extents console_extent_pass(std::ostream& out, const PointFiles& files, SeenFiles& seen, Wanted wanted)
{
    ConsoleReading lines(out);
    ExtentReading found;
    try {
        found = extent_pass(lines, files, seen, wanted);
    } catch (const ReadError& e) {
        fail(console_text(e));
    }
    show_first_total(out, found.records);
    if (!found.range.any()) fail(no_point_at_all());
    return found.range.extents();
}

}  // namespace kestranov
