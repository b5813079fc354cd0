#include "platform/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

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

}  // namespace
}  // namespace kestranov
