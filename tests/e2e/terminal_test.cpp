// The built program on a real terminal: a pseudo-terminal from forkpty, the
// test playing the user. After an error the program must wait for one key
// press without Enter, end with status 1 once it comes, and leave the
// terminal's line editing and echo as it found them.
//
// Every wait has a deadline, and the child is killed if anything goes wrong,
// so a program that hangs fails the test instead of stalling the suite.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "support.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Sanitizer builds start slowly; these are far above what a run needs.
constexpr auto prompt_deadline = 20s;
constexpr auto exit_deadline = 10s;

class Terminal {
public:
    // Starts the program with its standard streams on a new pseudo-terminal,
    // in `drive` (its c:\).
    explicit Terminal(const std::filesystem::path& drive)
    {
        const std::string dir = drive.string();
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            if (chdir(dir.c_str()) != 0) _exit(126);
            execl(KESTRANOV_BINARY, KESTRANOV_BINARY, static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0) return;
        // The test's own handle on the terminal the program sees: its
        // settings can still be read after the program has exited.
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    }
    ~Terminal()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool started() const { return pid_ > 0 && master_ >= 0 && slave_ >= 0; }
    const std::string& screen() const { return screen_; }

    termios settings() const
    {
        termios t{};
        tcgetattr(slave_, &t);
        return t;
    }

    // Reads what the program shows until `text` appears after `from`;
    // false at the deadline.
    bool wait_for(const std::string& text, std::size_t from = 0)
    {
        const auto deadline = Clock::now() + prompt_deadline;
        while (screen_.find(text, from) == std::string::npos) {
            if (!read_some(deadline)) return false;
        }
        return true;
    }

    // Waits until the terminal has line editing off (the program reads a
    // single key); false at the deadline.
    bool wait_for_single_key_mode()
    {
        const auto deadline = Clock::now() + prompt_deadline;
        while (settings().c_lflag & ICANON) {
            if (Clock::now() > deadline) return false;
            read_some(Clock::now() + 10ms);
        }
        return true;
    }

    void type(const std::string& keys)
    {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // The exit status if the program has ended by now.
    std::optional<int> status_now()
    {
        if (exited_) return status_;
        int w = 0;
        const pid_t r = waitpid(pid_, &w, WNOHANG);
        if (r != pid_) return std::nullopt;
        exited_ = true;
        status_ = WIFEXITED(w) ? WEXITSTATUS(w) : 128 + WTERMSIG(w);
        return status_;
    }

    // The exit status, or nothing if the program is still running at the deadline.
    std::optional<int> wait_exit()
    {
        const auto deadline = Clock::now() + exit_deadline;
        while (Clock::now() < deadline) {
            if (auto s = status_now()) return s;
            read_some(Clock::now() + 10ms);
        }
        return status_now();
    }

private:
    bool read_some(Clock::time_point deadline)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0 || !(p.revents & POLLIN)) return Clock::now() < deadline;
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) screen_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int master_ = -1;
    int slave_ = -1;
    bool exited_ = false;
    int status_ = -1;
    std::string screen_;
};

// The dialogue up to the return selection, answered prompt by prompt.
void answer_gridding_questions(Terminal& t, const std::string& file)
{
    ASSERT_TRUE(t.wait_for("Directory c:\\images\\ : ")) << t.screen();
    t.type("zone1\n");
    ASSERT_TRUE(t.wait_for("Number of files to stick ? ")) << t.screen();
    t.type("1\n");
    ASSERT_TRUE(t.wait_for("(without extension .xyz) ? ")) << t.screen();
    t.type(file + "\n");
    ASSERT_TRUE(t.wait_for("(decimal value in meters) ? ")) << t.screen();
    t.type("1\n");
    ASSERT_TRUE(t.wait_for("1 ====> last [bottom]")) << t.screen();
    t.type("0\n");
}

bool line_editing_and_echo(const termios& t) { return (t.c_lflag & ICANON) && (t.c_lflag & ECHO); }

}  // namespace

TEST(Terminal, AfterAnErrorOneKeyWithoutEnterEndsTheRunAndTheTerminalIsRestored)
{
    TempDir drive;
    write_file(drive.path() / "images" / "zone1" / "a.xyz", "0 0 1\n1 0 1\n0 1 1\n1 1 1\n");
    Terminal t(drive.path());
    ASSERT_TRUE(t.started());
    const termios before = t.settings();
    ASSERT_TRUE(line_editing_and_echo(before)) << "a new pseudo-terminal edits lines and echoes";

    answer_gridding_questions(t, "missing");
    ASSERT_TRUE(t.wait_for("File c:\\images\\zone1\\missing.xyz unknown")) << t.screen();

    // The program now waits for the key: line editing and echo are off.
    ASSERT_TRUE(t.wait_for_single_key_mode()) << t.screen();
    EXPECT_FALSE(t.settings().c_lflag & ECHO);
    std::this_thread::sleep_for(300ms);
    ASSERT_FALSE(t.status_now().has_value()) << "the program ended without waiting for a key";

    const std::size_t shown = t.screen().size();
    t.type("k");  // one byte, no Enter
    const std::optional<int> status = t.wait_exit();
    ASSERT_TRUE(status.has_value()) << "one key without Enter did not end the run";
    EXPECT_EQ(*status, 1);
    EXPECT_EQ(t.screen().find('k', shown), std::string::npos) << "the key press was echoed";

    const termios after = t.settings();
    EXPECT_TRUE(line_editing_and_echo(after));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}

// A completed run on a terminal asks for no key and leaves the settings alone.
TEST(Terminal, ACompletedRunEndsWithoutAKeyPress)
{
    TempDir drive;
    write_file(drive.path() / "images" / "zone1" / "a.xyz", "0 0 1\n1 0 1\n0 1 1\n1 1 1\n");
    Terminal t(drive.path());
    ASSERT_TRUE(t.started());
    const termios before = t.settings();

    answer_gridding_questions(t, "a");
    ASSERT_TRUE(t.wait_for("(without any extension) ? ")) << t.screen();
    t.type("dem\n");
    ASSERT_TRUE(t.wait_for("1 ====> raster")) << t.screen();
    t.type("0\n");
    const std::optional<int> status = t.wait_exit();
    ASSERT_TRUE(status.has_value()) << "a completed run waited: " << t.screen();
    EXPECT_EQ(*status, 0);
    EXPECT_TRUE(std::filesystem::exists(drive.path() / "images" / "zone1" / "dem_lidar.asc"));
    EXPECT_EQ(t.settings().c_lflag, before.c_lflag);
}

// Ctrl-C as the key press killed the program by SIGINT while line editing
// and echo were off, and nothing gave them back: the user's shell was left
// without echo. Ctrl-C is now the key, as with getch on Windows: the run
// ends with status 1 and the terminal as it was.
TEST(Terminal, CtrlCAsTheKeyPressGivesTheTerminalBack)
{
    TempDir drive;
    Terminal t(drive.path());
    ASSERT_TRUE(t.started());
    const termios before = t.settings();

    answer_gridding_questions(t, "missing");
    ASSERT_TRUE(t.wait_for("missing.xyz unknown")) << t.screen();
    ASSERT_TRUE(t.wait_for_single_key_mode()) << t.screen();
    t.type("\x03");
    const std::optional<int> status = t.wait_exit();
    ASSERT_TRUE(status.has_value()) << "Ctrl-C did not end the run";
    EXPECT_EQ(*status, 1);

    const termios after = t.settings();
    EXPECT_TRUE(line_editing_and_echo(after)) << "the terminal was left without line editing or echo";
    EXPECT_EQ(after.c_lflag, before.c_lflag);
}
