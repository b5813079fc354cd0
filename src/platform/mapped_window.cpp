#include "platform/mapped_window.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <mutex>

namespace kestranov {

namespace {

// The windows mapped now, for the bus-error handler to tell a byte past a
// cut file from any other fault. A window needs a free slot to be mapped.
struct Slot {
    std::atomic<std::uintptr_t> from{0};
    std::atomic<std::uintptr_t> to{0};
    std::atomic<bool> cut{false};
    std::atomic<bool> taken{false};
};
constexpr int slot_count = 16;
Slot slots[slot_count];

std::mutex handler_mutex;
int windows_mapped = 0;
struct sigaction previous {};

// A byte past the end of a file cut shorter: the window's pages from there
// become zeros and the access is made again; any other bus error goes to
// the action there was before, as if this handler had never been.
void on_bus_error(int signal, siginfo_t* info, void* context)
{
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    for (Slot& s : slots) {
        const std::uintptr_t from = s.from.load(std::memory_order_acquire);
        const std::uintptr_t to = s.to.load(std::memory_order_acquire);
        if (from == 0 || at < from || at >= to) continue;
        // The page of the faulting byte, reached from its address itself.
        char* const zeros = static_cast<char*>(info->si_addr) - (at & (page - 1));
        if (mmap(zeros, to - reinterpret_cast<std::uintptr_t>(zeros), PROT_READ,
                 MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) == MAP_FAILED)
            break;
        s.cut.store(true, std::memory_order_release);
        return;
    }
    // Not a window's: the handler there was before takes it, and this one
    // stays for the windows still mapped. A default or ignored action is
    // put back for the access to fault again under it (the system never
    // ignores a bus error the processor raised).
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction)
        return previous.sa_sigaction(signal, info, context);
    if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN)
        return previous.sa_handler(signal);
    sigaction(SIGBUS, &previous, nullptr);
}

// The handler is there while any window is mapped, and the action before it
// is put back after the last one: a bus error outside a reading is what it
// always was.
void window_mapped()
{
    const std::lock_guard<std::mutex> lock(handler_mutex);
    if (windows_mapped++ > 0) return;
    struct sigaction action {};
    action.sa_sigaction = on_bus_error;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previous);
}

void window_unmapped()
{
    const std::lock_guard<std::mutex> lock(handler_mutex);
    if (--windows_mapped == 0) sigaction(SIGBUS, &previous, nullptr);
}

}  // namespace

bool MappedWindow::map(int fd, std::uint64_t offset, std::size_t length)
{
    unmap();
    int slot = 0;
    while (slot < slot_count && slots[slot].taken.exchange(true)) ++slot;
    if (slot == slot_count) return false;
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t start = offset & ~(page - 1);
    const std::size_t bytes = length + static_cast<std::size_t>(offset - start);
    void* base = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, static_cast<off_t>(start));
    if (base == MAP_FAILED) {
        slots[slot].taken.store(false);
        return false;
    }
    window_mapped();
    Slot& s = slots[slot];
    s.cut.store(false);
    const auto from = reinterpret_cast<std::uintptr_t>(base);
    s.to.store(from + (bytes + page - 1) / page * page, std::memory_order_release);
    s.from.store(from, std::memory_order_release);
    base_ = base;
    mapped_ = bytes;
    data_ = static_cast<const char*>(base) + (offset - start);
    slot_ = slot;
    return true;
}

void MappedWindow::unmap()
{
    if (!base_) return;
    Slot& s = slots[slot_];
    s.from.store(0, std::memory_order_release);
    s.to.store(0, std::memory_order_release);
    munmap(base_, mapped_);
    window_unmapped();
    s.taken.store(false);
    base_ = nullptr;
    data_ = nullptr;
    slot_ = -1;
}

const std::atomic<bool>* MappedWindow::cut() const { return slot_ < 0 ? nullptr : &slots[slot_].cut; }

}  // namespace kestranov
