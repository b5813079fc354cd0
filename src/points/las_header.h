// The public header block of an ASPRS LAS file, as both the LAS and the LAZ
// readers need it: where the points start, how they are laid out, how many
// there are and how their integers become coordinates; where the extended
// variable-length records are, and the bounds the header states (never
// used for the extents, which come from the points). The rest (dates,
// software names) is not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "platform/input_file.h"

namespace kestranov {

constexpr std::size_t las_legacy_header = 227;    // the public header block of LAS 1.0 to 1.2
constexpr std::size_t las_waveform_header = 235;  // that of LAS 1.3
constexpr std::size_t las_largest_header = 375;   // that of LAS 1.4

// A field of a LAS file, at `p`.
template <class T>
T little_endian(const unsigned char* p)
{
    T value;
    std::memcpy(&value, p, sizeof value);  // x86-64 and every LAS file are little-endian
    return value;
}

struct LasHeader {
    std::uint8_t version_major, version_minor;
    std::uint16_t header_size;
    std::uint32_t offset_to_points;
    std::uint32_t vlr_count;
    std::uint8_t format;  // as the file has it: the compression bits (0x80, 0x40) kept
    std::uint16_t record_length;
    std::uint64_t count;  // the 64-bit count of LAS 1.4 where the header holds it
    double scale[3], offset[3];
    std::uint64_t waveform_start;  // LAS 1.3 and 1.4: where waveform data inside the file begin (0: none)
    std::uint64_t evlr_start;      // LAS 1.4: where its extended variable-length records begin
    std::uint32_t evlr_count;      // LAS 1.4: how many there are (0 before 1.4)
    double min[3], max[3];         // X, Y and Z as the header states them, unchecked
    int point_format() const { return format & 0x3F; }
    bool compressed() const { return (format & 0xC0) != 0; }
};

// b: the first n bytes of the file (at most 375). Ends the run naming `path`
// for a header no LAS file has (a version other than 1.0 to 1.4 included),
// checked also against the file's size. Compression bits are left to the
// reader.
LasHeader parse_las_header(const unsigned char* b, std::size_t n, std::uint64_t file_size, const std::string& path);

// The header of `f` (opened at its start), parsed as above. `first` empty
// (the first reading of the file) takes it; set, a header that differs from
// it in a fact the reading depends on ends the run as a file changed during
// the run: rewritten in place with its date put back, it would otherwise
// read as other points, or as a cut file.
LasHeader read_las_header(InputFile& f, const std::string& path, std::optional<LasHeader>& first);

// Whether the first `n` bytes of a file begin a LAS header whose point data
// format has a compression bit: LAZ, whatever the file's name.
bool las_compressed(const unsigned char* b, std::size_t n);
// Whether they begin a LAS header of uncompressed points: LAS, even under
// the name of a .laz file (some tools name a decompressed file so).
bool las_uncompressed(const unsigned char* b, std::size_t n);

}  // namespace kestranov
