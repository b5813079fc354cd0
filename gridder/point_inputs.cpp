#include "gridder/point_inputs.h"

#include <algorithm>
#include <cctype>
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

// Folders hold files of every kind (a .txt descriptor, the .prj of a
// grid): only the point files are read, by name, as `ls` lists them in
// the C locale, so that every run over a folder reads it in one order.
std::vector<std::string> folder_files(const std::string& folder)
{
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code kind;
        if (is_point_file_name(name) && fs::is_regular_file(it->path(), kind)) found.push_back(it->path().string());
    }
    if (ec) throw InputError(folder + ": the folder cannot be read (" + ec.message() + ")");
    std::sort(found.begin(), found.end());
    if (found.empty()) throw InputError(folder + ": the folder holds no point file (.xyz, .las or .laz)");
    return found;
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

std::vector<std::string> point_files(const std::vector<std::string>& inputs)
{
    std::vector<std::string> files;
    for (const std::string& input : inputs) {
        std::error_code ec;
        const fs::file_status status = fs::status(input, ec);
        if (fs::is_directory(status)) {
            const std::vector<std::string> inside = folder_files(input);
            files.insert(files.end(), inside.begin(), inside.end());
        } else if (!fs::exists(status)) {
            throw InputError(input + ": no such file or folder");
        } else if (!is_point_file_name(input)) {
            throw InputError(input + ": not a point file (.xyz, .las or .laz)");
        } else {
            files.push_back(input);
        }
    }
    return files;
}

}  // namespace kestranov::gridder
