// Reading a block of a point file on several threads: the block is cut at
// white space into one part per thread, and each thread reads the numbers
// of its part. The caller takes the parts' numbers in file order, so the
// records, progress lines and messages are those of a reading in one go.
//
// Nothing a thread meets ends the run from that thread: a part whose thread
// ran out of memory is marked, and the caller reads that part itself, in
// its place in the file, as a reading on one thread would. A thread that
// cannot be started leaves the pool smaller.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "core/reading_options.h"
#include "platform/threads.h"
#include "points/text_scanner.h"

namespace kestranov {

// The numbers of one part, and its first bad token if there is one (the
// part's reading stops there).
struct TokenRun {
    const char* first = nullptr;  // the part itself
    const char* last = nullptr;
    ScannedValues scanned;
    bool out_of_memory = false;  // the thread could not finish it: read [first, last) again
};

// The faults a test asks one reading for (ReadingSeams): a thread that
// does not start, a part whose thread runs out of memory. Shared by the
// threads of the reading.
class ReadingFaults {
public:
    explicit ReadingFaults(const ReadingSeams& seams)
        : failing_start_(seams.failing_start), failing_part_(seams.failing_part)
    {
    }
    // Whether the thread started `k`-th is to fail to start.
    bool start_fails(int k) const { return k == failing_start_; }
    // Counts a part scanned; throws std::bad_alloc for the failing one.
    void part_scanned();

private:
    int failing_start_, failing_part_;
    std::atomic<int> parts_{0};
};

class PartScanner {
public:
    // Starts up to `threads` threads, fewer when the system refuses more;
    // `first` is the number of the first of them for `faults`; they read
    // records on the vector unit `path`.
    PartScanner(int threads, int first, ReadingFaults& faults, VectorPath path);
    ~PartScanner();  // lets a reading under way finish, then ends and joins the threads
    PartScanner(const PartScanner&) = delete;
    PartScanner& operator=(const PartScanner&) = delete;

    // How many threads were started: the number of parts (maybe 0).
    std::size_t threads() const { return threads_.size(); }

    // Starts reading [first, last), which must begin and end at white space
    // or at the ends of the text (with `record_padding` readable bytes
    // after it), into `runs` (one per thread, in file order); returns at once. One reading at a time: wait() comes
    // first.
    void start(const char* first, const char* last, std::vector<TokenRun>& runs);
    // Until the reading started last is complete.
    void wait();

private:
    struct Start {
        PartScanner* pool;
        std::size_t k;
    };
    static void* run(void* start);
    void work(std::size_t k);

    ReadingFaults& faults_;
    VectorPath path_;
    std::vector<LeanThread> threads_;
    std::vector<Start> starts_;
    std::mutex mutex_;
    std::condition_variable started_, finished_;
    std::vector<const char*> cuts_;
    std::vector<TokenRun>* runs_ = nullptr;
    long generation_ = 0;
    std::size_t done_ = 0;
    bool stopping_ = false;
};

// Reads [first, last) into `run` as a part's thread does: a failure to find
// memory marks the run out of memory instead of leaving the thread.
void read_part(const char* first, const char* last, TokenRun& run, ShapeCache& shapes, ReadingFaults& faults);

}  // namespace kestranov
