// Reading whole records instead of tokens. A point file written by one
// format string repeats, record after record, where its digits, signs,
// points and blanks stand. Once the exact token path has read a record of
// three plain decimals, its shape is learned; each next record is checked
// against the shape with one comparison of 64 bytes and its three numbers
// are converted together. A record that does not fit goes back to the
// token path, which may learn its shape in turn.
//
// The values are those of the token path, bit for bit: at most 15 digits
// make an integer below 2^53, exact in a double, as is the power of ten of
// its decimals; one correctly rounded division gives the correctly rounded
// value (Clinger), as scan_token argues.
//
// The checks and conversions run on the vector unit the reading's cache
// names (platform/cpu_features.h chooses it). Every path gives the same
// values.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/reading_options.h"

namespace kestranov {

// Bytes a caller must leave readable after the end of the text it scans:
// a record is checked with whole vector loads.
constexpr std::size_t record_padding = 128;

// Where the three numbers of a record stand: the record runs from its first
// byte to the first byte of the next record (its trailing blanks included)
// and fits in 64 bytes.
struct alignas(64) RecordShape {
    // At each byte of the record, '0' where a digit stands and the byte
    // itself elsewhere; beyond the record 0. A record fits when every byte
    // minus base is at most limit: 9 at a digit, 0 at any other byte of the
    // record, 255 beyond it.
    unsigned char base[64];
    unsigned char limit[64];
    // For a byte permute: lane 16n + j takes byte gather[16n + j] of the
    // record, so that the digits of number n end at lane 16n + 15.
    unsigned char gather[64];
    std::uint64_t gather_lanes;  // the lanes that take a digit
    // For a byte shuffle of 16 bytes loaded from number n's first digit
    // or point: the same right-aligned digits (0x80: a zero lane).
    unsigned char shuffle[3][16];
    double divisor[4];              // 10^decimals of each number; 1 for the unused lane
    std::uint64_t sign_bit[4];      // the sign bit of each number's value
    unsigned char digit_at[3][15];  // record offsets of each number's digits, most significant first
    unsigned char digits[3];
    unsigned char start[3];  // offset of each number's first digit or point
    unsigned length;         // bytes to the next record
};

// The shapes a reading has met. A few: files whose widths change (an
// elevation crossing 10 m, 100 m or 1000 m, a sign now and then) keep
// several shapes that come back record after record in any order.
struct ShapeCache {
    static constexpr int capacity = 8;
    RecordShape shapes[capacity];
    // Per shape, for a quick choice among several: the bytes of the record
    // and, among them, the digits.
    std::uint64_t record_bytes[capacity] = {};
    std::uint64_t digit_bytes[capacity] = {};
    int count = 0;
    int current = 0;                       // the shape of the last record read by shape
    int replaced = 0;                      // the slot a new shape takes when all are in use
    VectorPath path = VectorPath::scalar;  // the vector unit that checks and converts the records
};

// Learns the shape of the record whose three tokens are [t[0], e[0]),
// [t[1], e[1]), [t[2], e[2]) and whose next record starts at `next`; false
// when it has none (a token that is not a plain decimal of at most 15
// digits, a record longer than 64 bytes).
bool learn_shape(const char* const t[3], const char* const e[3], const char* next, RecordShape& shape);
// Puts `shape` in the cache as the current one, in a free slot or in turn
// in each slot when none is free.
void remember_shape(ShapeCache& cache, const RecordShape& shape);

// Reads records of the cached shapes from `p` as long as they fit, wholly
// before `end`, and at most `max` of them; writes their values to `out`
// (three per record, and the slot after the last one may be overwritten)
// and returns how many it read, `p` moved past them. `record_padding` bytes
// after `end` must be readable.
std::size_t read_records(ShapeCache& cache, const char*& p, const char* end, double* out, std::size_t max);

// Records read by shape so far, on every thread (for the fuzz targets'
// statistics).
std::uint64_t record_path_hits();

}  // namespace kestranov
