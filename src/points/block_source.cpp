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

ByteBlock BlockSource::next(char* bytes)
{
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
