// File helpers shared by every test suite and the fuzz targets: a fresh
// temporary folder, whole files written and read as bytes, a listing.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

// A fresh folder under the temporary directory, removed with everything in
// it (read-only entries included) when the owner goes.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestranov-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& rel) const { return path_ / rel; }

private:
    std::filesystem::path path_;
};

// Writes `bytes` to `p`, creating its folders; throws when it cannot.
inline void write_file(const std::filesystem::path& p, std::string_view bytes)
{
    std::filesystem::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + p.string());
}

// A little-endian field of a binary file held in a string (0 beyond its
// end), and the same field overwritten: how the tests make and spoil LAS
// and LAZ files.
template <class T>
T field(const std::string& b, std::size_t at)
{
    T v{};
    if (at + sizeof v <= b.size()) std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}

template <class T>
void patch(std::string& b, std::size_t at, T v)
{
    std::memcpy(b.data() + at, &v, sizeof v);
}

inline std::string read_file(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// `s` as one word for /bin/sh, whatever it holds.
inline std::string shell_quoted(const std::string& s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

// The names in `dir`, hidden ones included, sorted.
inline std::vector<std::string> names_in(const std::filesystem::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A reader of the FIFO `fifo`, there before any writer opens it, that reads
// until the writer has closed it and finish() has been called.
class FifoReader {
public:
    explicit FifoReader(const std::filesystem::path& fifo)
        : fd_(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK)), thread_([this] { read_all(); })
    {
    }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;
    ~FifoReader()
    {
        if (thread_.joinable()) finish();
    }
    // What came through, once the writer is done.
    std::string finish()
    {
        done_ = true;
        thread_.join();
        ::close(fd_);
        return received_;
    }

private:
    void read_all()
    {
        char buf[4096];
        for (;;) {
            const bool ended = done_;
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) received_.append(buf, static_cast<std::size_t>(n));
            if (n == 0 && ended) return;
            if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    int fd_;
    std::atomic<bool> done_{false};
    std::string received_;
    std::thread thread_;
};
