// The LAZ file around its chunks: the LASzip VLR (user id "laszip encoded",
// record id 22204) that says how the points were compressed, and the chunk
// table that says where each chunk starts and how many points it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "points/laz_chunk.h"
#include "points/read_error.h"

namespace kestranov {

struct LaszipVlr {
    std::uint16_t compressor = 0;  // 0 none, 1 point-wise, 2 point-wise chunked, 3 layered chunked
    std::uint16_t coder = 0;       // 0: arithmetic, the only one
    std::uint8_t version_major = 0, version_minor = 0;
    std::uint16_t version_revision = 0;
    std::uint32_t options = 0;
    std::uint32_t chunk_size = 0;  // points per chunk; 0xFFFFFFFF: each chunk's count is in the table
    std::int64_t special_evlrs = -1, special_evlrs_offset = -1;
    std::vector<LazItem> items;

    bool variable_chunks() const { return chunk_size == 0xFFFFFFFFu; }
};

// Reads the VLR's payload, [p, p + n). `why` empty on success; otherwise
// what is wrong with it.
LaszipVlr parse_laszip_vlr(const unsigned char* p, std::size_t n, Refusal& why);

// Checks the item list against the header's point format (0 to 10, without
// the compression bits) and record length; empty when they agree, else
// which format, compressor or item is not read.
Refusal check_laz_items(const LaszipVlr& vlr, int point_format, std::size_t record_length);

struct LazChunk {
    std::uint64_t offset;  // in the file, of the chunk's first byte
    std::uint64_t bytes;
    std::uint64_t points;
};

// Decodes the chunk table: `table` holds its bytes after the 8-byte head
// (version 0, chunk count). The chunks follow one another from
// `first_chunk` (the byte after the 8-byte table pointer at the start of
// the point data); without variable chunks each holds `chunk_size` points,
// the last one the rest of `total_points`. `why` empty on success;
// `ends_early`, where given, tells whether the fault was the table's bytes
// ending before its last entry (which a file cut short gives).
std::vector<LazChunk> decode_chunk_table(const unsigned char* table, const unsigned char* end, std::uint32_t chunks,
                                         const LaszipVlr& vlr, std::uint64_t first_chunk, std::uint64_t total_points,
                                         Refusal& why, bool* ends_early = nullptr);

}  // namespace kestranov
