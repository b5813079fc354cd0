// The one failure of the reading library: what went wrong (a code) and the
// facts of it (the file, the record, the counts), never a message. Each
// front end makes its own text from them: the console its lines
// (run/console_reading), kestranov-grid its one line; a caller decides by
// the code, never by a text.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "points/laz_chunk.h"

namespace kestranov {

enum class ReadFault {
    cannot_be_read,            // a read of the file failed
    unknown,                   // no file by that name (`path` as the name asked for)
    not_regular,               // a FIFO, a socket, a device
    refused,                   // unfit to read: `refusal` says why, from the file's own content
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

// Why a file is unfit to read, from its own content. The facts are the
// numbers the front end's words for the reason name, in their order; a
// signed one is kept as its two's complement.
enum class RefusalReason : std::uint8_t {
    none,
    // The LAS header.
    not_las,                  // its first bytes are not "LASF"
    too_short_for_las,        // bytes in the file, bytes of the smallest header
    las_version,              // major, minor
    las_header_size,          // header size, file size
    las_points_below_header,  // offset to the points, header size
    las_points_beyond_end,    // offset to the points, file size
    las_point_format,         // point data format
    las_records_below_xyz,    // record length
    las_scale_zero,           // axis (0 X, 1 Y, 2 Z)
    las_scale_not_finite,     // axis
    las_offset_not_finite,    // axis
    // The LASzip VLR and its items (`items`: those named).
    no_laszip_vlr,
    laszip_vlr_into_points,     // its length
    laszip_vlr_short,           // its length, the bytes of the head and one item
    laszip_vlr_item_count,      // items listed, its length, the bytes of the head
    laszip_coder,               // coder
    laz_waveforms,              // point format
    laz_point_format,           // point format
    laz_uncompressed,           // compressor 0 (no facts)
    laz_pointwise,              // compressor 1 (no facts)
    laz_compressor_for_chunks,  // compressor, point format (0 to 3: LASzip writes 2)
    laz_compressor_for_layers,  // compressor, point format (6 to 8: LASzip writes 3)
    laz_chunks_of_none,         // chunks of 0 points (no facts)
    laz_items_unlike_format,    // point format; items
    laz_items_sum,              // their bytes, record length; items
    laz_items_of_laszip1,       // the item
    laz_item_version,           // the item
    // The chunk table (chunks counted from 1).
    laz_table_pointer_early,   // pointer (signed), file size
    laz_table_version,         // version
    laz_table_count_room,      // chunks, bytes before the table, chunks they hold at most, record length
    laz_table_count_fixed,     // chunks, points, points per chunk, chunks they make
    laz_table_count_variable,  // chunks, points
    laz_table_ends_within,     // chunk, chunks
    laz_table_chunk_points,    // chunk, its points, points left, points
    laz_table_chunk_bytes,     // chunk, its bytes, its offset
    laz_table_points_held,     // points the chunks hold, points
    laz_table_chunk_dense,     // chunk, its points, its bytes
    laz_table_chunks_span,     // bytes of the chunks, bytes between the points' start and the table
    // A chunk as decoded: chunk, chunks, its first point, its last point.
    laz_chunk_ends_early,
    laz_chunk_miscounted,
    laz_chunk_damaged,
    // A filter on a format with nothing to filter by.
    text_unfiltered,
};

struct Refusal {
    RefusalReason reason = RefusalReason::none;
    std::array<std::uint64_t, 4> facts{};
    std::vector<LazItem> items{};

    explicit operator bool() const { return reason != RefusalReason::none; }
    bool operator==(const Refusal&) const = default;
};

// A fact of the LAS header that the reading depends on.
enum class LasHeaderField : std::uint8_t {
    offset_to_points,
    point_data_format,
    record_length,
    point_count,
    x_scale,
    y_scale,
    z_scale,
    x_offset,
    y_offset,
    z_offset,
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
    LasHeaderField field = LasHeaderField::offset_to_points;
    std::string now{}, first{};  // the field's values, in their shortest exact digits
    Refusal refusal{};           // why a refused file cannot be read
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

// Ends the reading of `path`, unfit to read for `why`.
[[noreturn]] inline void refuse(const std::string& path, Refusal why)
{
    throw ReadError{.fault = ReadFault::refused, .path = path, .refusal = std::move(why)};
}

}  // namespace kestranov
