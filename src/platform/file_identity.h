// Which file an open descriptor or a name stands for, and whether it is
// still as it was: the device and inode name the file whatever links lead
// to it; the size and modification time tell a file rewritten in place.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

namespace kestranov {

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long mtime_ns = 0;

    bool same_file(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
    bool operator==(const FileIdentity&) const = default;
};

inline FileIdentity identity_of(const struct stat& info)
{
    return {info.st_dev, info.st_ino, info.st_size,
            static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
}

}  // namespace kestranov
