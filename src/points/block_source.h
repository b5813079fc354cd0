// The one place a point file's text is read in blocks: it carries the token
// a block's end cut into the next block, ends where the text ends (the
// input file stops at a byte 0x1A), and marks a token longer than a whole
// block, which no block could hold. It runs where it is called: inline, or
// on the reading thread of the block pipeline. The faults it meets travel
// with the block, so that the reader reports them in file order.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/input_file.h"

namespace kestranov {

struct ByteBlock {
    enum class End { more, last, unreadable, token_too_long };
    char* first = nullptr;      // the token the block before cut, then the bytes read after it
    const char* cut = nullptr;  // the block's whole tokens end here; the last block's are followed by a blank
    End end = End::more;        // token_too_long: [first, cut) is that token
};

// Where the block's whole tokens end: after its last white space. The
// bytes after it (a token the block cut) start the next block.
const char* last_blank_end(const char* first, const char* end);
// A cut at `at` moved on to the next white space (or `last`), so that a
// part of a block holds whole tokens.
const char* blank_cut(const char* at, const char* last);

class BlockSource {
public:
    BlockSource(InputFile& f, std::size_t block_size) : f_(f), block_size_(block_size) {}
    BlockSource(const BlockSource&) = delete;
    BlockSource& operator=(const BlockSource&) = delete;

    // A buffer for one block: the block's bytes, room for a blank after its
    // last byte and for the loads of the record path beyond it.
    std::unique_ptr<char[]> new_block() const;

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

    InputFile& f_;
    std::size_t block_size_;
    const char* tail_ = nullptr;  // the cut token, still at the end of the block before
    std::size_t carry_ = 0;       // its bytes
};

}  // namespace kestranov
