// File helpers shared by every test suite and the fuzz targets: a fresh
// temporary folder, whole files written and read as bytes, a listing.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
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

// A variable-length record of a LAS file: user id, record id, payload.
struct LasRecord {
    std::string user;
    std::uint16_t id;
    std::string payload;
};

// The LAS or LAZ file `las` with `vlrs` put before its own VLRs and, for
// LAS 1.4, `evlrs` after everything, the header's counts and places set to
// match. The points move with the VLRs, and a LAZ file's chunk table
// pointer (the 8 bytes at the points' start) with them.
inline std::string with_las_records(std::string las, const std::vector<LasRecord>& vlrs,
                                    const std::vector<LasRecord>& evlrs = {})
{
    const auto head = [](const LasRecord& r, std::size_t size) {
        std::string h(size, '\0');
        std::memcpy(h.data() + 2, r.user.data(), std::min<std::size_t>(r.user.size(), 16));
        patch<std::uint16_t>(h, 18, r.id);
        if (size == 54)
            patch<std::uint16_t>(h, 20, static_cast<std::uint16_t>(r.payload.size()));
        else
            patch<std::uint64_t>(h, 20, r.payload.size());
        return h + r.payload;
    };
    std::string before;
    for (const LasRecord& r : vlrs) before += head(r, 54);
    las.insert(field<std::uint16_t>(las, 94), before);
    const auto points = static_cast<std::uint32_t>(field<std::uint32_t>(las, 96) + before.size());
    patch<std::uint32_t>(las, 96, points);
    patch<std::uint32_t>(las, 100, static_cast<std::uint32_t>(field<std::uint32_t>(las, 100) + vlrs.size()));
    if ((las[104] & 0xC0) != 0)
        patch<std::int64_t>(las, points, field<std::int64_t>(las, points) + static_cast<std::int64_t>(before.size()));
    if (evlrs.empty()) return las;
    patch<std::uint64_t>(las, 235, las.size());
    patch<std::uint32_t>(las, 243, static_cast<std::uint32_t>(evlrs.size()));
    for (const LasRecord& r : evlrs) las += head(r, 60);
    return las;
}

inline std::string read_file(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Why a test of the real LIDAR samples skips in a clone that has none beside
// it: the sample (or the folder of them) it found missing, named, so that
// `make test`'s list of skips says what to fetch.
inline std::string no_sample(const std::filesystem::path& p)
{
    return "no " + p.string() + " (the real LIDAR samples beside the repository)";
}

// The first of `samples` missing, as no_sample says it; "" when all are there.
inline std::string missing_sample(std::initializer_list<std::filesystem::path> samples)
{
    for (const std::filesystem::path& p : samples)
        if (!std::filesystem::exists(p)) return no_sample(p);
    return "";
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
