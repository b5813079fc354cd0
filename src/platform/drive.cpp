#include "platform/drive.h"

#include <string>

namespace kestranov {

std::filesystem::path host_path(const std::filesystem::path& root, std::string_view windows_path)
{
    std::string_view rest = windows_path;
    if (rest.size() >= 3 && (rest[0] == 'c' || rest[0] == 'C') && rest[1] == ':' && rest[2] == '\\')
        rest.remove_prefix(3);
    std::string relative(rest);
    for (char& c : relative)
        if (c == '\\') c = '/';
    return root.empty() ? std::filesystem::path(relative) : root / relative;
}

}  // namespace kestranov
