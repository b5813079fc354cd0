#include "platform/console.h"

#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <istream>

namespace kestranov {

int getch(std::istream& in, bool terminal)
{
    if (!terminal) return in.get();

    termios saved{};
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return in.get();
    termios raw = saved;
    // Without ISIG, Ctrl-C is a key like any other, as for getch on Windows:
    // a signal would end the process with the terminal still in this mode.
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    // Drop whatever is left of the last answer's line: the key press must be a new one.
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw);
    unsigned char key = 0;
    ssize_t n;
    do {
        n = ::read(STDIN_FILENO, &key, 1);
    } while (n < 0 && errno == EINTR);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    return n == 1 ? key : EOF;
}

bool stdin_is_terminal() { return isatty(STDIN_FILENO) == 1; }

}  // namespace kestranov
