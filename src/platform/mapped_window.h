// A stretch of a regular file mapped for reading, in place of a copy of it
// read into a buffer: the scanners read the page cache itself. A file cut
// shorter while its window is mapped would end the process with SIGBUS at
// the first byte past its new end; instead those bytes read as zeros and the
// window says it was cut, for the reader to refuse the file as changed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kestranov {

class MappedWindow {
public:
    MappedWindow() = default;
    ~MappedWindow() { unmap(); }
    MappedWindow(const MappedWindow&) = delete;
    MappedWindow& operator=(const MappedWindow&) = delete;

    // Maps bytes [offset, offset + length) of the open file `fd`, with the
    // pages of the page cache already entered (one call, not a fault per
    // page); false when the system will not (address space, too many
    // windows at once), and then nothing is mapped.
    bool map(int fd, std::uint64_t offset, std::size_t length);
    void unmap();
    const char* data() const { return data_; }
    // Set once any byte of the window was found past the file's end.
    const std::atomic<bool>* cut() const;

private:
    void* base_ = nullptr;
    std::size_t mapped_ = 0;
    const char* data_ = nullptr;
    int slot_ = -1;
};

}  // namespace kestranov
