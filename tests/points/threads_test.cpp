// Point files read on several threads give the very same run as on one:
// console text, files and exit status, for every input, across many block
// boundaries, and when the system cannot start a thread or a thread runs
// out of memory.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>

#include "core/reading_options.h"
#include "e2e/program_runner.h"
#include "support.h"

using namespace kestranov;

namespace {

struct Outcome {
    int status;
    std::string console;
    std::map<std::string, std::string> files;
    bool operator==(const Outcome&) const = default;
};

using Named = std::vector<std::pair<std::string, std::string>>;

// How a threaded reading is set up: its block size (0: the usual 4 MiB), a
// thread start or a part's reading that fails (-1: none), the vector path
// of the record reading and of the cell placing, and the smallest file read
// on several threads (0: every file, however small).
struct Reading {
    std::size_t block = 0;
    int failing_start = -1, failing_part = -1;
    std::optional<VectorPath> path = std::nullopt;
    std::uint64_t threads_from = 0;
};

Outcome run_with(int threads, const Named& files, const std::string& answers, Reading r = {})
{
    Session s;
    s.st.reading.threads = threads;
    if (r.block) s.st.seams.block_size = r.block;
    s.st.seams.failing_start = r.failing_start;
    s.st.seams.failing_part = r.failing_part;
    s.st.seams.path = r.path;
    s.st.seams.threads_from_bytes = r.threads_from;
    for (const auto& [name, bytes] : files) s.put(name + ".xyz", bytes);
    Outcome o{s.run(answers), s.console(), {}};
    for (const std::string& name : s.files_in_zone()) o.files[name] = read_file(s.zone(name));
    return o;
}

// Records of a few thousand points over 40 x 30 m, with separators that
// let records span lines, some elevations 0.0 and -0.0 in the same cells.
std::string cloud(std::mt19937_64& rng, int points)
{
    const char* separators[] = {" ", " ", "\t", "\n", "\r\n", "  \n"};
    std::string text;
    for (int k = 0; k < points; ++k) {
        const double x = static_cast<double>(rng() % 4000) / 100, y = static_cast<double>(rng() % 3000) / 100;
        const int kind = static_cast<int>(rng() % 10);
        const std::string z = kind == 0   ? "0.0"
                              : kind == 1 ? "-0.0"
                                          : std::to_string(100 + static_cast<int>(rng() % 5000) / 100.0);
        for (const std::string& v : {std::to_string(x), std::to_string(y), z}) text += v + separators[rng() % 6];
    }
    return text + "\n";
}

}  // namespace

TEST(Threads, EveryThreadCountGivesTheSameRun)
{
    std::mt19937_64 rng(12);
    const std::string slope = read_file(KESTRANOV_TEST_DATA "/golden/slope.xyz");
    struct Case {
        const char* what;
        Named files;
        std::string answers;
    };
    std::vector<Case> cases = {
        {"golden ascii", {{"slope", slope}}, gridding_answers({"slope"}, "1", 0) + "dem\n0\n"},
        {"golden raster", {{"slope", slope}}, gridding_answers({"slope"}, "1", 1) + "dem\n1\n0\n2\n"},
    };
    for (int round = 0; round < 3; ++round) {
        Named files = {{"a", cloud(rng, 9000)}, {"b", cloud(rng, 12000)}, {"c", cloud(rng, 300)}};
        cases.push_back(
            {"three files, ascii", files, gridding_answers({"a", "b", "c"}, "0.5", round % 2) + "dem\n0\n"});
        cases.push_back({"three files, raster", files, gridding_answers({"c", "a", "b"}, "0.5", 0) + "dem\n1\n1\n3\n"});
        // 0x1A ends the text; what follows it is never read.
        Named ended = {{"a", files[0].second + "\x1a 7 x junk"}, {"b", files[1].second}};
        cases.push_back({"end of text", ended, gridding_answers({"a", "b"}, "0.5", 1) + "dem\n0\n"});
        // A bad record late in the second file: the first one in file order is named.
        std::string late = files[1].second;
        late.insert(late.size() * 3 / 4, " 1.2.3 ");
        late.insert(late.size() * 7 / 8, " x ");
        cases.push_back({"bad record", {{"a", files[0].second}, {"b", late}}, gridding_answers({"a", "b"}, "0.5", 0)});
        // A last record of fewer than three numbers.
        cases.push_back({"short record", {{"a", files[0].second + " 5 6\n"}}, gridding_answers({"a"}, "0.5", 0)});
    }
    // A token longer than a block of 4099 bytes.
    cases.push_back({"token longer than a block",
                     {{"a", "1 2 3\n" + std::string(5000, 'x') + " 2 3\n"}},
                     gridding_answers({"a"}, "0.5", 0)});
    // Blocks of 4099 bytes cut the 12000-point file some 80 times: a token,
    // a record or a bad token falls on a boundary everywhere.
    // Every vector path, on one thread and on more, gives that run too.
    const Reading readings[] = {{},
                                {4099},
                                {65537},
                                {4099, 0},
                                {4099, 1},
                                {4099, -1, 0},
                                {4099, -1, 7},
                                {0, -1, -1, VectorPath::scalar},
                                {4099, -1, -1, VectorPath::avx2},
                                // Files on both sides: the 300 points on one
                                // thread, the thousands on several.
                                {4099, -1, -1, std::nullopt, 50000}};
    for (const Case& c : cases) {
        const Outcome one = run_with(1, c.files, c.answers);
        for (const Reading& r : readings)
            for (int threads : {1, 2, 3})
                EXPECT_TRUE(run_with(threads, c.files, c.answers, r) == one)
                    << c.what << ", " << threads << " threads, block " << r.block << ", failing start "
                    << r.failing_start << ", failing part " << r.failing_part << ", threads from " << r.threads_from;
    }
}

// Under a limit on virtual memory, threads cannot all be started and
// allocations fail inside them: the run still ends at once, with the DEM or
// with the memory message, never a hang or an abort, and as the run on one
// thread ends under the same limit. At 0.25 m the grids take 43 MB, which
// threads that kept their stacks or heaps after the first reading would
// take from (the run then stops at the density check, alike on any count).
TEST(Threads, MemoryLimitsEndTheRunAsOnOneThread)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve far more address space than these limits";
#endif
    TempDir drive;
    std::string text;
    // The area three times over: a file large enough to be read on every
    // thread the run is given.
    for (int n = 0; n < 3 * 300000 + 20000; ++n) {
        const int k = n % 300000;
        text += std::to_string(k % 600) + "." + std::to_string(k % 7) + " " + std::to_string(k / 600) + ".5 " +
                std::to_string(100 + k % 37) + ".25\n";
    }
    ASSERT_GE(text.size(), kestranov::ReadingSeams{}.threads_from_bytes);
    write_file(drive / "images" / "z" / "a.xyz", text);
    const auto outcome = [&](const std::string& cell, int threads, int megabytes) {
        const std::string answers = "z\n1\na\n" + cell + "\n0\ndem\n0\n";
        const std::string limits = "ulimit -v " + std::to_string(megabytes * 1000) +
                                   "; export KESTRANOV_THREADS=" + std::to_string(threads) + ";";
        const ProgramRun r = run_program(drive.path(), answers, limits, 30);
        const std::string tail = r.console.substr(r.console.rfind("\n\n\t") + 1);
        const std::filesystem::path dem = drive / "images" / "z" / "dem_lidar.asc";
        const std::string grid = std::filesystem::exists(dem) ? read_file(dem) : "";
        std::filesystem::remove(dem);
        return std::to_string(r.status) + tail + grid;
    };
    for (const char* cell : {"1", "0.25"})
        for (int megabytes : {24, 32, 40, 64, 100, 400, 1000}) {
            const std::string one = outcome(cell, 1, megabytes);
            EXPECT_TRUE(one.starts_with("0") || one.find("Not enough memory") != std::string::npos ||
                        one.find("Despite an attempt") != std::string::npos)
                << one.substr(0, 300);
            for (int threads : {2, 3, 64}) {
                const std::string many = outcome(cell, threads, megabytes);
                EXPECT_TRUE(many == one) << threads << " threads, " << megabytes << " MB, cell " << cell << ": "
                                         << many.substr(0, 300) << "\ninstead of\n"
                                         << one.substr(0, 300);
            }
        }
}
