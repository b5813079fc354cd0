// The variable-length records of a LAS file: those between its header and
// its points, and the extended ones LAS 1.4 may keep after them. Each is a
// head (user id, record id, payload length) and a payload; this walks the
// heads, for the readers to take the payloads they want (the LAZ reader its
// LASzip VLR, the first reading the coordinate reference system).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "points/las_header.h"

namespace kestranov {

struct LasVlr {
    char user_id[16];  // NUL-padded, as in the file
    std::uint16_t record_id;
    std::uint64_t at;      // in the file, of the payload's first byte
    std::uint64_t length;  // of the payload, as the head gives it (it may run past the file)
    bool is(std::string_view user, std::uint16_t record) const;
};

// Fills `n` bytes from byte `at` of the file; false when it cannot, which
// ends the walk. A reader that ends the run on a failed read throws instead.
using VlrRead = std::function<bool(std::uint64_t at, unsigned char* p, std::size_t n)>;
// Takes one record's head; false ends the walk.
using VlrVisit = std::function<bool(const LasVlr& vlr)>;

// The VLRs of header `h` in file order: at most its count, and only while
// a whole head lies before the points (a count too high is not a fault of
// the points).
void walk_vlrs(const LasHeader& h, const VlrRead& read, const VlrVisit& visit);

// The EVLRs of a LAS 1.4 header, from the place it gives: at most its
// count, and only while a whole head lies within the file's `file_size`
// bytes. None before LAS 1.4.
void walk_evlrs(const LasHeader& h, std::uint64_t file_size, const VlrRead& read, const VlrVisit& visit);

}  // namespace kestranov
