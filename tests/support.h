// Shared test fixtures: a temporary drive, files on it, and whole runs
// driven in-process with string streams as the console.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "run/driver.h"
#include "run/run_state.h"

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
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline void write_file(const std::filesystem::path& p, const std::string& bytes)
{
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

inline std::string read_file(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Point records "X Y Z\n" from triples.
inline std::string cloud_text(const std::vector<std::vector<double>>& points)
{
    std::ostringstream s;
    s.precision(17);
    for (const auto& p : points) s << p[0] << ' ' << p[1] << ' ' << p[2] << '\n';
    return s.str();
}

// One run of the program in this process: answers in, console text out.
struct Session {
    TempDir drive;
    std::istringstream in;
    std::ostringstream out;
    RunState st;
    int status = -1;

    std::filesystem::path zone(const std::string& rel = "") const { return drive.path() / "images" / "zone1" / rel; }
    void put(const std::string& name, const std::string& bytes) { write_file(zone(name), bytes); }

    int run(const std::string& answers)
    {
        in.str(answers);
        st.in = &in;
        st.out = &out;
        st.drive_root = drive.path();
        status = ::run(st);
        return status;
    }
    std::string console() const { return out.str(); }
    std::vector<std::string> files_in_zone() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(zone())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Answers for a run on files of zone1 up to the output questions.
inline std::string gridding_answers(const std::vector<std::string>& names, const std::string& cell, int retorno)
{
    std::string a = "zone1\n" + std::to_string(names.size()) + "\n";
    for (const auto& n : names) a += n + "\n";
    return a + cell + "\n" + std::to_string(retorno) + "\n";
}

inline std::size_t count_of(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Rounds of a randomised comparison: a quick sweep by default, fifty times
// more when KESTRANOV_LONG_SWEEP is set (make test-long).
inline int sweep(int rounds) { return std::getenv("KESTRANOV_LONG_SWEEP") ? rounds * 50 : rounds; }
