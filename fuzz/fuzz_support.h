// What the fuzz targets share: a scratch drive that lives as long as the
// fuzzing process, and a readable stop. The file helpers are the tests' own. The drive sits under TMPDIR
// (fuzz/run.sh points it at a folder it removes afterwards).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "files.h"

namespace fuzz {

// Stops the fuzzer with a readable reason: libFuzzer saves the input.
// Control bytes other than tab and line feed are shown as \xNN.
[[noreturn]] inline void broken(const std::string& why)
{
    std::string shown;
    for (unsigned char c : why) {
        if (c >= 0x20 || c == '\t' || c == '\n') {
            shown += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        }
    }
    std::fprintf(stderr, "\n*** invariant broken: %s\n", shown.c_str());
    std::abort();
}

inline void check(bool ok, const std::string& why)
{
    if (!ok) broken(why);
}

// One directory standing for c:\ for the whole fuzzing process. Never
// destroyed, so that the exit handler that removes it can still name it.
inline const std::filesystem::path& drive()
{
    static const std::filesystem::path* root = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestranov-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) broken("mkdtemp failed");
        auto* path = new std::filesystem::path(pattern);
        // Gone when the fuzzer exits normally; after a crash fuzz/run.sh removes it.
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(drive(), ec);
        });
        return path;
    }();
    return *root;
}

// Everything in `folder` except the entries named in `keep` goes.
template <class Keep>
void clear_folder_except(const std::filesystem::path& folder, const Keep& keep)
{
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        bool kept = false;
        for (const auto& k : keep) kept = kept || e.path().filename() == k;
        if (!kept) std::filesystem::remove_all(e.path(), ec);
    }
}

inline bool starts_with(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
inline bool contains(std::string_view s, std::string_view p) { return s.find(p) != std::string_view::npos; }

}  // namespace fuzz
