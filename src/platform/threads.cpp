#include "platform/threads.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace {
// More threads than this would only share the same few cores.
constexpr int most_threads = 64;
}  // namespace

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
