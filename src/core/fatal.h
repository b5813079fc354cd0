// An abnormal end of the run. Whatever detects it throws; the run driver
// prints the message, waits for the key press and returns status 1. Nothing
// below the driver calls exit, so every failure can be driven from a test.
#pragma once

#include <stdexcept>
#include <string>

namespace kestranov {

struct Fatal : std::runtime_error {
    // The console text is kept whole: what() would stop at a NUL byte that
    // came in with a typed name.
    explicit Fatal(const std::string& console_text) : std::runtime_error(console_text), text(console_text) {}
    std::string text;
};

[[noreturn]] inline void fail(const std::string& console_text) { throw Fatal(console_text); }

}  // namespace kestranov
