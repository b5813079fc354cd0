// Streams one point file: records of three numbers X Y Z separated by white
// space, read in large blocks and handed on in batches, never held whole.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

struct RunState;

struct Point {
    double x, y, z;
};

constexpr std::size_t point_batch = 4096;

using PointSink = std::function<void(const Point* points, std::size_t count)>;

// Reads point file m (1..numlay) of st.files into nomim3: prints its name
// line and a progress line every 100000 records, and hands the records to
// `sink` in file order. A file that cannot be opened ends the run with
// `unknown_lead` + "File <path> unknown\n"; text that is not a finite number
// and a last record of fewer than three numbers end it naming the record.
// Returns the number of records of the file.
long long read_point_file(RunState& st, int m, std::string_view unknown_lead, const PointSink& sink);
