// The Windows drive c:\ of the dialogue is the directory the program runs in.
// The console keeps showing Windows paths; only opening a file maps them.
#pragma once

#include <filesystem>
#include <string_view>

namespace kestranov {

// c:\images\zone1\a.xyz -> <root>/images/zone1/a.xyz. Backslashes become
// separators; a path without the drive prefix is taken relative to the root.
std::filesystem::path host_path(const std::filesystem::path& root, std::string_view windows_path);

}  // namespace kestranov
