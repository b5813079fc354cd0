#include "points/block_source.h"

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

const char* blank_cut(const char* at, const char* last)
{
    while (at < last && !is_blank(*at)) ++at;
    return at;
}

BlockBuffer BlockSource::new_block(bool large_pages) const
{
    // Only the padding is cleared: the bytes the record path loads beyond
    // the text never decide anything, and clearing the whole block would
    // touch every page of it once more. Large pages hold the text only: the
    // padding past a block of whole large pages needs but a small one.
    const std::size_t bytes = block_size_ + 1 + record_padding;
    BlockBuffer block(
        static_cast<char*>(large_pages ? allocate_in_large_pages(bytes, block_size_) : std::malloc(bytes)));
    if (!block) throw std::bad_alloc();
    std::memset(block.get() + block_size_, 0, 1 + record_padding);
    return block;
}

BlockSource::BlockSource(InputFile& f, std::size_t block_size, std::size_t step, int windows)
    : f_(f), block_size_(block_size), step_(step == 0 ? block_size : std::min(step, block_size))
{
    if (windows <= 0) return;
    size_ = f.size();
    offset_ = checked_ = f.position();
    if (offset_ + step_ + 1 + record_padding > size_) return;
    windows_.reset(new (std::nothrow) MappedWindow[static_cast<std::size_t>(windows)]);
    window_count_ = windows_ ? windows : 0;
    mapping_ = window_count_ > 0;
}

// The rest of the file is read as it always was, from the first byte of
// the block that was not handed on.
void BlockSource::stop_mapping()
{
    mapping_ = false;
    carry_ = 0;
    unreadable_ = !f_.seek(offset_);
}

std::optional<ByteBlock> BlockSource::next_mapped()
{
    const std::uint64_t at = offset_;
    // A step at a time, as a read would take it, while its bytes hold a
    // blank: they stay in the processor's caches from the search for 0x1A
    // through the scanning. A token as long as a step has a whole block.
    for (std::size_t span = step_;; span = block_size_) {
        if (at + span + 1 + record_padding > size_) return stop_mapping(), std::nullopt;
        // The window of two blocks before, which nobody reads any more.
        MappedWindow& w = windows_[static_cast<std::size_t>(turn_)];
        if (!f_.map(w, at, span + 1 + record_padding)) return stop_mapping(), std::nullopt;
        char* first = const_cast<char*>(w.data());  // never written: the block is whole tokens and its padding
        const char* end = first + span;
        // A 0x1A ends the text: the reading goes on as it always did from
        // this block on, which finds it.
        if (checked_ < at + span && std::memchr(first + (checked_ - at), 0x1A, at + span - checked_))
            return w.unmap(), stop_mapping(), std::nullopt;
        checked_ = std::max(checked_, at + span);
        ByteBlock b{first, last_blank_end(first, end), ByteBlock::End::more, w.cut()};
        if (b.cut == first) {
            if (span < block_size_) continue;
            b.cut = end;
            b.end = ByteBlock::End::token_too_long;
        }
        turn_ = (turn_ + 1) % window_count_;
        offset_ = at + static_cast<std::uint64_t>(b.cut - first);
        f_.reached(at + span);
        return b;
    }
}

ByteBlock BlockSource::next(char* bytes)
{
    if (mapping_)
        if (const std::optional<ByteBlock> b = next_mapped()) return *b;
    if (unreadable_) return {bytes, bytes, ByteBlock::End::unreadable};
    // The buffer may be the very one the cut token stands in.
    if (carry_) std::memmove(bytes, tail_, carry_);
    ByteBlock b{bytes, bytes, ByteBlock::End::more};
    const long n = f_.read(bytes + carry_, std::min(block_size_ - carry_, step_));
    if (n < 0) {
        b.end = ByteBlock::End::unreadable;
    } else if (n == 0) {
        bytes[carry_] = ' ';  // the last token ends before the end of the buffer
        b.cut = bytes + carry_;
        b.end = ByteBlock::End::last;
    } else {
        const char* end = bytes + carry_ + static_cast<std::size_t>(n);
        b.cut = last_blank_end(bytes, end);
        if (b.cut == bytes && end == bytes + block_size_) b.cut = end, b.end = ByteBlock::End::token_too_long;
        tail_ = b.cut;
        carry_ = static_cast<std::size_t>(end - b.cut);
    }
    return b;
}

}  // namespace kestranov
