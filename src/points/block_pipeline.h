// A text point file read ahead of its consumer, on any number of threads
// above one, in one scheme: a reading thread takes the blocks from the
// block source in turn and has the front share of each scanned (by itself,
// or cut into parts by a pool of further threads), while the caller scans
// the rest of the block and takes the numbers of the block before into the
// grid; two blocks take turns. The share follows which side had to wait for
// the other, so that both stay busy: with a pool it may grow to the whole
// block, leaving the caller only the grid; with two threads it stays below
// 28/32, the bound the two-thread reading was measured with (make bench).
// Whatever goes wrong on those threads travels with its block, so that the
// caller reports it in file order (a file that cannot be read, a token
// longer than a block) or reads a part again itself (a thread that ran out
// of memory): the run is the run on one thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "core/reading_options.h"
#include "platform/threads.h"
#include "points/block_source.h"
#include "points/part_scanner.h"

namespace kestranov {

class BlockPipeline {
public:
    struct Block {
        BlockBuffer buffer;
        ByteBlock bytes;  // as the source read it into `buffer`
        // The numbers of the block's front share, part by part in file
        // order; a part out of memory is for the caller to scan again.
        std::vector<TokenRun> runs;
        const char* rest = nullptr;  // [rest, bytes.cut): the share the caller scans
    };

    // Starts reading `source` on `threads` - 1 threads (one reads; with
    // three or more, the others scan parts) on the vector path `path`
    // (empty: the widest); null when the system has too little memory or
    // no thread for it.
    static std::unique_ptr<BlockPipeline> start(BlockSource& source, int threads, std::optional<VectorPath> path,
                                                ReadingFaults& faults);
    ~BlockPipeline();  // stops the reading wherever it is and joins the threads
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // The next block in file order, once it is read and its front scanned.
    const Block& next();
    // The caller is through with the block next() gave.
    void release();

private:
    enum class Slot { free, filled, taken };

    BlockPipeline(BlockSource& source, int part_threads, ReadingFaults& faults, VectorPath path);
    static void* run(void* pipeline);
    void produce();
    bool wait_free(int slot);
    void publish(int slot);
    void scan(Block& b);

    BlockSource& source_;
    ReadingFaults& faults_;
    Block blocks_[2];
    std::unique_ptr<ShapeCache> shapes_;
    std::unique_ptr<PartScanner> parts_;  // with three threads or more
    LeanThread thread_;
    bool started_ = false;

    std::mutex mutex_;
    std::condition_variable changed_;
    Slot slots_[2] = {Slot::free, Slot::free};
    int taken_ = 0;  // the slot the caller reads next
    bool stopping_ = false;
    int share_ = 16;  // of each block scanned ahead of the caller, in 32nds
    int most_share_ = 28;
};

}  // namespace kestranov
