// The console texts of the failures, each written once. The code that finds
// a fault decides when to fail and hands the facts here; the wording lives
// in messages.cpp alone, so a change of wording is one edit there, and a
// text several readers share (a file that cannot be read, a file changed
// during the run) cannot drift apart between them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestranov {

// A point file, named as the console names it (c:\images\zone1\a.xyz).
std::string file_cannot_be_read(const std::string& path);
// `first_reading`: the file is looked for during the opening, right after
// the question that named it, one line lower than during the later readings.
std::string file_unknown(const std::string& path, bool first_reading);
std::string file_not_regular(const std::string& path);
// Whatever makes the file unfit to read: `why` opens in lower case.
std::string file_refused(const std::string& path, const std::string& why);
std::string record_not_a_number(const std::string& path, long long record, const std::string& shown_token,
                                bool not_finite);
std::string record_short(const std::string& path, long long record);
std::string point_beyond_double(const std::string& path, std::uint64_t point);
std::string points_missing(const std::string& path, long long points, std::uint64_t announced);
std::string las_records_too_short(const std::string& path, std::size_t record_length, std::size_t needed);
std::string las_records_after_points(const std::string& path, std::uint64_t extra, std::uint64_t count);
std::string laz_table_beyond_end(const std::string& path, std::uint64_t file_size, std::uint64_t table);
std::string laz_table_cut(const std::string& path, std::uint64_t table);
std::string laz_table_pointer_lost(const std::string& path, std::int64_t pointer, std::uint64_t file_size);
std::string no_point_at_all();

// A point file that differs from the one the first reading found.
std::string file_changed(const std::string& path, const std::string& how);
std::string file_replaced(const std::string& path);
std::string file_reads_otherwise(const std::string& path);
std::string las_header_changed(const std::string& path, const std::string& field, const std::string& now,
                               const std::string& first);
std::string record_count_changed(const std::string& path, long long now, long long first);
std::string point_outside_first_extents(const std::string& path, double x, double y, double z, bool show_z);

// The grid.
std::string grid_too_large(double pix_size, long double rows, long double cols, const std::string& why);
std::string grid_without_memory(int rows, int cols, double pix_size);
std::string mean_beyond_double(std::int64_t row, std::int64_t col);
std::string density_too_low(double pix_size);

// The outputs, named by their Windows paths.
std::string output_cannot_be_created(const std::string& path);
std::string output_is_point_file(const std::string& path, const std::string& point_file);
std::string output_not_complete(const std::string& path);
std::string output_not_in_place(const std::string& path);
std::string outputs_are_one_file(const std::string& path, const std::string& companion, const std::string& need);
std::string nodata_not_writable(double nodata, const std::string& path);
std::string cell_not_writable(double value, std::int64_t row, std::int64_t col, const std::string& path);

// The run.
std::string console_input_ended();
// A constant, not a maker: it is shown when nothing more can be allocated.
inline constexpr std::string_view memory_exhausted = "\n\n\tNot enough memory to go on\n";
std::string unexpected_failure(const std::string& what);

}  // namespace kestranov
