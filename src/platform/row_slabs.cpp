#include "platform/row_slabs.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <set>

#include "platform/memory.h"

namespace kestranov {

namespace {

constexpr std::size_t slab_bytes = std::size_t{1} << 21;  // a large page, aligned to itself
constexpr std::size_t alignment = 16;
// The head of a slab: its blocks still out.
struct SlabHead {
    std::size_t live;
};
constexpr std::size_t head_bytes = (sizeof(SlabHead) + alignment - 1) & ~(alignment - 1);

struct Slabs {
    std::mutex mutex;
    std::set<const char*> held;  // every slab with a block out
    char* current = nullptr;     // the slab being filled, or null
    std::size_t used = 0;        // its bytes handed out, head included
};

Slabs& slabs()
{
    static Slabs* const s = new Slabs;  // never destroyed: blocks may go back during the exit
    return *s;
}

SlabHead* head_of(char* slab) { return reinterpret_cast<SlabHead*>(slab); }

void give_back(Slabs& s, char* slab)
{
    s.held.erase(slab);
    if (s.current == slab) s.current = nullptr;
    GiveBack{slab_bytes}(slab);
}

}  // namespace

void* slab_zeroed(std::size_t count, std::size_t size)
{
    if (count == 0 || size == 0 || count > SIZE_MAX / size) return nullptr;
    const std::size_t bytes = (count * size + alignment - 1) & ~(alignment - 1);
    if (bytes > slab_bytes / 4) return std::calloc(count, size);
    Slabs& s = slabs();
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.current || s.used + bytes > slab_bytes) {
        auto* const slab = static_cast<char*>(allocate_zeroed_in_large_pages(slab_bytes));
        // Short of address space for a slab (it is mapped with a large page
        // to spare, to align it), the block may still be had on its own.
        if (!slab) return std::calloc(count, size);
        try {
            s.held.insert(slab);
        } catch (const std::bad_alloc&) {
            GiveBack{slab_bytes}(slab);
            return std::calloc(count, size);
        }
        // The slab before, full, goes back with its last block.
        s.current = slab, s.used = head_bytes;
        head_of(slab)->live = 0;
    }
    char* const block = s.current + s.used;
    s.used += bytes;
    ++head_of(s.current)->live;
    return block;
}

void slab_release(void* block)
{
    if (!block) return;
    Slabs& s = slabs();
    // The slab it would be in, as the start of that large page.
    char* const slab = static_cast<char*>(block) - (reinterpret_cast<std::uintptr_t>(block) & (slab_bytes - 1));
    {
        const std::lock_guard<std::mutex> lock(s.mutex);
        if (s.held.count(slab)) {
            if (--head_of(slab)->live == 0) give_back(s, slab);
            return;
        }
    }
    std::free(block);
}

}  // namespace kestranov
