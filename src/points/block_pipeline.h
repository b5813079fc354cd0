// A text point file read ahead of its consumer: a thread of its own reads
// the blocks in turn and scans each one (itself, or in parts on further
// threads) while the caller takes the numbers of the block before; two
// blocks take turns. With one reading thread, the caller scans the end of
// each block itself, so that both threads stay busy: the reading thread's
// share of each block follows which of the two had to wait for the other. Whatever goes wrong on those threads travels
// with its block, so that the caller reports it in file order (a file that cannot be read, a token longer than a block)
// or reads a part again itself (a thread that ran out of memory): the run is the run on one thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/input_file.h"
#include "platform/threads.h"
#include "points/part_scanner.h"

namespace kestranov {

// A block of `block_size` bytes, with room for a blank after its last byte
// and for the loads of the record path beyond it.
std::unique_ptr<char[]> new_text_block(std::size_t block_size);
// Where a block's whole tokens end: after its last white space. The bytes
// after it (a token the block cut) start the next block.
const char* last_blank_end(const char* first, const char* end);

class BlockPipeline {
public:
    struct Block {
        enum class End { more, last, unreadable, token_too_long };
        std::unique_ptr<char[]> bytes;
        // The block's numbers, part by part in file order; a part marked
        // failed is for the caller to scan.
        std::vector<TokenRun> runs;
        End end = End::more;
        const char* first = nullptr;  // the token longer than a block
        const char* last = nullptr;
    };

    // Starts reading `f` in blocks of `block_size` bytes on `threads` - 1
    // threads (one reads; with three or more, the others scan parts);
    // null when the system has too little memory or no thread for it.
    static std::unique_ptr<BlockPipeline> start(InputFile& f, std::size_t block_size, int threads);
    ~BlockPipeline();  // stops the reading wherever it is and joins the threads
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // The next block in file order, once it is read and scanned.
    const Block& next();
    // The caller is through with the block next() gave.
    void release();

private:
    enum class Slot { free, filled, taken };

    BlockPipeline(InputFile& f, std::size_t block_size, int part_threads);
    static void* run(void* pipeline);
    void produce();
    bool wait_free(int slot);
    void publish(int slot);
    void scan(Block& b, const char* first, const char* last);

    InputFile& f_;
    std::size_t block_size_;
    Block blocks_[2];
    std::unique_ptr<char[]> carry_;  // the token the last block's end cut, for the next block
    std::unique_ptr<ShapeCache> shapes_;
    std::unique_ptr<PartScanner> parts_;  // with three threads or more
    LeanThread thread_;
    bool started_ = false;

    std::mutex mutex_;
    std::condition_variable changed_;
    Slot slots_[2] = {Slot::free, Slot::free};
    int taken_ = 0;  // the slot the caller reads next
    bool stopping_ = false;
    int share_ = 16;  // of each block scanned by the reading thread, in 32nds
};

}  // namespace kestranov
