// What every point reader shares: the records of a file counted, a progress
// line every 100000 of them, and handed on in batches in file order.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>

struct Point {
    double x, y, z;
};

constexpr std::size_t point_batch = 4096;

using PointSink = std::function<void(const Point* points, std::size_t count)>;

class RecordBatch {
public:
    RecordBatch(std::ostream& console, const std::string& windows_path, const PointSink& to)
        : out_(console), path_(windows_path), sink_(to)
    {
    }
    RecordBatch(const RecordBatch&) = delete;
    RecordBatch& operator=(const RecordBatch&) = delete;

    void add(double x, double y, double z)
    {
        batch_[batched_++] = {x, y, z};
        ++ico_;
        if (--to_progress_ == 0) {
            to_progress_ = progress_every;
            out_ << "\tregister " << ico_ << "                    \r    ";
            out_.flush();
        }
        if (batched_ == point_batch) hand_on();
    }

    // What is still batched goes to the sink.
    void hand_on()
    {
        if (batched_) sink_(batch_, batched_);
        batched_ = 0;
    }

    long long records() const { return ico_; }
    // The file as the console names it, for the readers' messages.
    const std::string& path() const { return path_; }

private:
    static constexpr long long progress_every = 100000;

    std::ostream& out_;
    const std::string& path_;
    const PointSink& sink_;
    long long ico_ = 0;
    long long to_progress_ = progress_every;  // records until the next progress line
    Point batch_[point_batch] = {};
    std::size_t batched_ = 0;
};
