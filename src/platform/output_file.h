// An output file that appears under its final name only when it is complete.
// Bytes go to a temporary file beside the target; commit() flushes, closes
// and renames it over the target in one step, so that a failed run never
// leaves a partial file and never destroys an existing file of that name.
// The text mode writes every "\n" as CR LF, as Windows text streams do.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

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
    // Blocks of equal size, in order, handed to the system without a copy
    // (the rows of a raster image). Never translated.
    void write_blocks(const void* const* blocks, std::size_t count, std::size_t bytes_each);
    // Flushes, closes and checks the temporary file; false on any failure.
    bool finish();
    // Renames the finished temporary file over the target.
    bool commit();

private:
    void flush();
    void put_raw(const char* bytes, std::size_t n);
    void put_direct(const char* bytes, std::size_t n);

    std::filesystem::path target_;
    std::string temp_;
    Mode mode_;
    int fd_ = -1;
    bool ok_ = false;
    bool finished_ = false;
    bool committed_ = false;
    std::string buffer_;
};
