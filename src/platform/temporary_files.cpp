#include "platform/temporary_files.h"

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace kestranov {

namespace {

// Every signal whose default action ends the process, and that a handler
// may catch: interrupt, quit, terminate, hang-up (a closed terminal), a
// broken console pipe, timers, a CPU-time limit, abort, the user and
// real-time signals, and the faults. Those that stop, continue or are
// ignored by default are left alone; SIGXFSZ is ignored (see below).
bool ends_the_process(int s)
{
    switch (s) {
        case SIGKILL:
        case SIGSTOP:
        case SIGTSTP:
        case SIGTTIN:
        case SIGTTOU:
        case SIGCONT:
        case SIGCHLD:
        case SIGURG:
        case SIGWINCH:
        case SIGXFSZ:
            return false;
        default:
            return s >= 1 && s < NSIG && (s < 32 || (s >= SIGRTMIN && s <= SIGRTMAX));
    }
}

struct Pending {
    volatile std::sig_atomic_t live;
    int dir;
    char name[temporary_name_size];
};
// A run holds at most a few temporary files at once (an image and its
// descriptor); a file beyond the table is still removed by its owner, only
// not on a signal.
Pending pending[16];

void remove_pending_and_die(int sig)
{
    for (Pending& p : pending)
        if (p.live) unlinkat(p.dir, p.name, 0);
    // SA_RESETHAND has put the default action back and SA_NODEFER leaves the
    // signal unblocked: raising it again ends the process as it would have.
    raise(sig);
}

sigset_t cleanup_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int s = 1; s < NSIG; ++s)
        if (ends_the_process(s)) sigaddset(&set, s);
    return set;
}

// Installed when the first temporary file is made, over default actions
// only: a signal the caller ignores (nohup) stays ignored. A file-size limit
// (ulimit -f) must fail the write, not kill the run, so SIGXFSZ is ignored.
void install_handlers()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = remove_pending_and_die;
    action.sa_mask = cleanup_set();
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int s = 1; s < NSIG; ++s) {
        if (!ends_the_process(s)) continue;
        struct sigaction old {};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_DFL && !(old.sa_flags & SA_SIGINFO))
            sigaction(s, &action, nullptr);
    }
    struct sigaction old {};
    if (sigaction(SIGXFSZ, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) std::signal(SIGXFSZ, SIG_IGN);
}

void random_suffix(char* out, unsigned long long seed)
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int k = 0; k < 6; ++k) {
        out[k] = letters[seed % 62];
        seed /= 62;
    }
    out[6] = '\0';
}

}  // namespace

SignalGuard::SignalGuard()
{
    sigset_t set = cleanup_set();
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

SignalGuard::~SignalGuard() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

int create_temporary(int dir, char* name)
{
    install_handlers();
    static std::atomic<unsigned long long> counter{0};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const SignalGuard guard;
    Pending* slot = nullptr;
    for (Pending& p : pending)
        if (!p.live) {
            slot = &p;
            break;
        }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const unsigned long long seed = static_cast<unsigned long long>(now.tv_nsec) * 6364136223846793005ull +
                                        static_cast<unsigned long long>(getpid()) * 1442695040888963407ull +
                                        counter++ * 2654435761ull;
        // The prefix only; random_suffix writes the rest and the terminating NUL.
        std::memcpy(name, ".kst-", 5);  // NOLINT(bugprone-not-null-terminated-result)
        random_suffix(name + 5, seed >> 20);
        const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd >= 0 && slot) {
            std::memcpy(slot->name, name, temporary_name_size);
            slot->dir = dir;
            slot->live = 1;
        }
        return fd;
    }
    errno = EEXIST;
    return -1;
}

void forget_temporary(int dir, const char* name)
{
    for (Pending& p : pending)
        if (p.live && p.dir == dir && std::strcmp(p.name, name) == 0) p.live = 0;
}

}  // namespace kestranov
