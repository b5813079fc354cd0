// The numbers of a point file's text in file order: record by record where
// records have a learned shape, token by token elsewhere (and there the
// shapes are learned). Both give strtod's values; only the speed differs.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

#include "points/number_scanner.h"
#include "points/record_path.h"

namespace kestranov {

// The first token that is not a finite decimal number.
struct BadToken {
    const char* first = nullptr;
    const char* last = nullptr;
    ScanStatus status = ScanStatus::ok;
};

// Scans the whole tokens of [p, end) into `out`, which has room for `room`
// values (at least 4), and adds how many it wrote to `count`. Returns where
// it stopped: at `end`; before a token when fewer than 4 slots are left; or
// at the first bad token, which is then described in `bad`. The text must
// end with white space (or the byte at `end` be white space), and
// `record_padding` bytes after `end` must be readable.
const char* scan_values(const char* p, const char* end, double* out, std::size_t room, std::size_t& count,
                        BadToken& bad, ShapeCache& shapes);

// The values of a whole range, in a buffer that grows as it needs: a part
// of a block read on a thread of its own.
struct ScannedValues {
    struct Free {
        void operator()(double* p) const { std::free(p); }
    };
    // In 2 MiB pages where the system allows: a block's numbers take
    // megabytes, touched from end to end.
    std::unique_ptr<double[], Free> values;
    std::size_t count = 0;
    std::size_t capacity = 0;
    BadToken bad;

    // Scans [p, end) up to its first bad token, as scan_values does.
    void scan(const char* p, const char* end, ShapeCache& shapes);
    // Gives the memory back.
    void release();
};

}  // namespace kestranov
