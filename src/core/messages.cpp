#include "core/messages.h"

#include <cmath>
#include <sstream>

#include "core/lf_text.h"
#include "core/shortest_text.h"

namespace kestranov {

namespace {

std::string file(const std::string& path) { return "\n\n\tFile " + path; }

std::string changed_during_the_run(const std::string& path) { return file(path) + " changed during the run"; }

}  // namespace

std::string file_cannot_be_read(const std::string& path) { return file(path) + " cannot be read\n"; }

std::string file_unknown(const std::string& path, bool first_reading)
{
    return std::string(first_reading ? "\n" : "\n\n") + "\tFile " + path + " unknown\n";
}

std::string file_not_regular(const std::string& path)
{
    return file(path) +
           " is not a regular file: a point file is read twice, so it cannot be a FIFO, a socket or a device\n";
}

std::string file_refused(const std::string& path, const std::string& why) { return file(path) + ": " + why + "\n"; }

std::string record_not_a_number(const std::string& path, long long record, const std::string& shown_token,
                                bool not_finite)
{
    return file(path) + ", record " + std::to_string(record) + ": \"" + shown_token + "\" is " +
           (not_finite ? "not a finite number\n" : "not a number\n");
}

std::string record_short(const std::string& path, long long record)
{
    return file(path) + ", record " + std::to_string(record) + " has fewer than three numbers\n";
}

std::string point_beyond_double(const std::string& path, std::uint64_t point)
{
    return file(path) + ", point " + std::to_string(point) +
           ": its scaled coordinates are beyond the range of a double\n";
}

std::string points_missing(const std::string& path, long long points, std::uint64_t announced)
{
    return file(path) + " ends after " + std::to_string(points) + " points, where its LAS header announces " +
           std::to_string(announced) + ": point " + std::to_string(points + 1) +
           " is missing (the file was cut, for example by an interrupted copy)\n";
}

std::string las_records_too_short(const std::string& path, std::size_t record_length, std::size_t needed)
{
    return file_refused(path, "its LAS point records of " + std::to_string(record_length) +
                                  " bytes are shorter than the " + std::to_string(needed) +
                                  " bytes that hold their classification and returns, by which its points are "
                                  "filtered");
}

std::string las_records_after_points(const std::string& path, std::uint64_t extra, std::uint64_t count)
{
    return file_refused(path, "its LAS header disagrees with the file, which holds " + std::to_string(extra) +
                                  " whole records after its announced " + std::to_string(count) + " points");
}

std::string laz_table_beyond_end(const std::string& path, std::uint64_t file_size, std::uint64_t table)
{
    return file(path) + " ends after " + std::to_string(file_size) + " bytes, before its LAZ chunk table at byte " +
           std::to_string(table) +
           ": none of its points can be found (the file was cut, for example by an interrupted copy, or the table's "
           "place is damaged)\n";
}

std::string laz_table_cut(const std::string& path, std::uint64_t table)
{
    return file_refused(path, "its LAZ chunk table, from byte " + std::to_string(table) +
                                  ", ends before its last entry: none of its points can be found (the file was "
                                  "cut, for example by an interrupted copy, or the table is damaged)");
}

std::string laz_table_pointer_lost(const std::string& path, std::int64_t pointer, std::uint64_t file_size)
{
    return file_refused(path,
                        "its LAZ chunk table pointer is -1, which leaves the table's place to the file's last 8 "
                        "bytes, but they give " +
                            std::to_string(pointer) + ", no place in its " + std::to_string(file_size) +
                            " bytes: none of its points can be found (the file was cut, for example by an "
                            "interrupted copy, or is damaged)");
}

std::string no_point_at_all() { return "\n\n\tThe point files hold no point: there is nothing to grid\n"; }

std::string file_changed(const std::string& path, const std::string& how)
{
    return changed_during_the_run(path) + ": " + how + "\n";
}

std::string file_replaced(const std::string& path)
{
    return file_changed(path, "it is no longer the file of the first reading (its size, date or identity differ)");
}

std::string file_reads_otherwise(const std::string& path)
{
    return file_changed(path, "it no longer reads as in the first reading, which found no fault in it");
}

std::string las_header_changed(const std::string& path, const std::string& field, const std::string& now,
                               const std::string& first)
{
    return file_changed(
        path, "its LAS header now gives the " + field + " " + now + ", where the first reading found " + first);
}

std::string record_count_changed(const std::string& path, long long now, long long first)
{
    return file_changed(path, "it now holds " + std::to_string(now) + " records, where the first reading counted " +
                                  std::to_string(first));
}

std::string point_outside_first_extents(const std::string& path, double x, double y, double z, bool show_z)
{
    return file_changed(path, "the point " + lf(x) + " " + lf(y) + (show_z ? " with the elevation " + lf(z) : "") +
                                  " lies outside the extents of the first reading");
}

std::string grid_too_large(double pix_size, long double rows, long double cols, const std::string& why)
{
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(0);
    text << "\n\n\tA pixel size of " << lf(pix_size) << " meter gives a grid of " << std::trunc(rows) << " rows and "
         << std::trunc(cols) << " columns: " << why << "\n";
    return text.str();
}

std::string grid_without_memory(int rows, int cols, double pix_size)
{
    return "\n\n\tNot enough memory for a grid of " + std::to_string(rows) + " rows and " + std::to_string(cols) +
           " columns at a pixel size of " + lf(pix_size) + " meter\n";
}

std::string mean_beyond_double(std::int64_t row, std::int64_t col)
{
    return "\n\n\tThe empty cell of row " + std::to_string(row) + ", column " + std::to_string(col) +
           " (counted from 0 at the north-west corner) would get the mean of its neighbours, whose sum is beyond the "
           "range of a double: their elevations are too large\n";
}

// The one failure without a closing line end, as the console has always shown it.
std::string density_too_low(double pix_size)
{
    return "\n\n\tDespite an attempt to eliminate the pits, the density "
           "\n\tof the point cloud is not enough to generate an MDE with "
           "\n\ta pixel size of " +
           lf(pix_size) + " meter ";
}

std::string output_cannot_be_created(const std::string& path)
{
    return "\n\n\tThe file " + path + " cannot be created\n";
}

std::string output_is_point_file(const std::string& path, const std::string& point_file)
{
    return "\n\n\tThe file " + path + " is the point file " + point_file +
           " (a link to it): writing it would destroy the points; nothing was written\n";
}

std::string output_not_complete(const std::string& path)
{
    return "\n\n\tThe file " + path + " could not be written completely; nothing was kept\n";
}

std::string output_not_in_place(const std::string& path)
{
    return "\n\n\tThe file " + path + " was written but could not take its place; nothing was kept\n";
}

std::string outputs_are_one_file(const std::string& path, const std::string& companion, const std::string& need)
{
    return "\n\n\tThe files " + path + " and " + companion + " are links to one and the same file: " + need + "\n";
}

std::string nodata_not_writable(double nodata, const std::string& path)
{
    return "\n\n\tThe nodata value " + shortest(nodata) + " cannot be written to the file " + path + "\n";
}

std::string cell_not_writable(double value, std::int64_t row, std::int64_t col, const std::string& path)
{
    return "\n\n\tThe cell of row " + std::to_string(row) + ", column " + std::to_string(col) +
           " from the north-west holds " + shortest(value) + ", which the file " + path +
           " cannot hold; nothing was kept\n";
}

std::string console_input_ended() { return "\n\n\tEnd of console input: the question above has no answer\n"; }

std::string unexpected_failure(const std::string& what) { return "\n\n\tUnexpected failure: " + what + "\n"; }

}  // namespace kestranov
