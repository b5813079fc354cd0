// Runs the built program as a user would: in a directory standing for c:\,
// answers on standard input, console text from standard output.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support.h"

struct ProgramRun {
    int status = -1;
    std::string console;
    long peak_kib = 0;  // the program's peak resident memory
};

// `shell` is run before the program, in the shell that then becomes it
// ("ulimit -f 8;" to start it under a file-size limit, as a user would). A
// run still going after `seconds` is killed: a hang fails the test (status
// 137) instead of stopping the suite.
inline ProgramRun run_program(const std::filesystem::path& drive, const std::string& answers,
                              const std::string& shell = "", int seconds = 120)
{
    const std::filesystem::path in = drive / ".answers", out = drive / ".console";
    write_file(in, answers);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string cwd = drive.string();
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    const std::string script = shell + " exec \"$0\"";
    char* direct[] = {const_cast<char*>(KESTRANOV_BINARY), nullptr};
    char* wrapped[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), const_cast<char*>(script.c_str()),
                       const_cast<char*>(KESTRANOV_BINARY), nullptr};
    char** argv = shell.empty() ? direct : wrapped;
    pid_t pid = 0;
    ProgramRun r;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) == 0) {
        int wstatus = 0;
        rusage usage{};
        for (int waited_ms = 0; wait4(pid, &wstatus, WNOHANG, &usage) == 0; waited_ms += 2) {
            if (waited_ms >= seconds * 1000) {
                kill(pid, SIGKILL);
                wait4(pid, &wstatus, 0, &usage);
                break;
            }
            usleep(2000);
        }
        r.peak_kib = usage.ru_maxrss;
        r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    }
    posix_spawn_file_actions_destroy(&actions);
    r.console = read_file(out);
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    return r;
}
