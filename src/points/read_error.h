// The one failure of the reading library: what went wrong (a code) and the
// facts of it (the file, the record, the counts), never a message. Each
// front end makes its own text from them: the console its lines
// (run/console_reading), kestranov-grid its one line; a caller decides by
// the code, never by a text.
#pragma once

#include <cstdint>
#include <string>

namespace kestranov {

enum class ReadFault {
    cannot_be_read,            // a read of the file failed
    unknown,                   // no file by that name (`path` as the name asked for)
    not_regular,               // a FIFO, a socket, a device
    refused,                   // unfit to read: `reason` says why, from the file's own content
    not_a_number,              // text record `record`: `token` is not a number, or not finite
    record_short,              // text record `record` has fewer than three numbers
    beyond_double,             // point `record`: its scaled coordinates overflow a double
    points_missing,            // `record` points where the header announces `expected`
    las_records_too_short,     // records of `bytes` bytes, where a filter needs `needed`
    las_records_after_points,  // `record` whole records after the `expected` announced
    laz_table_beyond_end,      // the file ends after `bytes` bytes, before its chunk table at `at`
    laz_table_cut,             // the chunk table from byte `at` ends before its last entry
    laz_table_pointer_lost,    // the table pointer -1 and the last 8 bytes give `pointer`, no place in `bytes`
    // The file differs from the one the first reading found:
    replaced,                     // its size, date or identity
    reads_otherwise,              // a fault now where the first reading found none
    las_header_changed,           // header `field` is `now`, where the first reading found `first`
    record_count_changed,         // `record` records, where the first reading counted `expected`
    point_outside_first_extents,  // the point `x` `y` (`z` where `with_z`) outside the first reading's range
};

struct ReadError {
    ReadFault fault = ReadFault::cannot_be_read;
    std::string path{};          // the file as the reading found it
    int file = -1;               // its index in the list read (from 0), where known
    long long record = 0;        // the record or point at fault (from 1), or the records read
    std::uint64_t expected = 0;  // the records announced or counted first
    std::uint64_t bytes = 0;     // the file's size, or its records' length
    std::uint64_t at = 0;        // a byte offset in the file
    std::uint64_t needed = 0;    // the bytes a record needs
    std::int64_t pointer = 0;    // a chunk table pointer as the file gives it
    std::string token{};         // the text shown of a token that is no number
    bool not_finite = false;     // the token is a number, but not a finite one
    bool first_reading = false;  // the failure came during the first reading
    std::string field{}, now{}, first{};
    std::string reason{};  // why a refused file cannot be read, in lower case
    double x = 0, y = 0, z = 0;
    bool with_z = false;

    // Whether it tells of a file changed since the first reading.
    bool file_changed() const
    {
        return fault == ReadFault::replaced || fault == ReadFault::reads_otherwise ||
               fault == ReadFault::las_header_changed || fault == ReadFault::record_count_changed ||
               fault == ReadFault::point_outside_first_extents;
    }
};

}  // namespace kestranov
