// One LAZ chunk decoded from its bytes in memory: what the LASzip VLR says
// about the points' items, and the fields of each point a run needs. The
// point-wise items of formats 0 to 5 (version 2) and the layered items of
// formats 6 to 10 (version 3) share this door; the file around the chunks
// (header, VLR, chunk table) is the LAZ reader's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestranov {

// An item of the LASzip VLR's list, in record order.
struct LazItem {
    enum Type : std::uint16_t {
        byte = 0,
        short_item = 1,
        integer = 2,
        long_item = 3,
        float_item = 4,
        double_item = 5,
        point10 = 6,
        gpstime11 = 7,
        rgb12 = 8,
        wavepacket13 = 9,
        point14 = 10,
        rgb14 = 11,
        rgbnir14 = 12,
        wavepacket14 = 13,
        byte14 = 14,
    };
    std::uint16_t type;
    std::uint16_t size;  // bytes in the uncompressed record
    std::uint16_t version;
    bool operator==(const LazItem&) const = default;
};

// What leaves the decoder for each point: the raw coordinate integers (the
// reader scales them as for LAS) and the attributes a filter may ask for.
struct LazPoint {
    std::int32_t x, y, z;
    std::uint8_t classification;     // formats 0-5: the low 5 bits; 6-10: the whole byte
    std::uint8_t return_number;      // 0-7 (0-15 in formats 6-10)
    std::uint8_t number_of_returns;  // as above
};

// Which fields the run needs: in layered chunks the layers of the others
// are skipped by their byte counts, never decoded.
struct LazNeeds {
    bool classification = false;
};

enum class LazChunkStatus {
    ok,
    ends_early,  // the arithmetic stream or a layer needs bytes beyond the chunk
    damaged,     // a count or size inside the chunk that no encoder writes
    miscounted,  // not the caller's count of points: the chunk says another, or its bytes outlast them
};

// Decodes the `count` points of one chunk, [begin, end), whose records hold
// `items`, into `out[0..count)`. Never reads outside [begin, end), whatever
// the bytes; spoiled bytes may decode to other points. For layered chunks
// `count` is the one the chunk itself starts with, checked against the
// caller's.
LazChunkStatus decode_laz_chunk(const unsigned char* begin, const unsigned char* end, const std::vector<LazItem>& items,
                                std::size_t count, const LazNeeds& needs, LazPoint* out);

// One chunk of a pair to decode: its bytes, its count, where its points go
// and, once decoded, its status.
struct LazChunkJob {
    const unsigned char* begin;
    const unsigned char* end;
    std::size_t count;
    LazPoint* out;
    LazChunkStatus status = LazChunkStatus::ok;
};

// Two chunks of one file, as decode_laz_chunk would each: the point-wise
// ones at once, one stream's symbols in the other's waits, which brings a
// thread nearly twice the points where both streams are long.
void decode_laz_chunks(LazChunkJob& a, LazChunkJob& b, const std::vector<LazItem>& items, const LazNeeds& needs);

}  // namespace kestranov
