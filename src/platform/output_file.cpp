#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/temporary_files.h"

namespace {

constexpr std::size_t buffer_size = 1 << 20;

ssize_t system_write(int fd, const void* bytes, std::size_t n) { return ::write(fd, bytes, n); }
int system_rename(int dir, const char* from, const char* to) { return ::renameat(dir, from, dir, to); }

output_write_call write_call = system_write;
output_rename_call rename_call = system_rename;

// The path a write would reach: symbolic links followed one at a time, so
// that a link whose file does not exist yet still leads to the path to create.
std::filesystem::path resolved(std::filesystem::path path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 4096), '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n < 0) return path;
        link.resize(static_cast<std::size_t>(n));
        path = path.parent_path() / std::filesystem::path(link);  // an absolute link replaces the whole path
    }
    return path;  // a loop of links: the open below fails on it
}

// A folder descriptor for the *at calls, good for nothing else.
int open_folder(const std::filesystem::path& folder)
{
    return ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// A FIFO without a reader would block the run for good: it is refused at once.
int open_direct(const std::filesystem::path& target)
{
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace

void output_set_calls(output_write_call write, output_rename_call rename)
{
    write_call = write ? write : system_write;
    rename_call = rename ? rename : system_rename;
}

OutputFile::OutputFile(const std::filesystem::path& target, Mode mode) : mode_(mode)
{
    const std::filesystem::path path = resolved(target);
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return;
        if (!S_ISREG(info.st_mode)) {
            fd_ = open_direct(path);
            ok_ = fd_ >= 0;
            if (ok_) buffer_.reserve(buffer_size);
            return;
        }
    } else if (errno != ENOENT) {
        return;  // a name too long, a folder that cannot be searched...
    }
    dir_ = open_folder(path.parent_path());
    if (dir_ < 0) return;
    struct stat folder {};
    if (::fstat(dir_, &folder) == 0) folder_id_ = {folder.st_dev, folder.st_ino};
    name_ = path.filename().string();
    fd_ = create_temporary(dir_, temp_);
    if (fd_ < 0) {
        temp_[0] = '\0';
        return;
    }
    ok_ = true;
    buffer_.reserve(buffer_size);
}

OutputFile::~OutputFile()
{
    if (fd_ >= 0) ::close(fd_);
    if (replaces() && !committed_) {
        const SignalGuard guard;
        ::unlinkat(dir_, temp_, 0);
        forget_temporary(dir_, temp_);
    }
    if (dir_ >= 0) ::close(dir_);
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

namespace {

// A FIFO whose reader has gone raises SIGPIPE, which would end the run
// without a word: for a file written directly the signal is held back and
// taken away, and the next write fails with EPIPE like any other failure.
ssize_t write_without_sigpipe(int fd, const char* p, std::size_t n)
{
    sigset_t pipe_only, saved;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, &saved);
    const ssize_t written = write_call(fd, p, n);
    const int error = errno;
    // Also a write that got part of its bytes through before the reader left
    // raises the signal: take away whatever is pending.
    const timespec now{0, 0};
    sigtimedwait(&pipe_only, nullptr, &now);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    errno = error;
    return written;
}

}  // namespace

// A short write (a signal, a nearly full disk) goes on from where it stopped;
// a failure, a file-size limit included, marks the file as failed.
void OutputFile::put_direct(const char* p, std::size_t left)
{
    while (ok_ && left > 0) {
        const ssize_t n = replaces() ? write_call(fd_, p, left) : write_without_sigpipe(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok_ = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

bool OutputFile::same_target(const OutputFile& other) const
{
    return replaces() && other.replaces() && folder_id_ == other.folder_id_ && name_ == other.name_;
}

bool OutputFile::finish()
{
    if (finished_) return ok_;
    finished_ = true;
    if (fd_ < 0) return ok_ = false;
    flush();
    if (::close(fd_) != 0) ok_ = false;
    fd_ = -1;
    return ok_;
}

bool OutputFile::commit()
{
    if (!finish()) return false;
    if (!replaces() || committed_) return true;
    const SignalGuard guard;
    if (rename_call(dir_, temp_, name_.c_str()) != 0) return false;
    forget_temporary(dir_, temp_);
    committed_ = true;
    return true;
}

int commit_pair(OutputFile& first, OutputFile& second)
{
    if (!first.finish()) return 1;
    if (!second.finish()) return 2;
    if (!first.replaces() || !second.replaces()) {
        // A device or FIFO has had its bytes already; there is nothing to take back.
        if (!first.commit()) return 1;
        return second.commit() ? 0 : 2;
    }
    const SignalGuard guard;
    // The older first file, if any, waits under a name of its own until the
    // second file is in place. The new name is reserved by creating it, so
    // that the rename cannot replace anything else.
    char kept[temporary_name_size] = {};
    struct stat info {};
    if (::fstatat(first.dir_, first.name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        const int fd = create_temporary(first.dir_, kept);
        if (fd < 0) return 1;
        ::close(fd);
        if (rename_call(first.dir_, first.name_.c_str(), kept) != 0) {
            ::unlinkat(first.dir_, kept, 0);
            forget_temporary(first.dir_, kept);
            return 1;
        }
    }
    auto put_back = [&] {
        if (kept[0] != '\0')
            rename_call(first.dir_, kept, first.name_.c_str());
        else
            ::unlinkat(first.dir_, first.name_.c_str(), 0);
        forget_temporary(first.dir_, kept);
    };
    if (!first.commit()) {
        if (kept[0] != '\0') put_back();
        return 1;
    }
    if (!second.commit()) {
        put_back();
        return 2;
    }
    if (kept[0] != '\0') {
        ::unlinkat(first.dir_, kept, 0);
        forget_temporary(first.dir_, kept);
    }
    return 0;
}
