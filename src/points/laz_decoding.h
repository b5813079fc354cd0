// LAZ chunks decoded on several threads and taken back in file order. The
// caller is the one thread that reads the file: it hands in each chunk's
// bytes, and `threads` - 1 workers and the caller itself decode them. At
// most two chunks per thread are in flight, and no more than the seams'
// budget holds: memory follows the chunk size, never the file's, nor the
// thread count.
//
// Nothing a decoding meets ends the run from its thread: a status or an
// exception stays with its chunk. A chunk whose decoding threw is decoded
// again by the caller when its turn comes, as a reading on one thread
// would: a thread that ran out of memory costs nothing, and a fault that
// is not the system's reaches the caller in file order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "core/reading_options.h"
#include "platform/threads.h"
#include "points/laz_chunk.h"

namespace kestranov {

struct LazChunkSize {
    std::size_t bytes = 0, points = 0;
    // What a chunk in flight holds: its compressed bytes and decoded points.
    std::size_t footprint() const { return bytes + points * sizeof(LazPoint); }
};

// One chunk in flight: its bytes, then its points.
struct LazChunkWork {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t byte_count = 0, byte_room = 0;
    std::unique_ptr<LazPoint[]> points;
    std::size_t count = 0, point_room = 0;
    LazChunkStatus status = LazChunkStatus::ok;
    bool threw = false;  // its decoding did not finish: the caller decodes it again
};

class LazDecoding {
public:
    // `options`: the threads, the filter (the classifications are decoded
    // only for one by class: in layered chunks they are a layer of their
    // own); `seams`, a test's faults: the worker started `failing_start`-th
    // does not start, and the chunk handed in `failing_part`-th (from 0)
    // runs out of memory once decoded; `largest_chunk`: the most bytes and
    // points of any chunk to come (what a chunk in flight may hold).
    LazDecoding(const std::vector<LazItem>& items, const ReadingOptions& options, const ReadingSeams& seams,
                const LazChunkSize& largest_chunk);
    ~LazDecoding();  // lets the decodings under way finish, then joins the workers
    LazDecoding(const LazDecoding&) = delete;
    LazDecoding& operator=(const LazDecoding&) = delete;

    // Whether another chunk can be handed in before the oldest is taken.
    bool has_room() const { return in_flight_ < slots_.size(); }
    bool idle() const { return in_flight_ == 0; }
    // Room for the next chunk in file order: `bytes` bytes to fill, for
    // `count` points. Then submit() it.
    unsigned char* load(std::size_t bytes, std::size_t count);
    void submit();
    // The oldest chunk handed in, once decoded (here if no worker has it).
    const LazChunkWork& oldest();
    // The caller is through with the chunk oldest() gave.
    void release();

private:
    enum class State { free, queued, decoding, done };
    struct Slot {
        LazChunkWork work;
        State state = State::free;
        long ordinal = 0;  // handed in as the ordinal-th chunk since the fault was set
    };

    static void* run(void* pool);
    void work();
    // Decodes s, and t with it unless null.
    void decode(Slot& s, Slot* t);
    // The earliest chunk handed in that nobody decodes yet, besides the
    // slot `besides`, or -1.
    long queued_slot(long besides = -1) const;
    // Whether a worker takes queued chunks now: two, to decode as a pair,
    // or one where no other can come before the caller takes the oldest.
    bool worth_taking() const;
    // A queued chunk to decode with s, now taken (under the lock), or null.
    Slot* partner(const Slot& s);

    const std::vector<LazItem>& items_;
    const LazNeeds needs_;
    std::vector<Slot> slots_;
    std::vector<LeanThread> threads_;
    std::size_t head_ = 0, in_flight_ = 0;  // the oldest slot, and how many are handed in

    std::mutex mutex_;
    std::condition_variable queued_, decoded_;
    bool stopping_ = false;
    long handed_in_ = 0;
    std::atomic<long> failing_chunk_;
};

}  // namespace kestranov
