#include "platform/input_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace kestranov {

InputFile::~InputFile() { close(); }

InputFile::OpenStatus InputFile::open(const std::filesystem::path& path, Mode mode)
{
    close();
    ended_ = false;
    at_ = 0;
    text_ = mode == Mode::text;
    path_ = path;
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return OpenStatus::absent;
        // A socket cannot be opened at all; it is no more a point file than a FIFO.
        struct stat info {};
        const bool socket = error == ENXIO && ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
        return socket ? OpenStatus::not_regular : OpenStatus::refused;
    }
    struct stat info {};
    // A folder opens on POSIX but is no file to read; Windows refuses to open it.
    if (fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode)) {
        close();
        return OpenStatus::not_a_file;
    }
    if (!S_ISREG(info.st_mode)) {
        close();
        return OpenStatus::not_regular;
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
#ifdef POSIX_FADV_SEQUENTIAL
    posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return OpenStatus::ok;
}

FileIdentity InputFile::identity() const
{
    struct stat info {};
    if (fd_ < 0 || fstat(fd_, &info) != 0) return {};
    return identity_of(info);
}

std::uint64_t InputFile::size() const
{
    struct stat info {};
    if (fd_ < 0 || fstat(fd_, &info) != 0 || info.st_size < 0) return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

FileIdentity InputFile::identity_of_name() const
{
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) return {};
    return identity_of(info);
}

long InputFile::read(char* buffer, std::size_t capacity)
{
    if (ended_ || fd_ < 0) return 0;
    std::size_t got = 0;
    while (got < capacity) {
        ssize_t n = ::read(fd_, buffer + got, capacity - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
        at_.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
    }
    if (got == 0) ended_ = true;
    if (!text_) return static_cast<long>(got);
    if (const void* eof = std::memchr(buffer, 0x1A, got)) {
        got = static_cast<std::size_t>(static_cast<const char*>(eof) - buffer);
        ended_ = true;
    }
    return static_cast<long>(got);
}

bool InputFile::seek(std::uint64_t offset)
{
    if (fd_ < 0 || offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    ended_ = false;
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(offset)) return false;
    at_ = offset;
    return true;
}

void InputFile::close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool input_exists(const std::filesystem::path& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::vector<std::string> names_beginning_with(const std::filesystem::path& folder, const std::string& prefix)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return names;
    try {
        while (const dirent* e = ::readdir(dir)) {  // NOLINT(concurrency-mt-unsafe): a stream of our own
            const std::string_view name(e->d_name);
            if (name.size() > prefix.size() && name.starts_with(prefix)) names.emplace_back(name);
        }
    } catch (...) {
        ::closedir(dir);
        throw;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace kestranov
