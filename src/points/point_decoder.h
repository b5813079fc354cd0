// What every point-file decoder is: a function that takes the open file,
// the batch its records go to and the reading's options, and tells how the
// file's input ended. A decoder knows its format, nothing of threads it
// does not start itself, nor of which file it was given: the door
// (point_reader) chooses it from its table, and reports how the input ended
// once it has checked that the file did not change meanwhile.
#pragma once

#include <cstdint>
#include <optional>

#include "core/reading_options.h"
#include "platform/input_file.h"
#include "points/las_crs.h"
#include "points/las_header.h"
#include "points/record_batch.h"

namespace kestranov {

struct InputEnd {
    enum class Kind {
        whole,         // every record read
        short_record,  // the text ended inside a record
        cut,           // fewer records than the file's header announces
    };
    Kind kind = Kind::whole;
    std::uint64_t announced = 0;  // cut: the records announced
};

// What a decoder keeps of a file from its first reading, to hold the second
// reading to it (empty on the first), and what the file says of itself for
// a companion.
struct FirstReading {
    std::optional<LasHeader> las;  // a LAS or LAZ file's header
    LasCrs crs;                    // a LAS or LAZ file's coordinate reference system, from its first reading
    // The bounds of a LAZ file's integers, X Y Z, as its header gives them,
    // where its first reading took them instead of decoding the points
    // (Wanted::extents_or_header). The second reading decodes
    // every point and says in `held` whether they were the points' own.
    struct HeaderBounds {
        std::int32_t low[3], high[3];
        bool held = true;
    };
    std::optional<HeaderBounds> header_bounds;
};

using PointDecoder = InputEnd (*)(InputFile& f, RecordBatch& batch, const ReadingOptions& options,
                                  const ReadingSeams& seams, FirstReading& first);

}  // namespace kestranov
