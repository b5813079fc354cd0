#include "platform/memory.h"
#include "platform/row_slabs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace kestranov {
namespace {

// Zeroed memory below and from a large page on: all of it zeros and
// writable, the large kind aligned to its page, and given back whole; its
// pages given memory ahead of use keep what was written.
TEST(ZeroedMemory, IsZeroAlignedAndWholeOnEitherSideOfALargePage)
{
    constexpr std::size_t large = std::size_t{1} << 21;
    for (const std::size_t bytes : {std::size_t{1}, large - 1, large, 5 * large + 3}) {
        SCOPED_TRACE(bytes);
        auto* const data = static_cast<unsigned char*>(allocate_zeroed_in_large_pages(bytes));
        ASSERT_NE(data, nullptr);
        EXPECT_TRUE(std::all_of(data, data + bytes, [](unsigned char b) { return b == 0; }));
        if (bytes >= large) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % large, 0u);
        }
        std::memset(data, 0xa5, bytes);
        // Given memory by two threads from an unaligned start: not a byte changed.
        populate_for_writing(data + 1, bytes - 1, true);
        EXPECT_TRUE(std::all_of(data, data + bytes, [](unsigned char b) { return b == 0xa5; }));
        GiveBack{bytes}(data);
    }
}

// Rows of a few sizes over several slabs, some too large for one, released
// so that slabs empty while others still hold blocks: every block zeros,
// aligned, apart from the others and its own until released; the blocks of
// a second round, in slabs taken anew, zeros again.
TEST(RowSlabs, BlocksAreZeroApartAndKeptUntilReleased)
{
    for (int round = 0; round < 2; ++round) {
        std::vector<std::pair<unsigned char*, std::size_t>> blocks;
        for (std::size_t k = 0; k < 700; ++k) {
            const std::size_t bytes = k % 50 == 49 ? std::size_t{1} << 20 : 8 * (1000 + k % 3);
            auto* const b = static_cast<unsigned char*>(slab_zeroed(bytes / 8, 8));
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % 16, 0u);
            EXPECT_TRUE(std::all_of(b, b + bytes, [](unsigned char c) { return c == 0; })) << round << " " << k;
            std::memset(b, static_cast<int>(k % 251 + 1), bytes);
            blocks.emplace_back(b, bytes);
        }
        for (std::size_t k = 0; k < blocks.size(); k += 2) slab_release(blocks[k].first);
        for (std::size_t k = 1; k < blocks.size(); k += 2) {
            const auto [b, bytes] = blocks[k];
            EXPECT_TRUE(std::all_of(b, b + bytes, [&](unsigned char c) { return c == k % 251 + 1; })) << k;
            slab_release(b);
        }
    }
}

}  // namespace
}  // namespace kestranov
