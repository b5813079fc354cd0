#include "gridder/progress.h"

#include <algorithm>
#include <cstdio>

#include "models/companion_run.h"

namespace kestranov::gridder {

void Progress::pass(int number, int passes)
{
    pass_ = passes > 1 ? "pass " + std::to_string(number) + "/" + std::to_string(passes) + " " : "";
    points_ = 0;
    start_ = std::chrono::steady_clock::now();
}

void Progress::file(int number, int files, const std::string& name, long long before)
{
    before_ = before, points_ = before, part_ = -1;
    file_ = "file " + std::to_string(number) + "/" + std::to_string(files) + " " + models::one_line(name);
    if (to_) show();
}

void Progress::records(long long count, double part)
{
    points_ = before_ + count, part_ = part;
    if (!to_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - shown_ < every_) return;
    show();
}

void Progress::show()
{
    const auto now = std::chrono::steady_clock::now();
    shown_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    char rate[48] = "";
    if (seconds > 0.5)
        std::snprintf(rate, sizeof rate, ", %.1f M points/s", static_cast<double>(points_) / seconds / 1e6);
    char percent[16] = "";
    if (part_ >= 0) std::snprintf(percent, sizeof percent, " (%d%%)", static_cast<int>(std::min(part_, 1.0) * 100));
    // Erase to the end of the line: a shorter line leaves nothing behind.
    *to_ << "\r" << pass_ << file_ << ": " << points_ << " points" << percent << rate << "\x1b[K" << std::flush;
    on_line_ = true;
}

void Progress::clear()
{
    if (to_ && on_line_) *to_ << "\r\x1b[K" << std::flush;
    on_line_ = false;
}

}  // namespace kestranov::gridder
