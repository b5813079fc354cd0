#include "points/part_scanner.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

#include "platform/memory.h"
#include "platform/threads.h"
#include "points/block_source.h"

namespace kestranov {

void ReadingFaults::part_scanned()
{
    if (parts_++ == failing_part_) throw std::bad_alloc();
}

// A part read in full, or marked for the caller to read again: an exception
// that left a thread would end the process.
void read_part(const char* first, const char* last, TokenRun& run, ShapeCache& shapes, ReadingFaults& faults)
{
    run.first = first, run.last = last;
    run.out_of_memory = false;
    try {
        run.scanned.scan(first, last, shapes);
        faults.part_scanned();
    } catch (...) {
        run.out_of_memory = true;
        run.scanned.release();       // the memory goes back at once
        hold_memory_for_failures();  // given back on the way here
    }
}

PartScanner::PartScanner(int threads, int first, ReadingFaults& faults, VectorPath path)
    : faults_(faults),
      path_(path),
      threads_(),
      starts_(static_cast<std::size_t>(threads)),
      cuts_(static_cast<std::size_t>(threads) + 1)
{
    threads_.reserve(static_cast<std::size_t>(threads));
    for (std::size_t k = 0; k < starts_.size(); ++k) {
        starts_[k] = {this, k};
        LeanThread t;
        // Out of threads or memory: the threads started do the work.
        if (faults_.start_fails(first + static_cast<int>(k)) || !start_lean_thread(t, &PartScanner::run, &starts_[k]))
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
        for (std::size_t k = 1; k < parts; ++k)
            cuts_[k] = blank_cut(std::max(cuts_[k - 1], first + (last - first) / static_cast<std::ptrdiff_t>(parts) *
                                                                    static_cast<std::ptrdiff_t>(k)),
                                 last);
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
        shapes->path = path_;
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
            read_part(first, last, *run, *shapes, faults_);
        else
            run->out_of_memory = true, run->first = first, run->last = last;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++done_;
        }
        finished_.notify_all();
    }
}

}  // namespace kestranov
