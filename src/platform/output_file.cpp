#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <thread>

#include "platform/temporary_files.h"

namespace kestranov {

namespace {

constexpr std::size_t buffer_size = 1 << 20;

ssize_t system_write(int fd, const void* bytes, std::size_t n) { return ::write(fd, bytes, n); }
int system_rename(int dir, const char* from, const char* to) { return ::renameat(dir, from, dir, to); }

output_write_call write_call = system_write;
output_rename_call rename_call = system_rename;

constexpr std::chrono::milliseconds usual_lock_wait{30000};
std::chrono::milliseconds lock_wait = usual_lock_wait;

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

void output_set_lock_wait(std::chrono::milliseconds wait) { lock_wait = wait > wait.zero() ? wait : usual_lock_wait; }

OutputFile::OutputFile(const std::filesystem::path& target, Mode mode) : mode_(mode)
{
    // An allocation that fails in here (the buffer is a whole MiB) throws
    // before the object exists, so the destructor would not run: what was
    // opened or created so far is let go of here.
    try {
        open(target);
    } catch (...) {
        release();
        throw;
    }
}

void OutputFile::open(const std::filesystem::path& target)
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

OutputFile::~OutputFile() { release(); }

void OutputFile::release()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (replaces() && !committed_) {
        const SignalGuard guard;
        ::unlinkat(dir_, temp_, 0);
        forget_temporary(dir_, temp_);
        temp_[0] = '\0';
    }
    if (dir_ >= 0) ::close(dir_);
    dir_ = -1;
}

void OutputFile::put_raw(const char* bytes, std::size_t n)
{
    if (!ok_) return;
    if (buffer_.size() + n > buffer_size) flush();
    if (n >= buffer_size / 4) {
        // Large pieces go straight to the file, without a copy, after what
        // came before them.
        flush();
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

bool OutputFile::would_replace(const FileIdentity& file) const
{
    struct stat info {};
    if (replaces())
        return ::fstatat(dir_, name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && identity_of(info).same_file(file);
    return fd_ >= 0 && ::fstat(fd_, &info) == 0 && identity_of(info).same_file(file);
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

namespace {

// An exclusive advisory lock on a folder, held by runs while they place an
// image and its descriptor there. Two runs writing the same names would
// otherwise interleave their renames and leave one run's image beside the
// other's descriptor. The folder itself is locked, so no lock file is ever
// left behind, and the kernel lets go of it when a run ends in any way.
class FolderLock {
public:
    // Waits up to lock_wait for the lock, polling: a blocking flock could
    // hang the run for good behind a stuck process. False when the wait ran
    // out; true when held, and also where no lock can be had (see below).
    bool take(int dir)
    {
        // The folder descriptor of the output is O_PATH, which flock refuses:
        // the folder is opened again, for reading. A folder that cannot be
        // read (write and search rights only) is written to without the lock,
        // as before there was one.
        fd_ = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) return true;
        const auto deadline = std::chrono::steady_clock::now() + lock_wait;
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
            if (errno == EINTR) continue;
            // Some file systems have no flock (EINVAL, EOPNOTSUPP, or ENOLCK
            // on NFS without a lock manager): the pair is placed without the
            // lock rather than not at all.
            if (errno != EWOULDBLOCK) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    FolderLock() = default;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock()
    {
        if (fd_ >= 0) ::close(fd_);  // lets go of the lock
    }

private:
    int fd_ = -1;
};

}  // namespace

int commit_pair(OutputFile& first, OutputFile& second)
{
    if (!first.finish()) return 1;
    if (!second.finish()) return 2;
    if (!first.replaces() || !second.replaces()) {
        // A device or FIFO has had its bytes already; there is nothing to take back.
        if (!first.commit()) return 1;
        return second.commit() ? 0 : 2;
    }
    // Taken before the signals are held back, so that a user can still stop
    // a run that waits for it.
    FolderLock lock;
    if (!lock.take(first.dir_)) return 1;
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

}  // namespace kestranov
