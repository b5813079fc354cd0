// How many threads the user lets a run use, from KESTRANOV_THREADS: a whole
// number, or ALL_CPUS for every processor (as GDAL_NUM_THREADS reads).
// Unset, empty or anything else: one thread, the run as it always was.
#pragma once

#include <pthread.h>

#include <functional>

namespace kestranov {

int requested_threads();

// A thread that takes little of the address space: a small stack of its
// own, given back when the thread is joined, and the allocations of every
// thread in the one heap of the process. The C library's default is 8 MiB
// of stack, kept in a cache after the thread ends, and 64 MiB reserved per
// heap: under a memory limit (ulimit -v) a few threads would take what the
// grids need later.
struct LeanThread {
    pthread_t thread{};
    void* stack = nullptr;
};
// False when the system refuses the thread; `work(arg)` runs on it otherwise.
bool start_lean_thread(LeanThread& t, void* (*work)(void*), void* arg);
void join_lean_thread(LeanThread& t);

// Work done beside the caller's own: on a lean thread when `apart` is true
// and the system gives one, else at once on the caller, in the constructor.
// The destructor waits for it. The work must not throw.
class Beside {
public:
    Beside(bool apart, std::function<void()> work);
    ~Beside();
    Beside(const Beside&) = delete;
    Beside& operator=(const Beside&) = delete;

private:
    static void* run(void* self);

    std::function<void()> work_;
    LeanThread thread_;
    bool started_ = false;
};

}  // namespace kestranov
