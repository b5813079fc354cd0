// An output file that appears under its final name only when it is complete.
// Bytes go to a temporary file with a short hidden name in the target's
// folder; commit() renames it over the target in one step, so that a failed
// run never leaves a partial file and never destroys an existing file of
// that name, and a signal never leaves the temporary file behind.
//
// A target that is a symbolic link is written through: the file the link
// points to is replaced and the link stays. A target that exists and is not
// a regular file (a FIFO, a terminal, a device) cannot be replaced by a file:
// it is written directly, and commit() has nothing to rename.
//
// The text mode writes every "\n" as CR LF, as Windows text streams do.
#pragma once

#include <sys/types.h>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file_identity.h"

namespace kestranov {

class OutputFile {
public:
    enum class Mode { binary, text };

    OutputFile(const std::filesystem::path& target, Mode mode);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // removes the temporary file unless it was committed

    bool opened() const { return fd_ >= 0; }
    bool ok() const { return ok_; }

    void write(std::string_view bytes);            // translated in text mode
    void write(const void* bytes, std::size_t n);  // never translated
    // Whether both would replace one and the same file (two names linked to it).
    bool same_target(const OutputFile& other) const;
    // Whether the file this output would replace is `file` (through links or
    // hard links): a file that the run still reads, for example.
    bool would_replace(const FileIdentity& file) const;

    // Flushes, closes and checks the file; false on any failure.
    bool finish();
    // Renames the finished temporary file over the target; false when the
    // file was not finished whole or could not take its place.
    bool commit();

    // Both files take their places, or neither does: when the second cannot,
    // the first is taken back and an older file of its name is put back as
    // it was. Returns 0 when both were placed, else 1 or 2: the file that
    // could not take its place. Both must be finished.
    // Another run placing a pair in the same folder at the same time waits
    // for this one (a lock on the folder of the first file), so that no
    // image ends up beside the other run's descriptor; when that lock
    // cannot be had in time, nothing is placed and the answer is 1.
    friend int commit_pair(OutputFile& first, OutputFile& second);

private:
    void open(const std::filesystem::path& target);
    void release();  // closes, and removes the temporary file unless it was committed
    void flush();
    void put_raw(const char* bytes, std::size_t n);
    void put_direct(const char* bytes, std::size_t n);
    bool replaces() const { return temp_[0] != '\0'; }

    int dir_ = -1;      // the folder of the (resolved) target
    std::string name_;  // the target's name in that folder
    std::pair<dev_t, ino_t> folder_id_{};
    char temp_[16] = {};
    Mode mode_;
    int fd_ = -1;
    bool ok_ = false;
    bool finished_ = false;
    bool committed_ = false;
    std::string buffer_;
};

// The system calls behind every output file, replaceable so that a test can
// make any write short or failing and any rename fail, like
// nr_set_allocator for the grids. Null restores the system's own.
using output_write_call = ssize_t (*)(int fd, const void* bytes, std::size_t n);
using output_rename_call = int (*)(int dir, const char* from, const char* to);
void output_set_calls(output_write_call write_call, output_rename_call rename_call);
// How long commit_pair waits for another run's placing to end, shortened by
// a test; zero or less restores the usual 30 seconds.
void output_set_lock_wait(std::chrono::milliseconds wait);

}  // namespace kestranov
