#include "platform/output_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {
constexpr std::size_t buffer_size = 1 << 20;
}

OutputFile::OutputFile(const std::filesystem::path& target, Mode mode) : target_(target), mode_(mode)
{
    temp_ = target_.string() + ".tmp-XXXXXX";
    fd_ = mkstemp(temp_.data());
    if (fd_ < 0) {
        temp_.clear();
        return;
    }
    // mkstemp creates the file for the owner only; give it the mode a plain
    // creat() would, so that the DEM is as readable as any other file.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
    ok_ = true;
    buffer_.reserve(buffer_size);
}

OutputFile::~OutputFile()
{
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

void OutputFile::put_raw(const char* bytes, std::size_t n)
{
    if (!ok_) return;
    if (buffer_.size() + n > buffer_size) flush();
    if (n >= buffer_size / 4) {
        // Large pieces go straight to the file, without a copy.
        put_direct(bytes, n);
        return;
    }
    buffer_.append(bytes, n);
}

void OutputFile::write(const void* bytes, std::size_t n) { put_raw(static_cast<const char*>(bytes), n); }

void OutputFile::write(std::string_view bytes)
{
    if (mode_ == Mode::binary) {
        put_raw(bytes.data(), bytes.size());
        return;
    }
    std::size_t start = 0;
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        if (bytes[k] != '\n') continue;
        put_raw(bytes.data() + start, k - start);
        put_raw("\r\n", 2);
        start = k + 1;
    }
    put_raw(bytes.data() + start, bytes.size() - start);
}

void OutputFile::flush()
{
    put_direct(buffer_.data(), buffer_.size());
    buffer_.clear();
}

void OutputFile::put_direct(const char* p, std::size_t left)
{
    while (ok_ && left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok_ = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void OutputFile::write_blocks(const void* const* blocks, std::size_t count, std::size_t bytes_each)
{
    flush();
    constexpr std::size_t batch = 512;  // within every system's IOV_MAX
    iovec pieces[batch];
    for (std::size_t first = 0; ok_ && first < count && bytes_each > 0; first += batch) {
        const std::size_t n = std::min(batch, count - first);
        for (std::size_t k = 0; k < n; ++k) pieces[k] = {const_cast<void*>(blocks[first + k]), bytes_each};
        std::size_t next = 0;
        while (ok_ && next < n) {
            ssize_t written = ::writev(fd_, pieces + next, static_cast<int>(n - next));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) {
                ok_ = false;
                break;
            }
            // A short write leaves part of the batch: skip what went out.
            auto left = static_cast<std::size_t>(written);
            while (left > 0 && left >= pieces[next].iov_len) left -= pieces[next++].iov_len;
            if (left > 0) {
                pieces[next].iov_base = static_cast<char*>(pieces[next].iov_base) + left;
                pieces[next].iov_len -= left;
            }
        }
    }
}

bool OutputFile::finish()
{
    if (finished_) return ok_;
    finished_ = true;
    if (fd_ < 0) return false;
    flush();
    if (::close(fd_) != 0) ok_ = false;
    fd_ = -1;
    return ok_;
}

bool OutputFile::commit()
{
    if (!finish()) return false;
    if (::rename(temp_.c_str(), target_.c_str()) != 0) return false;
    committed_ = true;
    return true;
}
