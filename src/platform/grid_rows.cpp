#include "platform/grid_rows.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace kestranov {

namespace {

constexpr std::size_t huge_page = std::size_t{2} << 20;
constexpr std::size_t smallest_mapping = 2 * huge_page;
constexpr std::size_t row_alignment = 64;  // a cache line, more than any type needs
constexpr int most_mappings = 64;

struct Mapping {
    char* base = nullptr;
    std::size_t size = 0, used = 0, live = 0;
};

std::mutex guard;
Mapping mappings[most_mappings];
std::size_t mapped = 0;  // bytes in all mappings

std::size_t round_up(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

void* map(std::size_t size)
{
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    madvise(p, size, MADV_HUGEPAGE);  // a request only: refused or unknown, small pages serve
    return p;
}

// A new mapping with room for `bytes`, or null when there is neither a free
// slot nor the memory. Each is as large as all before it together, so that
// the slots last for any grid; under a limit on address space, one just
// large enough is tried before calloc takes over.
Mapping* new_mapping(std::size_t bytes)
{
    for (Mapping& m : mappings) {
        if (m.base) continue;
        const std::size_t least = round_up(bytes > smallest_mapping ? bytes : smallest_mapping, huge_page);
        std::size_t size = least > mapped ? least : mapped;
        void* p = map(size);
        if (!p && size > least) p = map(size = least);
        if (!p) return nullptr;
        m = {static_cast<char*>(p), size, 0, 0};
        mapped += size;
        return &m;
    }
    return nullptr;
}

}  // namespace

void* grid_row_alloc(std::size_t count, std::size_t size)
{
    if (size != 0 && count > SIZE_MAX / size - row_alignment) return nullptr;
    const std::size_t bytes = round_up(count * size, row_alignment);
    {
        std::lock_guard<std::mutex> lock(guard);
        Mapping* m = nullptr;
        for (Mapping& c : mappings)
            if (c.base && c.size - c.used >= bytes) m = &c;
        if (!m) m = new_mapping(bytes);
        if (m) {
            void* row = m->base + m->used;  // never handed out before: still zero
            m->used += bytes;
            ++m->live;
            return row;
        }
    }
    return std::calloc(count, size);
}

void grid_row_free(void* row)
{
    if (!row) return;
    {
        std::lock_guard<std::mutex> lock(guard);
        for (Mapping& m : mappings) {
            if (!m.base || static_cast<char*>(row) < m.base || static_cast<char*>(row) >= m.base + m.size) continue;
            if (--m.live == 0) {
                munmap(m.base, m.size);
                mapped -= m.size;
                m = {};
            }
            return;
        }
    }
    std::free(row);
}

}  // namespace kestranov
