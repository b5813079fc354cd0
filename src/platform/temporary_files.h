// Temporary output files that a signal must not leave behind. An output is
// written under a short hidden name beside its target and renamed over it
// when complete; if the process is interrupted, terminated or loses its
// terminal meanwhile, the signal handler removes every such file (with
// async-signal-safe calls only) and then ends the process with the signal's
// own status, as if no handler had been there.
#pragma once

#include <csignal>
#include <cstddef>

namespace kestranov {

// Creates a new file named ".kst-XXXXXX" in the folder `dir` (a descriptor),
// with the permissions a plain creat() would give, and records it for
// removal on a signal. Writes the chosen name (at most temporary_name_size
// bytes with its terminating zero) into `name`. Returns the open descriptor,
// or -1 with errno set.
constexpr std::size_t temporary_name_size = 16;
int create_temporary(int dir, char* name);

// Forgets a temporary file that was renamed into place or removed. Called
// with the cleanup signals blocked (see SignalGuard).
void forget_temporary(int dir, const char* name);

// Keeps the cleanup signals from arriving while a temporary file changes
// hands (renamed into place, removed, put back): they are delivered when the
// guard ends, and the files are then in a consistent state.
class SignalGuard {
public:
    SignalGuard();
    ~SignalGuard();
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    sigset_t saved_;  // the mask before the guard
};

}  // namespace kestranov
