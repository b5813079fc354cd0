// Console services that the C library of Windows has and POSIX lacks.
#pragma once

#include <iosfwd>

namespace kestranov {

// Waits for one key press and returns it, without echo and without Enter,
// when `terminal` is set (standard input is then a terminal and is read
// directly). Otherwise takes one character from `in` if there is one and
// returns at once at the end of input (EOF is returned then).
int getch(std::istream& in, bool terminal);

bool stdin_is_terminal();

}  // namespace kestranov
