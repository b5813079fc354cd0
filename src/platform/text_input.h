// Point files are text files in the Windows sense: the byte 0x1A ends the
// input wherever it stands. Line ends need no translation here because the
// number scanner takes CR as white space.
#pragma once

#include <cstddef>
#include <filesystem>

class TextInput {
public:
    enum class OpenStatus { ok, missing, not_a_file };

    TextInput() = default;
    TextInput(const TextInput&) = delete;
    TextInput& operator=(const TextInput&) = delete;
    ~TextInput();

    OpenStatus open(const std::filesystem::path& path);
    // Fills up to `capacity` bytes; returns how many, 0 at the end of the
    // text. Returns -1 on a read error.
    long read(char* buffer, std::size_t capacity);
    void close();

private:
    int fd_ = -1;
    bool ended_ = false;
};
