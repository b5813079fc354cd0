// Streams one point file: records of three numbers X Y Z separated by white
// space, read in large blocks and handed on in batches, never held whole.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <optional>
#include <vector>

#include "core/point_files.h"
#include "platform/file_identity.h"

struct Point {
    double x, y, z;
};

constexpr std::size_t point_batch = 4096;

using PointSink = std::function<void(const Point* points, std::size_t count)>;

// Reads point file m (1..count) of `files`: prints its name line and a
// progress line every 100000 records on `out`, and hands the records to
// `sink` in file order. Text that is not a finite number and a last record
// of fewer than three numbers end the run naming the file and the record;
// so does a file that is not a regular file. `seen` is the file as its
// first reading found it: empty, it is filled now; set, a file that is not
// that one any more, or that changes while it is read, ends the run.
// Returns the number of records of the file, or nothing when the file
// cannot be opened (the caller says so in its own words).
std::optional<long long> read_point_file(std::ostream& out, const PointFiles& files, int m, const PointSink& sink,
                                         std::optional<FileIdentity>& seen);

// Each point file as its first reading found it: entry m for file m.
using SeenFiles = std::vector<std::optional<FileIdentity>>;

// Test seam: the size of the blocks a point file is read in (0: the usual
// 4 MiB), so that a small file crosses many block boundaries.
void point_reader_set_block_size(std::size_t bytes);
