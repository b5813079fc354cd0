#include "points/block_pipeline.h"

#include <algorithm>
#include <new>

#include "platform/cpu_features.h"
#include "platform/memory.h"
#include "points/number_scanner.h"

namespace kestranov {

BlockPipeline::BlockPipeline(BlockSource& source, int part_threads, ReadingFaults& faults, VectorPath path)
    : source_(source), faults_(faults), shapes_(new ShapeCache)
{
    shapes_->path = path;
    for (Block& b : blocks_) b.buffer = source.new_block(true);
    if (part_threads > 1) {
        parts_.reset(new PartScanner(part_threads, 1, faults, path));
        if (parts_->threads() == 0) parts_.reset();
    }
    if (parts_) most_share_ = 32;
    const std::size_t runs = parts_ ? parts_->threads() : 1;
    for (Block& b : blocks_) b.runs.resize(runs);
}

std::unique_ptr<BlockPipeline> BlockPipeline::start(BlockSource& source, int threads, std::optional<VectorPath> path,
                                                    ReadingFaults& faults)
{
    try {
        std::unique_ptr<BlockPipeline> p(new BlockPipeline(source, threads - 1, faults, vector_path(path)));
        if (faults.start_fails(0) || !start_lean_thread(p->thread_, &BlockPipeline::run, p.get())) return nullptr;
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
    if (slots_[slot] != Slot::free) share_ = std::min(share_ + 1, most_share_);  // the caller is behind
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

// The front share of the block, by the pool or by this thread.
void BlockPipeline::scan(Block& b)
{
    int share;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        share = share_;
    }
    const char* first = b.bytes.first;
    const char* last = b.bytes.cut;
    const char* cut = blank_cut(first + (last - first) / 32 * share, last);
    if (parts_) {
        parts_->start(first, cut, b.runs);
        parts_->wait();
    } else {
        read_part(first, cut, b.runs[0], *shapes_, faults_);
    }
    b.rest = cut;
}

// The block source's reading, with each block handed on instead of scanned
// on the spot.
void BlockPipeline::produce()
{
    int slot = 0;
    source_.read([&]() -> char* { return wait_free(slot) ? blocks_[slot].buffer.get() : nullptr; },
                 [&](const ByteBlock& bytes) {
                     Block& b = blocks_[slot];
                     b.bytes = bytes;
                     b.rest = bytes.cut;
                     if (bytes.end == ByteBlock::End::more || bytes.end == ByteBlock::End::last) scan(b);
                     publish(slot);
                     slot = 1 - slot;
                 });
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
