// What a reading tells whoever runs it while it goes: a file opened, the
// records read so far. The reading shows nothing itself; each front end
// shows these its own way (the console its lines, a command its progress),
// or not at all.
#pragma once

#include <string>

namespace kestranov {

class ReadingEvents {
public:
    ReadingEvents() = default;
    ReadingEvents(const ReadingEvents&) = default;
    ReadingEvents& operator=(const ReadingEvents&) = default;
    virtual ~ReadingEvents() = default;

    // Point file `index` of the list is open as `path`, before any of its
    // records is read; told also when the file is then found changed.
    virtual void file_opened(int /*index*/, const std::string& /*path*/) {}
    // `records` of the file read so far, told every 100000 records, and the
    // part of the file they are (0 to 1: of a LAS or LAZ header's count, of
    // a text file's bytes; negative when not known).
    virtual void records_read(long long /*records*/, double /*part*/) {}
    // Point file `index` is read whole: `records` records, kept or not.
    virtual void file_read(int /*index*/, long long /*records*/) {}
};

}  // namespace kestranov
