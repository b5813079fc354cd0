// Point files are text files in the Windows sense: the byte 0x1A ends the
// input wherever it stands. Line ends need no translation here because the
// number scanner takes CR as white space.
#pragma once

#include <cstddef>
#include <filesystem>

#include "platform/file_identity.h"

class TextInput {
public:
    // not_regular: a FIFO, a socket or a device. Such a file cannot be read
    // twice the same way, and a FIFO that nobody writes would block for ever.
    enum class OpenStatus { ok, missing, not_a_file, not_regular };

    TextInput() = default;
    TextInput(const TextInput&) = delete;
    TextInput& operator=(const TextInput&) = delete;
    ~TextInput();

    // Never waits: a FIFO is opened without blocking and refused.
    OpenStatus open(const std::filesystem::path& path);
    // Fills up to `capacity` bytes; returns how many, 0 at the end of the
    // text. Returns -1 on a read error.
    long read(char* buffer, std::size_t capacity);
    // The open file as it is now (an empty identity when it cannot be told).
    FileIdentity identity() const;
    void close();

private:
    int fd_ = -1;
    bool ended_ = false;
};
