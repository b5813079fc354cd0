#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "platform/threads.h"

namespace kestranov {

namespace {

constexpr std::uint64_t unknown = UINT64_MAX;

// Whether the comma-separated `list` holds `word`.
bool has_word(const std::string& list, const std::string& word)
{
    std::istringstream s(list);
    for (std::string item; std::getline(s, item, ',');)
        if (item == word) return true;
    return false;
}

// A number at the start of a file ("max" or anything else: unknown).
std::uint64_t number_in(const std::string& path)
{
    std::ifstream f(path);
    std::uint64_t v = 0;
    return f >> v ? v : unknown;
}

std::uint64_t mem_available()
{
    std::ifstream f("/proc/meminfo");
    std::string key;
    std::uint64_t kib = 0;
    while (f >> key >> kib) {
        if (key == "MemAvailable:") return kib * 1024;
        f.ignore(1 << 10, '\n');
    }
    return unknown;
}

// Where a control group hierarchy is mounted: the folder, and the group
// path that its root stands for (a container sees its own group as "/").
struct Mount {
    std::string folder, root;
};

Mount mount_of(bool version2)
{
    std::ifstream f("/proc/self/mountinfo");
    for (std::string line; std::getline(f, line);) {
        std::istringstream s(line);
        std::string id, parent, device, root, folder, field;
        s >> id >> parent >> device >> root >> folder;
        while (s >> field && field != "-") {
        }
        std::string type, source, options;
        s >> type >> source >> options;
        if (version2 ? type == "cgroup2" : type == "cgroup" && has_word(options, "memory")) return {folder, root};
    }
    return {};
}

// The headroom of the group at `path` and of every group above it: a limit
// set on a parent binds its children too.
std::uint64_t headroom(const Mount& m, std::string path, const char* limit_file, const char* usage_file)
{
    if (m.folder.empty()) return unknown;
    if (m.root != "/" && path.rfind(m.root, 0) == 0) path.erase(0, m.root.size());
    std::uint64_t least = unknown;
    for (;;) {
        const std::string folder = m.folder + (path == "/" ? "" : path);
        const std::uint64_t limit = number_in(folder + "/" + limit_file);
        const std::uint64_t used = number_in(folder + "/" + usage_file);
        if (limit != unknown && used != unknown) least = std::min(least, limit > used ? limit - used : 0);
        if (path.empty() || path == "/") return least;
        path.erase(path.rfind('/'));
        if (path.empty()) path.push_back('/');
    }
}

std::uint64_t group_headroom()
{
    std::uint64_t least = unknown;
    std::ifstream f("/proc/self/cgroup");
    for (std::string line; std::getline(f, line);) {
        const auto first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (line.compare(0, first, "0") == 0 && controllers.empty())
            least = std::min(least, headroom(mount_of(true), path, "memory.max", "memory.current"));
        else if (has_word(controllers, "memory"))
            least = std::min(least, headroom(mount_of(false), path, "memory.limit_in_bytes", "memory.usage_in_bytes"));
    }
    return least;
}

std::uint64_t physical_memory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

}  // namespace

namespace {

// Enough for the exception object and for what the run does on its way to
// the message; below the size that malloc maps on its own, so that it comes
// from the heap and goes back to it.
constexpr std::size_t held_size = 16 << 10;
std::atomic<void*> held{nullptr};

// Threads reading the points may run short at the same moment: the exchange
// lets only one of them free the memory.
void give_back_held_memory()
{
    std::free(held.exchange(nullptr));
    throw std::bad_alloc();
}

}  // namespace

bool hold_memory_for_failures()
{
    if (held.load() == nullptr) {
        void* memory = std::malloc(held_size);
        if (memory == nullptr) return false;
        void* none = nullptr;
        if (!held.compare_exchange_strong(none, memory)) std::free(memory);
    }
    std::set_new_handler(give_back_held_memory);
    return true;
}

std::uint64_t available_memory_bytes()
{
    const std::uint64_t least = std::min(mem_available(), group_headroom());
    return least != unknown ? least : physical_memory();
}

namespace {
constexpr std::uintptr_t large = std::uintptr_t{1} << 21;
}  // namespace

void prefer_large_pages(void* data, std::size_t bytes)
{
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t from = (start + large - 1) & ~(large - 1), to = (start + bytes) & ~(large - 1);
    // Only whole large pages: the memory around them may be the allocator's.
    // Advice the system may ignore, so its answer does not matter.
    if (from < to) (void)madvise(static_cast<char*>(data) + (from - start), to - from, MADV_HUGEPAGE);
}

void populate_for_writing(void* data, std::size_t bytes, bool two_threads)
{
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23;  // NOLINT(readability-identifier-naming): the system's name
#endif
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t from = (start + page - 1) & ~(page - 1), to = (start + bytes) & ~(page - 1);
    // Only whole pages, as above; a kernel without the advice refuses it.
    const auto populate = [&](std::uintptr_t a, std::uintptr_t b) {
        if (a < b) (void)madvise(static_cast<char*>(data) + (a - start), b - a, MADV_POPULATE_WRITE);
    };
    if (from >= to) return;
    // Split on a large page's edge: each thread's share in whole ones.
    const std::uintptr_t middle = std::clamp(((from + to) / 2) & ~(large - 1), from, to);
    // A second thread only where it spares more than it costs to start.
    if (!two_threads || to - from < 2 * large) {
        populate(from, to);
        return;
    }
    const Beside second(true, [&] { populate(middle, to); });
    populate(from, middle);
}

void* allocate_zeroed_in_large_pages(std::size_t bytes)
{
    if (bytes < large) return std::calloc(bytes, 1);
    if (bytes > SIZE_MAX - 2 * large) return nullptr;
    const std::size_t whole = (bytes + large - 1) & ~(large - 1);
    // A large page more than needed, its unaligned head and tail given back.
    void* const mapped = mmap(nullptr, whole + large, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::size_t head = ((start + large - 1) & ~(large - 1)) - start;
    char* const data = static_cast<char*>(mapped) + head;
    if (head > 0) munmap(mapped, head);
    munmap(data + whole, large - head);
    (void)madvise(data, whole, MADV_HUGEPAGE);
    return data;
}

void GiveBack::operator()(void* data) const
{
    if (zeroed < large)
        std::free(data);
    else
        munmap(data, (zeroed + large - 1) & ~(large - 1));
}

void* allocate_in_large_pages(std::size_t bytes, std::size_t advised)
{
    if (bytes < large) return std::malloc(bytes);
    if (bytes > SIZE_MAX - large) return nullptr;
    const std::size_t whole = (bytes + large - 1) & ~(large - 1);
    void* const data = std::aligned_alloc(large, whole);
    if (data) prefer_large_pages(data, std::min(whole, advised));
    return data;
}

}  // namespace kestranov
