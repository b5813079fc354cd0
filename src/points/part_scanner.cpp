#include "points/part_scanner.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "platform/memory.h"
#include "platform/threads.h"

namespace {

std::atomic<int> failing_start{-1};
std::atomic<int> failing_part{-1};
std::atomic<int> parts_read{0};

void scan_part(const char* p, const char* end, TokenRun& run)
{
    run.values.clear();
    run.bad_first = nullptr;
    for_each_number(
        p, end, [&run](double v) { run.values.push_back(v); },
        [&run](const char* first, const char* last, ScanStatus status) {
            run.bad_first = first, run.bad_last = last, run.bad_status = status;
        });
    if (parts_read++ == failing_part) throw std::bad_alloc();
}

// A part read in full, or marked for the caller to read again: an exception
// that left a thread would end the process.
void read_part(const char* first, const char* last, TokenRun& run)
{
    run.first = first, run.last = last;
    run.failed = false;
    try {
        scan_part(first, last, run);
    } catch (...) {
        run.failed = true;
        run.bad_first = nullptr;
        std::vector<double>().swap(run.values);  // the memory goes back at once
        hold_memory_for_failures();              // given back on the way here
    }
}

}  // namespace

void part_scanner_set_faults(int start, int part)
{
    failing_start = start;
    failing_part = part;
    parts_read = 0;
}

PartScanner::PartScanner(int threads)
    : threads_(), starts_(static_cast<std::size_t>(threads)), cuts_(static_cast<std::size_t>(threads) + 1)
{
    threads_.reserve(static_cast<std::size_t>(threads));
    for (std::size_t k = 0; k < starts_.size(); ++k) {
        starts_[k] = {this, k};
        LeanThread t;
        // Out of threads or memory: the threads started do the work.
        if (static_cast<int>(k) == failing_start || !start_lean_thread(t, &PartScanner::run, &starts_[k])) break;
        threads_.push_back(t);
    }
    done_ = threads_.size();  // nothing under way
}

void* PartScanner::run(void* start)
{
    const Start* s = static_cast<const Start*>(start);
    s->pool->work(s->k);
    return nullptr;
}

PartScanner::~PartScanner()
{
    wait();
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    started_.notify_all();
    for (LeanThread& t : threads_) join_lean_thread(t);
}

void PartScanner::start(const char* first, const char* last, std::vector<TokenRun>& runs)
{
    const std::size_t parts = threads_.size();
    runs.resize(parts);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        cuts_[0] = first;
        for (std::size_t k = 1; k < parts; ++k) {
            const char* c = std::max(cuts_[k - 1], first + (last - first) / static_cast<std::ptrdiff_t>(parts) *
                                                               static_cast<std::ptrdiff_t>(k));
            while (c < last && !is_blank(*c)) ++c;
            cuts_[k] = c;
        }
        cuts_[parts] = last;
        runs_ = &runs;
        done_ = 0;
        ++generation_;
    }
    started_.notify_all();
}

void PartScanner::wait()
{
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return done_ == threads_.size(); });
}

void PartScanner::work(std::size_t k)
{
    long seen = 0;
    for (;;) {
        const char* first;
        const char* last;
        TokenRun* run;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            started_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            first = cuts_[k], last = cuts_[k + 1], run = &(*runs_)[k];
        }
        read_part(first, last, *run);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++done_;
        }
        finished_.notify_all();
    }
}
