// Runs the built program as a user would: in a directory standing for c:\,
// answers on standard input, console text from standard output.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support.h"

struct ProgramRun {
    int status = -1;
    std::string console;
};

inline ProgramRun run_program(const std::filesystem::path& drive, const std::string& answers)
{
    const std::filesystem::path in = drive / ".answers", out = drive / ".console";
    write_file(in, answers);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string cwd = drive.string();
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    char* argv[] = {const_cast<char*>(KESTRANOV_BINARY), nullptr};
    pid_t pid = 0;
    ProgramRun r;
    if (posix_spawn(&pid, KESTRANOV_BINARY, &actions, nullptr, argv, environ) == 0) {
        int wstatus = 0;
        waitpid(pid, &wstatus, 0);
        r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    }
    posix_spawn_file_actions_destroy(&actions);
    r.console = read_file(out);
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    return r;
}
