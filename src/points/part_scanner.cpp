#include "points/part_scanner.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

#include "platform/memory.h"
#include "platform/threads.h"

namespace kestranov {

namespace {

std::atomic<int> failing_start{-1};
std::atomic<int> failing_part{-1};
std::atomic<int> parts_read{0};

void scan_part(const char* p, const char* end, TokenRun& run, ShapeCache& shapes)
{
    run.scanned.scan(p, end, shapes);
    if (parts_read++ == failing_part) throw std::bad_alloc();
}

}  // namespace

// A part read in full, or marked for the caller to read again: an exception
// that left a thread would end the process.
void read_part(const char* first, const char* last, TokenRun& run, ShapeCache& shapes)
{
    run.first = first, run.last = last;
    run.failed = false;
    try {
        scan_part(first, last, run, shapes);
    } catch (...) {
        run.failed = true;
        run.scanned.release();       // the memory goes back at once
        hold_memory_for_failures();  // given back on the way here
    }
}

void part_scanner_set_faults(int start, int part)
{
    failing_start = start;
    failing_part = part;
    parts_read = 0;
}

bool part_scanner_start_fails(int k) { return k == failing_start; }

PartScanner::PartScanner(int threads, int first)
    : threads_(), starts_(static_cast<std::size_t>(threads)), cuts_(static_cast<std::size_t>(threads) + 1)
{
    threads_.reserve(static_cast<std::size_t>(threads));
    for (std::size_t k = 0; k < starts_.size(); ++k) {
        starts_[k] = {this, k};
        LeanThread t;
        // Out of threads or memory: the threads started do the work.
        if (part_scanner_start_fails(first + static_cast<int>(k)) ||
            !start_lean_thread(t, &PartScanner::run, &starts_[k]))
            break;
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
    // The shapes this thread has learned stay with it from block to block.
    std::unique_ptr<ShapeCache> shapes;
    try {
        shapes.reset(new ShapeCache);
    } catch (...) {
    }
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
        if (shapes)
            read_part(first, last, *run, *shapes);
        else
            run->failed = true, run->first = first, run->last = last;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++done_;
        }
        finished_.notify_all();
    }
}

}  // namespace kestranov
