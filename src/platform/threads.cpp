#include "platform/threads.h"

#include <malloc.h>
#include <sys/mman.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>
#include <thread>
#include <utility>

namespace kestranov {

namespace {
// More threads than this would only share the same few cores.
constexpr int most_threads = 64;
}  // namespace

namespace {
// The readers need little stack: a number's text and a few frames.
constexpr std::size_t stack_bytes = 128 << 10;
}  // namespace

bool start_lean_thread(LeanThread& t, void* (*work)(void*), void* arg)
{
    // Once, before the first thread: glibc would give each thread a heap of its own.
    static const bool one_heap = (mallopt(M_ARENA_MAX, 1), true);  // NOLINT(concurrency-mt-unsafe): no thread yet
    (void)one_heap;
    t.stack = mmap(nullptr, stack_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (t.stack == MAP_FAILED) {
        t.stack = nullptr;
        return false;
    }
    pthread_attr_t attr;
    bool started = pthread_attr_init(&attr) == 0;
    if (started) {
        started =
            pthread_attr_setstack(&attr, t.stack, stack_bytes) == 0 && pthread_create(&t.thread, &attr, work, arg) == 0;
        pthread_attr_destroy(&attr);
    }
    if (!started) {
        munmap(t.stack, stack_bytes);
        t.stack = nullptr;
    }
    return started;
}

void join_lean_thread(LeanThread& t)
{
    pthread_join(t.thread, nullptr);
    munmap(t.stack, stack_bytes);
    t.stack = nullptr;
}

Beside::Beside(bool apart, std::function<void()> work) : work_(std::move(work))
{
    if (apart) started_ = start_lean_thread(thread_, &Beside::run, this);
    if (!started_) work_();
}

Beside::~Beside()
{
    if (started_) join_lean_thread(thread_);
}

void* Beside::run(void* self)
{
    static_cast<Beside*>(self)->work_();
    return nullptr;
}

int requested_threads()
{
    const char* value = std::getenv("KESTRANOV_THREADS");
    if (!value) return 1;
    const std::string_view text(value);
    if (text == "ALL_CPUS") return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, most_threads);
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 1) return 1;
    return std::min(n, most_threads);
}

}  // namespace kestranov
