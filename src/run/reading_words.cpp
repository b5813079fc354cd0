#include "run/reading_words.h"

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace kestranov {

namespace {

const char* const recompress = ": recompress it with a current LASzip, for example with laszip or pdal translate";
const char* const decompress = ": decompress it to LAS first, for example with laszip or pdal translate";

const char* item_name(std::uint16_t type)
{
    switch (type) {
        case LazItem::point10:
            return "POINT10";
        case LazItem::gpstime11:
            return "GPSTIME11";
        case LazItem::rgb12:
            return "RGB12";
        case LazItem::byte:
            return "BYTE";
        case LazItem::point14:
            return "POINT14";
        case LazItem::rgb14:
            return "RGB14";
        case LazItem::rgbnir14:
            return "RGBNIR14";
        case LazItem::byte14:
            return "BYTE14";
        case LazItem::wavepacket13:
            return "WAVEPACKET13";
        case LazItem::wavepacket14:
            return "WAVEPACKET14";
        default:
            return nullptr;
    }
}

// "POINT10 (20 bytes, version 2), GPSTIME11 (8 bytes, version 2)".
std::string item_list(const std::vector<LazItem>& items)
{
    std::string s;
    for (const LazItem& item : items) {
        const char* name = item_name(item.type);
        s += (s.empty() ? "" : ", ") + (name ? std::string(name) : "item of type " + std::to_string(item.type)) + " (" +
             std::to_string(item.size) + " bytes, version " + std::to_string(item.version) + ")";
    }
    return s;
}

}  // namespace

std::string refusal_words(const Refusal& r)
{
    using Why = RefusalReason;
    const auto n = [&r](int k) { return std::to_string(r.facts[static_cast<std::size_t>(k)]); };
    // "1 chunk", "3 chunks".
    const auto counted = [&](int k, const char* noun) {
        return n(k) + " " + noun + (r.facts[static_cast<std::size_t>(k)] == 1 ? "" : "s");
    };
    const auto axis = [&r] { return std::string(1, "XYZ"[r.facts[0] % 3]); };
    const std::string file_size = " (the file has " + n(1) + " bytes)";
    const std::string chunk = "its LAZ chunk " + n(0) + " of " + n(1) + " (points " + n(2) + " to " + n(3) + ")";
    switch (r.reason) {
        case Why::none:
            return {};
        case Why::not_las:
            return "not a LAS file: it does not begin with \"LASF\"";
        case Why::too_short_for_las:
            return "too short for a LAS file: " + n(0) + " bytes, where the header alone takes " + n(1);
        case Why::las_version:
            return "its LAS version " + n(0) + "." + n(1) + " is none of 1.0 to 1.4";
        case Why::las_header_size:
            return "its LAS header size of " + n(0) + " bytes is impossible" + file_size;
        case Why::las_points_below_header:
            return "its offset to the LAS points, " + n(0) + ", is below its header size of " + n(1) + " bytes";
        case Why::las_points_beyond_end:
            return "its offset to the LAS points, " + n(0) + ", lies beyond the end of the file" + file_size;
        case Why::las_point_format:
            return "its LAS point data format " + n(0) + " is none of 0 to 10";
        case Why::las_records_below_xyz:
            return "its LAS point records of " + n(0) + " bytes are shorter than the 12 bytes of X, Y and Z";
        case Why::las_scale_zero:
            return "its LAS scale factor for " + axis() + " is 0";
        case Why::las_scale_not_finite:
            return "its LAS scale factor for " + axis() + " is not a finite number";
        case Why::las_offset_not_finite:
            return "its LAS offset for " + axis() + " is not a finite number";
        case Why::no_laszip_vlr:
            return "its header says its points are compressed (LAZ), but it has no LASzip VLR (user id \"laszip "
                   "encoded\", record 22204) to say how";
        case Why::laszip_vlr_into_points:
            return "its LASzip VLR of " + n(0) + " bytes runs into its points";
        case Why::laszip_vlr_short:
            return "its LASzip VLR has " + n(0) + " bytes, fewer than the " + n(1) + " of one item";
        case Why::laszip_vlr_item_count:
            return "its LASzip VLR lists " + n(0) + " items in " + n(1) + " bytes, where " + n(2) +
                   " bytes and 6 per item are needed";
        case Why::laszip_coder:
            return "its LASzip VLR names coder " + n(0) + ", where 0 (arithmetic) is the only one";
        case Why::laz_waveforms:
            return "its LAZ point format " + n(0) +
                   " carries waveform packets, which this program does not decompress" + decompress;
        case Why::laz_point_format:
            return "its LAZ point format " + n(0) + " is none of 0 to 10";
        case Why::laz_uncompressed:
            return "its LASzip VLR says the points are not compressed (compressor 0), yet the header says LAZ";
        case Why::laz_pointwise:
            return std::string(
                       "its points are compressed without chunks (LASzip compressor 1, from LASzip before "
                       "2.0), which this program does not read") +
                   recompress;
        case Why::laz_compressor_for_chunks:
        case Why::laz_compressor_for_layers:
            return "its LASzip VLR names compressor " + n(0) + " for point format " + n(1) + ", where LASzip writes " +
                   (r.reason == Why::laz_compressor_for_layers ? "3 (layered chunks)" : "2 (chunks)");
        case Why::laz_chunks_of_none:
            return "its LASzip VLR gives chunks of 0 points";
        case Why::laz_items_unlike_format:
            return "its LASzip VLR lists " + item_list(r.items) +
                   ", which is not what LASzip writes for point format " + n(0);
        case Why::laz_items_sum:
            return "its LASzip VLR's items (" + item_list(r.items) + ") add up to " + n(0) +
                   " bytes, where its point records have " + n(1);
        case Why::laz_items_of_laszip1:
            return "its points were compressed by LASzip 1 (" + item_list(r.items) +
                   "), which this program does not read" + recompress;
        case Why::laz_item_version:
            return "its LASzip VLR lists " + item_list(r.items) + ", a version this program does not read" + recompress;
        case Why::laz_table_pointer_early:
            return "its LAZ chunk table pointer, " + std::to_string(static_cast<std::int64_t>(r.facts[0])) +
                   ", does not point after the points' start" + file_size;
        case Why::laz_table_version:
            return "its LAZ chunk table has version " + n(0) + ", where 0 is the only one";
        case Why::laz_table_count_room:
            return "its LAZ chunk table lists " + counted(0, "chunk") + ", where the " + n(1) +
                   " bytes before it hold at most " + n(2) + " of " + n(3) + "-byte points";
        case Why::laz_table_count_fixed:
            return "its LAZ chunk table lists " + counted(0, "chunk") + ", where " + counted(1, "point") +
                   " in chunks of " + n(2) + " make " + n(3);
        case Why::laz_table_count_variable:
            return "its LAZ chunk table lists " + counted(0, "chunk") + " for " + counted(1, "point");
        case Why::laz_table_ends_within:
            return "its LAZ chunk table ends within chunk " + n(0) + " of " + n(1);
        case Why::laz_table_chunk_points:
            return "its LAZ chunk table gives chunk " + n(0) + " " + counted(1, "point") + ", where " + n(2) +
                   " are left of the header's " + n(3);
        case Why::laz_table_chunk_bytes:
            return "its LAZ chunk table gives chunk " + n(0) + " " + n(1) + " bytes at offset " + n(2);
        case Why::laz_table_points_held:
            return "its LAZ chunk table's chunks hold " + counted(0, "point") + ", where the header says " + n(1);
        case Why::laz_table_chunk_dense:
            return "its LAZ chunk table gives chunk " + n(0) + " " + counted(1, "point") + " in " + n(2) +
                   " bytes, more than any LAZ writer puts there";
        case Why::laz_table_chunks_span:
            return "its LAZ chunk table gives its chunks " + n(0) + " bytes, where " + n(1) +
                   " lie between its points' start and the table (the table is damaged)";
        case Why::laz_chunk_ends_early:
            return chunk + " ends before its compressed points do (the chunk is damaged)";
        case Why::laz_chunk_miscounted:
            return chunk +
                   " does not hold the points its header and chunk table give it: the header's point count or the "
                   "chunk table disagrees with the file";
        case Why::laz_chunk_damaged:
            return chunk + " is damaged: it holds a count or a size that no LAZ writer makes";
        case Why::text_unfiltered:
            return "a text point file holds no classifications nor returns, so it cannot be filtered by them";
    }
    return {};
}

const char* header_field_words(LasHeaderField field)
{
    // In the order of the fields.
    constexpr const char* names[] = {
        "offset to the points", "point data format", "record length", "point count", "X scale factor",
        "Y scale factor",       "Z scale factor",    "X offset",      "Y offset",    "Z offset"};
    static_assert(std::size(names) == static_cast<std::size_t>(LasHeaderField::z_offset) + 1);
    return names[static_cast<std::size_t>(field)];
}

}  // namespace kestranov
