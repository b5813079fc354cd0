#pragma once
// Progress of a long gridding on standard error, for a person watching a
// terminal: the pass, the file, the points so far and their rate, rewritten
// in place at most four times a second. Silent when standard error is not a
// terminal (a log, a batch job) or with -q.

#include <chrono>
#include <ostream>
#include <string>

namespace kestranov::gridder {

class Progress {
public:
    explicit Progress(std::ostream* to) : to_(to) {}
    ~Progress() { clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void pass(int number, int passes);
    // File `number` of `files` starts, after `before` records of the others.
    void file(int number, int files, const std::string& name, long long before);
    // `count` records of the file read so far.
    void records(long long count);
    void clear();

private:
    void show();

    std::ostream* to_;
    std::string pass_, file_;
    long long points_ = 0, before_ = 0;
    std::chrono::steady_clock::time_point start_{}, shown_{};
    bool on_line_ = false;
};

}  // namespace kestranov::gridder
