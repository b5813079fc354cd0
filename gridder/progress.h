#pragma once
// Progress of a long gridding on standard error, for a person watching a
// terminal: the pass, the file, the points so far, the part of the file
// read where it is known (a LAS or LAZ header's count, a text file's bytes)
// and their rate, rewritten in place at most four times a second. Silent
// when standard error is not a terminal (a log, a batch job) or with -q.

#include <chrono>
#include <ostream>
#include <string>

namespace kestranov::gridder {

class Progress {
public:
    // `every`: the least time between two lines (a test's choice).
    explicit Progress(std::ostream* to, std::chrono::milliseconds every = std::chrono::milliseconds(250))
        : to_(to), every_(every)
    {
    }
    ~Progress() { clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void pass(int number, int passes);
    // File `number` of `files` starts, after `before` records of the others.
    void file(int number, int files, const std::string& name, long long before);
    // `count` records of the file read so far, `part` of it (0 to 1;
    // negative: not known).
    void records(long long count, double part = -1);
    void clear();

private:
    void show();

    std::ostream* to_;
    std::chrono::milliseconds every_;
    std::string pass_, file_;
    long long points_ = 0, before_ = 0;
    double part_ = -1;
    std::chrono::steady_clock::time_point start_{}, shown_{};
    bool on_line_ = false;
};

}  // namespace kestranov::gridder
