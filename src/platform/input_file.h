// A point file opened for reading. Text point files are text files in the
// Windows sense: the byte 0x1A ends the input wherever it stands (line ends
// need no translation, the number scanner takes CR as white space). Binary
// point files (LAS) are read byte for byte.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_identity.h"
#include "platform/mapped_window.h"

namespace kestranov {

class InputFile {
public:
    enum class Mode { text, binary };
    // absent: no file of that name. refused: one that cannot be opened.
    // not_regular: a FIFO, a socket or a device, which cannot be read twice
    // the same way (and a FIFO that nobody writes would block for ever).
    enum class OpenStatus { ok, absent, refused, not_a_file, not_regular };

    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Never waits: a FIFO is opened without blocking and refused.
    OpenStatus open(const std::filesystem::path& path, Mode mode);
    // Fills up to `capacity` bytes; returns how many, 0 at the end of the
    // input. Returns -1 on a read error.
    long read(char* buffer, std::size_t capacity);
    // Goes on reading from byte `offset` of the file; false when it cannot.
    bool seek(std::uint64_t offset);
    // The byte the reading has come to: for a progress line, asked while
    // another thread may be reading. Kept as the reads go, since asking
    // the system would wait for a read under way on the other thread.
    std::uint64_t position() const { return at_.load(std::memory_order_relaxed); }
    // Maps bytes [offset, offset + length) of the file into `window`
    // (which tells nothing of a 0x1A among them); false when it cannot.
    bool map(MappedWindow& window, std::uint64_t offset, std::size_t length) const
    {
        return fd_ >= 0 && window.map(fd_, offset, length);
    }
    // The reading has come to byte `offset` through a mapping.
    void reached(std::uint64_t offset) { at_.store(offset, std::memory_order_relaxed); }
    // The file's size in bytes now (0 when it cannot be told).
    std::uint64_t size() const;
    // The open file as it is now (an empty identity when it cannot be told).
    FileIdentity identity() const;
    // The file its name now leads to: another one when the file was renamed
    // over or removed while open (an empty identity when there is none).
    FileIdentity identity_of_name() const;
    void close();

private:
    int fd_ = -1;
    std::filesystem::path path_;
    bool text_ = true;
    bool ended_ = false;
    std::atomic<std::uint64_t> at_{0};
};

// Whether a file of that name exists at all (a link to nothing does not).
bool input_exists(const std::filesystem::path& path);
// The names in `folder` that begin with `prefix` and go on after it,
// sorted; none when the folder cannot be read. Read with the C library's
// own calls: std::filesystem turns a failure to allocate into an error
// code, which would spend the memory held for the memory message.
std::vector<std::string> names_beginning_with(const std::filesystem::path& folder, const std::string& prefix);

}  // namespace kestranov
