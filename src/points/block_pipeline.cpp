#include "points/block_pipeline.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/memory.h"
#include "points/number_scanner.h"
#include "points/record_path.h"

namespace kestranov {

const char* last_blank_end(const char* first, const char* end)
{
    const char* cut = end;
    while (cut > first && !is_blank(cut[-1])) --cut;
    return cut;
}

std::unique_ptr<char[]> new_text_block(std::size_t block_size)
{
    // Only the padding is cleared: the bytes the record path loads beyond
    // the text never decide anything, and clearing the whole block would
    // touch every page of it once more.
    std::unique_ptr<char[]> block(new char[block_size + 1 + record_padding]);
    std::memset(block.get() + block_size, 0, 1 + record_padding);
    return block;
}

BlockPipeline::BlockPipeline(InputFile& f, std::size_t block_size, int part_threads)
    : f_(f), block_size_(block_size), carry_(new char[block_size]), shapes_(new ShapeCache)
{
    for (Block& b : blocks_) b.bytes = new_text_block(block_size);
    if (part_threads > 1) {
        parts_.reset(new PartScanner(part_threads, 1));
        if (parts_->threads() == 0) parts_.reset();
    }
    const std::size_t runs = parts_ ? parts_->threads() : 2;
    for (Block& b : blocks_) b.runs.resize(runs);
}

std::unique_ptr<BlockPipeline> BlockPipeline::start(InputFile& f, std::size_t block_size, int threads)
{
    try {
        std::unique_ptr<BlockPipeline> p(new BlockPipeline(f, block_size, threads - 1));
        if (part_scanner_start_fails(0) || !start_lean_thread(p->thread_, &BlockPipeline::run, p.get())) return nullptr;
        p->started_ = true;
        return p;
    } catch (const std::bad_alloc&) {
        hold_memory_for_failures();  // given back on the way here
        return nullptr;
    }
}

BlockPipeline::~BlockPipeline()
{
    if (!started_) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    join_lean_thread(thread_);
}

void* BlockPipeline::run(void* pipeline)
{
    static_cast<BlockPipeline*>(pipeline)->produce();
    return nullptr;
}

bool BlockPipeline::wait_free(int slot)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (slots_[slot] != Slot::free) share_ = std::min(share_ + 1, 28);  // the caller is behind
    changed_.wait(lock, [&] { return stopping_ || slots_[slot] == Slot::free; });
    return !stopping_;
}

void BlockPipeline::publish(int slot)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        slots_[slot] = Slot::filled;
    }
    changed_.notify_all();
}

void BlockPipeline::scan(Block& b, const char* first, const char* last)
{
    if (parts_) {
        parts_->start(first, last, b.runs);
        parts_->wait();
        return;
    }
    int share;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        share = share_;
    }
    const char* cut = first + (last - first) / 32 * share;
    while (cut < last && !is_blank(*cut)) ++cut;
    read_part(first, cut, b.runs[0], *shapes_);
    TokenRun& rest = b.runs[1];
    rest.first = cut, rest.last = last, rest.failed = true;
}

// The reading itself, as on one thread, with each block handed on instead
// of scanned on the spot.
void BlockPipeline::produce()
{
    std::size_t carry = 0;
    for (int slot = 0;; slot = 1 - slot) {
        if (!wait_free(slot)) return;
        Block& b = blocks_[slot];
        char* first = b.bytes.get();
        std::memcpy(first, carry_.get(), carry);
        const long n = f_.read(first + carry, block_size_ - carry);
        b.end = Block::End::more;
        if (n < 0) {
            b.end = Block::End::unreadable;
        } else if (n == 0) {
            first[carry] = ' ';  // the last token ends before the end of the buffer
            scan(b, first, first + carry);
            b.end = Block::End::last;
        } else {
            const char* end = first + carry + static_cast<std::size_t>(n);
            const char* cut = last_blank_end(first, end);
            if (cut == first && end == first + block_size_) {
                b.end = Block::End::token_too_long, b.first = first, b.last = end;
            } else {
                scan(b, first, cut);
                carry = static_cast<std::size_t>(end - cut);
                std::memcpy(carry_.get(), cut, carry);
            }
        }
        publish(slot);
        if (b.end != Block::End::more) return;
    }
}

const BlockPipeline::Block& BlockPipeline::next()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (slots_[taken_] != Slot::filled) share_ = std::max(share_ - 1, 4);  // the reading thread is behind
    changed_.wait(lock, [&] { return slots_[taken_] == Slot::filled; });
    slots_[taken_] = Slot::taken;
    return blocks_[taken_];
}

void BlockPipeline::release()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        slots_[taken_] = Slot::free;
        taken_ = 1 - taken_;
    }
    changed_.notify_all();
}

}  // namespace kestranov
