#include "gridder/point_inputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace kestranov::gridder {
namespace {

namespace fs = std::filesystem;

std::string lower_tail(const std::string& name)
{
    std::string tail = name.size() >= 4 ? name.substr(name.size() - 4) : name;
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail;
}

// "path: why", as every refusal here names its file.
std::string named(std::string path, const std::string& why)
{
    path += ": ";
    path += why;
    return path;
}

// Folders hold files of every kind (a .txt descriptor, the .prj of a
// grid): only the point files are read, by name, as `ls` lists them in
// the C locale, so that every run over a folder reads it in one order. An
// entry named as a point file is one the user expects read: it is refused
// as it would be if named, or with `skip` left out and told.
void add_folder_files(const std::string& folder, bool skip, InputList& list)
{
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (is_point_file_name(it->path().filename().string())) found.push_back(it->path().string());
    if (ec) throw InputError(folder + ": the folder cannot be read (" + ec.message() + ")");
    std::sort(found.begin(), found.end());
    std::size_t kept = 0;
    for (const std::string& path : found) {
        std::error_code kind;
        const std::string why = fs::is_directory(path, kind) ? "a folder, not a point file (folders are read one "
                                                               "level deep)"
                                                             : why_unreadable(path);
        if (why.empty()) {
            list.files.push_back(path);
            ++kept;
        } else if (skip) {
            list.skipped.push_back(named(path, why));
        } else {
            throw InputError(named(path, why).append(" (--skip-unreadable leaves out such files of a folder)"));
        }
    }
    if (kept == 0)
        throw InputError(folder + (found.empty() ? ": the folder holds no point file (.xyz, .las or .laz)"
                                                 : ": the folder holds no point file that can be read"));
}

}  // namespace

bool is_point_file_name(const std::string& name)
{
    const std::string tail = lower_tail(name);
    return tail == ".xyz" || tail == ".las" || tail == ".laz";
}

bool is_text_point_file(const std::string& name) { return lower_tail(name) == ".xyz"; }

void refuse_filtered_text(const PointFilter& filter, const std::vector<std::string>& paths)
{
    if (!filter.active()) return;
    for (const std::string& p : paths)
        if (is_text_point_file(p))
            throw InputError(p +
                             ": a text point file holds no classes nor returns: --class and --return need "
                             "LAS or LAZ files");
}

std::string why_unreadable(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        const int error = errno;
        struct stat link {};
        if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            return "a link to nothing (its target is missing)";
        if (error == ENOENT || error == ENOTDIR) return "no such file or folder";
        return "cannot be read (" + std::generic_category().message(error) + ")";
    }
    if (!S_ISREG(info.st_mode))
        return "not a regular file: a point file is read twice, so it cannot be a FIFO, a socket or a device";
    // Only a regular file is opened, and without waiting in any case: a FIFO
    // put in its place since would otherwise hold the run until a writer came.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return "cannot be read (" + std::generic_category().message(errno) + ")";
    ::close(fd);
    return "";
}

InputList point_files(const std::vector<std::string>& inputs, bool skip_unreadable)
{
    InputList list;
    for (const std::string& input : inputs) {
        std::error_code ec;
        const fs::file_status status = fs::status(input, ec);
        if (fs::is_directory(status)) {
            add_folder_files(input, skip_unreadable, list);
        } else if (!fs::exists(status) && !fs::is_symlink(fs::symlink_status(input, ec))) {
            throw InputError(input + ": no such file or folder");
        } else if (!is_point_file_name(input)) {
            throw InputError(input + ": not a point file (.xyz, .las or .laz)");
        } else if (const std::string why = why_unreadable(input); !why.empty()) {
            throw InputError(named(input, why));
        } else {
            list.files.push_back(input);
        }
    }
    return list;
}

}  // namespace kestranov::gridder
