// What every point reader shares: the records of a file counted, told every
// 100000 of them, and handed on in batches in file order; with a filter,
// only the records it keeps are handed on, while every record is still
// counted (the progress told and the file's count are the file's).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/point_filter.h"

namespace kestranov {

struct Point {
    double x, y, z;
};

constexpr std::size_t point_batch = 4096;

using PointSink = std::function<void(const Point* points, std::size_t count)>;

// What a reading's sink wants of the records.
enum class Wanted {
    points,   // every point
    extents,  // only their range: a reader may hand on two corner points per run of records
    // Only their range, which a LAZ file may take from its header instead
    // of decoding every point (FirstReading::header_bounds): a first
    // reading whose second reading checks the header.
    extents_or_header,
};

// What a filter decides by, for one record (point_filter.h says how each
// field is read).
struct PointAttributes {
    std::uint8_t classification, return_number, number_of_returns;
};

class RecordBatch {
public:
    // `wanted`: a sink that wants only the smallest and largest X, Y and Z
    // lets a reader that can find them faster than it can make every point
    // hand on two corner points per run of records instead.
    // `filter` (null: every record is kept): the records it drops never reach
    // the sink, so their corners may not either: with a filter the batch is
    // never extents_only. `progress` is told the records counted every
    // 100000 of them.
    RecordBatch(const std::string& path, const PointSink& to, Wanted wanted, const PointFilter* filter,
                const std::function<void(long long)>& progress)
        : path_(path),
          sink_(to),
          extents_only_(wanted != Wanted::points && !filter),
          header_will_do_(wanted == Wanted::extents_or_header && !filter),
          filter_(filter),
          progress_(progress)
    {
    }
    bool extents_only() const { return extents_only_; }
    // Whether a LAZ file's header bounds may stand for its points' range.
    bool header_will_do() const { return header_will_do_; }
    // Whether the reader must give each record's attributes: added(n,
    // attributes) instead of added(n).
    bool filtering() const { return filter_ != nullptr; }
    RecordBatch(const RecordBatch&) = delete;
    RecordBatch& operator=(const RecordBatch&) = delete;

    void add(double x, double y, double z)
    {
        batch_[batched_++] = {x, y, z};
        ++ico_;
        if (--to_progress_ == 0) {
            to_progress_ = progress_every;
            progress_line(ico_);
        }
        if (batched_ == point_batch) hand_on();
    }

    // Room for up to `n` records written in place by a reader that decodes
    // many at once: `n` is cut to what the batch still holds. added() then
    // counts them, with the progress lines and the hand-on exactly as for
    // records added one by one.
    Point* room(std::size_t& n)
    {
        n = std::min(n, point_batch - batched_);
        return batch_ + batched_;
    }
    void added(std::size_t n)
    {
        count(n);
        batched_ += n;
        if (batched_ == point_batch) hand_on();
    }
    // With a filter: the `n` records written at room(), whose attributes are
    // `attributes[0..n)`. All are counted; those the filter keeps stay, in
    // their order, the others are dropped.
    void added(std::size_t n, const PointAttributes* attributes)
    {
        Point* p = batch_ + batched_;
        std::size_t kept = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const PointAttributes& a = attributes[k];
            tally_.class_passed += filter_->keeps_class(a.classification);
            tally_.return_passed += filter_->keeps_returns(a.return_number, a.number_of_returns);
            if (filter_->keeps(a.classification, a.return_number, a.number_of_returns)) p[kept++] = p[k];
        }
        tally_.kept += static_cast<long long>(kept);
        count(n);
        batched_ += kept;
        if (batched_ == point_batch) hand_on();
    }
    // `n` records (at most a batch) whose range is [low, high], corner to
    // corner, for a sink that wants only the extents.
    void added_range(std::size_t n, const Point& low, const Point& high)
    {
        hand_on();
        count(n);
        const Point corners[2] = {low, high};
        sink_(corners, 2);
    }

    // What is still batched goes to the sink.
    void hand_on()
    {
        if (batched_) sink_(batch_, batched_);
        batched_ = 0;
    }

    long long records() const { return ico_; }
    // The records counted so far as the filter judged them; every one passes
    // without a filter.
    FilterTally tally() const { return filter_ ? tally_ : FilterTally{ico_, ico_, ico_}; }
    // The file read, for the readers' messages.
    const std::string& path() const { return path_; }

private:
    static constexpr long long progress_every = 100000;

    void progress_line(long long records) { progress_(records); }

    void count(std::size_t n)
    {
        // A batch is far smaller than the progress step: one line at most.
        if (static_cast<long long>(n) >= to_progress_) {
            progress_line(ico_ + to_progress_);
            to_progress_ += progress_every;
        }
        ico_ += static_cast<long long>(n);
        to_progress_ -= static_cast<long long>(n);
    }

    const std::string& path_;
    const PointSink& sink_;
    bool extents_only_;
    bool header_will_do_;
    const PointFilter* filter_;
    const std::function<void(long long)>& progress_;
    FilterTally tally_;
    long long ico_ = 0;
    long long to_progress_ = progress_every;  // records until the next progress line
    Point batch_[point_batch] = {};
    std::size_t batched_ = 0;
};

}  // namespace kestranov
