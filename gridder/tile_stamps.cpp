#include "gridder/tile_stamps.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>

#include "gridder/point_inputs.h"

namespace kestranov::gridder {
namespace {

constexpr long long billion = 1000000000;

// A time as a person reads it, to the nanosecond: two times of one second
// differ there.
std::string utc(long long ns)
{
    long long seconds = ns / billion, rest = ns % billion;
    if (rest < 0) rest += billion, --seconds;
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    std::snprintf(text + n, sizeof text - n, ".%09lld UTC", rest);
    return text;
}

std::string changed(const std::string& path, const std::string& what)
{
    return path + ": changed since the plan was made (" + what + "): plan again (--overwrite) and run the new jobs";
}

}  // namespace

std::optional<FileStamp> stamp_of(const std::string& path)
{
    struct stat s {};
    if (stat(path.c_str(), &s) != 0) return std::nullopt;
    FileStamp f;
    f.size = static_cast<std::uint64_t>(s.st_size);
    f.mtime_ns = static_cast<long long>(s.st_mtim.tv_sec) * billion + s.st_mtim.tv_nsec;
    return f;
}

std::string stamps_text(const std::vector<FileStamp>& stamps)
{
    std::string text;
    for (const FileStamp& s : stamps) {
        if (!text.empty()) text += ',';
        text.append(std::to_string(s.size)).append(":").append(std::to_string(s.mtime_ns));
    }
    return text;
}

void check_planned_files(const GridOptions& o)
{
    for (std::size_t k = 0; k < o.stamps.size() && k < o.inputs.size(); ++k) {
        const std::optional<FileStamp> read = stamp_of(o.inputs[k]);
        if (!read)
            throw InputError(o.inputs[k] + ": cannot be read since the plan was made (" +
                             std::generic_category().message(errno) +
                             "): plan again (--overwrite) and run the new jobs");
        const FileStamp now = *read, planned = o.stamps[k];
        if (now.size != planned.size)
            throw InputError(changed(
                o.inputs[k], std::to_string(now.size) + " bytes, " + std::to_string(planned.size) + " when planned"));
        if (now.mtime_ns != planned.mtime_ns)
            throw InputError(
                changed(o.inputs[k], "modified " + utc(now.mtime_ns) + ", " + utc(planned.mtime_ns) + " when planned"));
    }
}

}  // namespace kestranov::gridder
