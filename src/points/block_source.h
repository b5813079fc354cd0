// The one place a point file's text is read in blocks: it carries the token
// a block's end cut into the next block, ends where the text ends (the
// input file stops at a byte 0x1A), and marks a token longer than a whole
// block, which no block could hold. It runs where it is called: inline, or
// on the reading thread of the block pipeline. The faults it meets travel
// with the block, so that the reader reports them in file order.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include "platform/input_file.h"
#include "platform/mapped_window.h"

namespace kestranov {

// Memory from malloc (or allocate_in_large_pages), given back with free.
struct FreeBytes {
    void operator()(void* p) const { std::free(p); }
};
using BlockBuffer = std::unique_ptr<char[], FreeBytes>;

struct ByteBlock {
    enum class End { more, last, unreadable, token_too_long };
    char* first = nullptr;      // the token the block before cut, then the bytes read after it
    const char* cut = nullptr;  // the block's whole tokens end here; the last block's are followed by a blank
    End end = End::more;        // token_too_long: [first, cut) is that token
    // A block read in place from a mapping of the file: set when the file
    // was cut shorter under it, whose bytes past the cut then read as zeros.
    const std::atomic<bool>* file_cut = nullptr;
    bool cut_under_it() const { return file_cut && file_cut->load(std::memory_order_acquire); }
};

// Where the block's whole tokens end: after its last white space. The
// bytes after it (a token the block cut) start the next block.
const char* last_blank_end(const char* first, const char* end);
// A cut at `at` moved on to the next white space (or `last`), so that a
// part of a block holds whole tokens.
const char* blank_cut(const char* at, const char* last);

class BlockSource {
public:
    // Each block holds up to `block_size` bytes, of which at most `step`
    // are read at a time (0: a whole block): a block read in small steps
    // stays in the processor's caches from its reading to its scanning, and
    // its buffer's untouched pages are never faulted in; a token cut by a
    // step grows in the next block up to the whole block.
    //
    // With `windows` (1, or 2 for a block handed on while the next is
    // read), the blocks are read in place from a mapping of the file,
    // without the copy out of the page cache, as long as a whole block and
    // the record path's padding lie before the file's end and there is no
    // 0x1A among them; the blocks are then where the file's bytes are, not
    // the buffers `room()` gives, and hold the same tokens.
    BlockSource(InputFile& f, std::size_t block_size, std::size_t step = 0, int windows = 0);
    BlockSource(const BlockSource&) = delete;
    BlockSource& operator=(const BlockSource&) = delete;

    // A buffer for one block: the block's bytes, room for a blank after its
    // last byte and for the loads of the record path beyond it. With
    // `large_pages`, backed by 2 MiB pages where the system allows: a block
    // read whole is touched from end to end, and a 4 KiB page a fault costs
    // a thousand faults a block. Throws std::bad_alloc.
    BlockBuffer new_block(bool large_pages = false) const;

    // Reads the file to its end or to its first fault: `room()` gives the
    // buffer of each next block (null: stop reading), and `take(block)` has
    // the block. A buffer may be the one the block before was read into.
    template <class Room, class Take>
    void read(Room room, Take take)
    {
        for (;;) {
            char* bytes = room();
            if (!bytes) return;
            const ByteBlock block = next(bytes);
            take(block);
            if (block.end != ByteBlock::End::more) return;
        }
    }

private:
    ByteBlock next(char* bytes);
    std::optional<ByteBlock> next_mapped();
    void stop_mapping();

    InputFile& f_;
    std::size_t block_size_;
    std::size_t step_;
    const char* tail_ = nullptr;  // the cut token, still at the end of the block before
    std::size_t carry_ = 0;       // its bytes

    // Reading through mappings: the file's size when the reading began,
    // where the next block begins, how far the file is known free of 0x1A,
    // and the windows, used in turn.
    bool mapping_ = false;
    bool unreadable_ = false;  // the reading could not go on where the mappings ended
    std::uint64_t size_ = 0;
    std::uint64_t offset_ = 0;
    std::uint64_t checked_ = 0;
    std::unique_ptr<MappedWindow[]> windows_;
    int window_count_ = 0;
    int turn_ = 0;
};

}  // namespace kestranov
