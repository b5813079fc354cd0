// An output is complete or absent, whatever fails and however the
// run is stopped. Every write and every rename of a run fails in turn; a
// signal arrives while a temporary file exists; links, FIFOs, long names;
// two runs placing the same pair at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

#include "e2e/program_runner.h"
#include "platform/output_file.h"
#include "support.h"
#include "synthetic_las.h"

using namespace kestranov;

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

enum class Fault { none, short_writes, write_error, file_too_large, rename_error };

// The output layer's system calls, with one fault injected: at the `at`-th
// write or rename, or (short writes) on every write.
struct Injection {
    Fault fault = Fault::none;
    int at = -1, writes = 0, renames = 0;
    int ready_pipe = -1;              // when set, the first write reports there how many temporary files the
    fs::path zone;                    // zone holds, then stops the run with stop_with
    int stop_with = 0;                // without ready_pipe: the signal raised at the `at`-th rename
    std::function<void()> meanwhile;  // run once, right after the first rename
} inj;

ssize_t injected_write(int fd, const void* bytes, std::size_t n)
{
    if (inj.ready_pipe >= 0) {
        char temporaries = 0;
        for (const auto& e : fs::directory_iterator(inj.zone)) temporaries += e.path().filename().string()[0] == '.';
        (void)!::write(inj.ready_pipe, &temporaries, 1);
        ::kill(::getpid(), inj.stop_with);  // as a user would, while the file is being written
        for (;;) pause();
    }
    const int k = inj.writes++;
    if (inj.fault == Fault::short_writes) return ::write(fd, bytes, std::min<std::size_t>(n, 1000));
    if (k == inj.at && inj.fault == Fault::write_error) return errno = EIO, -1;
    if (k == inj.at && inj.fault == Fault::file_too_large) return errno = EFBIG, -1;
    return ::write(fd, bytes, n);
}

int injected_rename(int dir, const char* from, const char* to)
{
    if (inj.renames == inj.at && inj.stop_with != 0) ::kill(::getpid(), inj.stop_with);
    if (inj.renames++ == inj.at && inj.fault == Fault::rename_error) return errno = EACCES, -1;
    const int renamed = ::renameat(dir, from, dir, to);
    if (auto meanwhile = std::exchange(inj.meanwhile, nullptr)) meanwhile();
    return renamed;
}

// Every file of a folder, hidden ones included, with its bytes.
Files files_of(const fs::path& folder)
{
    Files files;
    for (const auto& e : fs::directory_iterator(folder))
        files[e.path().filename()] = e.is_directory()                 ? "<folder>"
                                     : e.path().extension() == ".xyz" ? "<points>"
                                                                      : read_file(e.path());
    return files;
}
Files zone_files(const Session& s) { return files_of(s.zone()); }

// Points every `step` metres over n x n cells of `step` metres.
std::string lattice_cloud(int n = 30, double step = 1)
{
    std::string text;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j)
            text += std::to_string(i * step) + " " + std::to_string(j * step) + " " +
                    std::to_string(100 + (i * j) % 17) + ".25\n";
    return text;
}

struct Output {
    const char* answers;
    std::vector<std::string> names;
};
const Output outputs[] = {
    {"dem\n0\n", {"dem_lidar.asc"}},
    {"dem\n1\n0\n2\n", {"dem_lidar_m2.raw", "dem_lidar_m2.txt"}},
    {"dem\n1\n1\n3\n", {"dem_lidar_m4.raw", "dem_lidar_m4.txt"}},
};

// One in-process run with the injection, from a zone holding the cloud and,
// when `older`, an older output of the same names.
struct InjectedRun {
    Session s;
    Files before;
    InjectedRun(const Output& o, bool older, Fault fault, int at)
    {
        s.put("a.xyz", lattice_cloud());
        if (older)
            for (const auto& n : o.names) s.put(n, "older " + n);
        before = zone_files(s);
        inj = Injection{};
        inj.fault = fault, inj.at = at;
        output_set_calls(injected_write, injected_rename);
        s.run(gridding_answers({"a"}, "1", 0) + o.answers);
        output_set_calls(nullptr, nullptr);
    }
};

}  // namespace

TEST(CompleteOrNothing, EveryWriteAndRenameOfARunFailingInTurn)
{
    for (const Output& o : outputs)
        for (bool older : {false, true}) {
            const InjectedRun reference(o, older, Fault::none, -1);
            ASSERT_EQ(reference.s.status, 0) << reference.s.console();
            const Files written = zone_files(reference.s);
            const int writes = inj.writes, renames = inj.renames;
            ASSERT_GE(writes, static_cast<int>(o.names.size()));

            // Writes cut short go on where they stopped: the same bytes.
            const InjectedRun cut(o, older, Fault::short_writes, -1);
            EXPECT_EQ(cut.s.status, 0) << cut.s.console();
            EXPECT_EQ(zone_files(cut.s), written) << o.answers;
            EXPECT_GT(inj.writes, writes);

            struct Failure {
                Fault fault;
                int count;
                const char* message;
            };
            for (const Failure f :
                 {Failure{Fault::write_error, writes, "could not be written completely; nothing was kept"},
                  Failure{Fault::file_too_large, writes, "could not be written completely; nothing was kept"},
                  Failure{Fault::rename_error, renames, "could not take its place; nothing was kept"}})
                for (int k = 0; k < f.count; ++k) {
                    const InjectedRun r(o, older, f.fault, k);
                    const std::string where = std::string(o.answers) + (older ? " over older files" : "") + ", fault " +
                                              std::to_string(static_cast<int>(f.fault)) + " at " + std::to_string(k);
                    EXPECT_EQ(r.s.status, 1) << where;
                    EXPECT_NE(r.s.console().find(f.message), std::string::npos) << where << r.s.console();
                    EXPECT_EQ(zone_files(r.s), r.before) << where;
                }
        }
}

namespace {

// The image and descriptor of one run, written and not yet placed.
struct Pair {
    OutputFile image, descriptor;
    Pair(const fs::path& folder, const std::string& run)
        : image(folder / "dem_lidar_m2.raw", OutputFile::Mode::binary),
          descriptor(folder / "dem_lidar_m2.txt", OutputFile::Mode::text)
    {
        image.write("image of " + run);
        descriptor.write("descriptor of " + run);
    }
    int place() { return commit_pair(image, descriptor); }
};

Files placed_by(const std::string& run)
{
    return {{"dem_lidar_m2.raw", "image of " + run}, {"dem_lidar_m2.txt", "descriptor of " + run}};
}

}  // namespace

// Run B places the same pair while run A is between its image and its
// descriptor: B waits for A, so the pair left is B's, whole, with nothing
// else beside it (no lock file, no temporary file).
TEST(CompleteOrNothing, TwoRunsPlacingOnePairTakeTurns)
{
    TempDir folder;
    Pair a(folder.path(), "run A"), b(folder.path(), "run B");
    int b_placed = -1;
    std::thread run_b;
    inj = Injection{};
    inj.meanwhile = [&] {
        run_b = std::thread([&] { b_placed = b.place(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    };
    output_set_calls(injected_write, injected_rename);
    EXPECT_EQ(a.place(), 0);
    run_b.join();
    output_set_calls(nullptr, nullptr);
    EXPECT_EQ(b_placed, 0);
    EXPECT_EQ(files_of(folder.path()), placed_by("run B"));
}

// A folder that another process keeps locked: when the wait runs out the
// pair is not placed and the older pair stays; a lock let go in time is waited for.
TEST(CompleteOrNothing, APairWaitsForTheFolderLockOnlySoLong)
{
    TempDir folder;
    for (const auto& [name, bytes] : placed_by("an older run")) write_file(folder.path() / name, bytes);
    const int held = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    output_set_lock_wait(std::chrono::milliseconds(200));
    {
        Pair late(folder.path(), "run A");
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(late.place(), 1);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    }
    EXPECT_EQ(files_of(folder.path()), placed_by("an older run"));

    // A lock let go well within the wait is taken, however loaded the machine.
    output_set_lock_wait(std::chrono::milliseconds(5000));
    Pair next(folder.path(), "run B");
    std::thread holder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::close(held);
    });
    EXPECT_EQ(next.place(), 0);
    holder.join();
    output_set_lock_wait(std::chrono::milliseconds(0));
    EXPECT_EQ(files_of(folder.path()), placed_by("run B"));
}

// A descriptor that cannot be created (a folder of its name) stops the run
// before anything is written: the older image stays, nothing new appears.
TEST(CompleteOrNothing, ADescriptorThatCannotBeCreatedKeepsTheOlderImage)
{
    Session s;
    s.put("a.xyz", lattice_cloud());
    s.put("dem_lidar_m2.raw", "older image");
    fs::create_directory(s.zone("dem_lidar_m2.txt"));
    const Files before = zone_files(s);
    EXPECT_EQ(s.run(gridding_answers({"a"}, "1", 0) + outputs[1].answers), 1);
    EXPECT_NE(s.console().find("The file c:\\images\\zone1\\dem_lidar_m2.txt cannot be created"), std::string::npos);
    EXPECT_EQ(zone_files(s), before);
}

namespace {

// Signals that end a process by default, with and without a core dump.
const int stopping_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU, SIGABRT, SIGVTALRM, SIGRTMIN + 1};

// The run of `s` in a child process with the injection set; returns its wait status.
int run_in_child(Session& s, const std::string& answers, const Injection& with)
{
    const pid_t child = fork();
    if (child == 0) {
        // A test run in the background may have inherited ignored signals; a
        // user's run starts with the default actions. No core files either.
        for (int k : stopping_signals) {
            struct sigaction old {};
            if (sigaction(k, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) std::signal(k, SIG_DFL);
        }
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        inj = with;
        output_set_calls(injected_write, injected_rename);
        _exit(s.run(answers));  // a signal ends the child before
    }
    if (with.ready_pipe >= 0) close(with.ready_pipe);
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

}  // namespace

// Stopped by a signal while writing: the process ends by that signal and no
// temporary file is left; an older DEM is untouched.
TEST(CompleteOrNothing, ASignalWhileWritingLeavesNoTemporaryFile)
{
    for (const Output& o : {outputs[0], outputs[1]})
        for (int sig : stopping_signals) {
            Session s;
            s.put("a.xyz", lattice_cloud());
            s.put(o.names[0], "older");
            const Files before = zone_files(s);
            int ready[2];
            ASSERT_EQ(pipe(ready), 0);
            Injection with;
            with.ready_pipe = ready[1];
            with.zone = s.zone();
            with.stop_with = sig;
            const int status = run_in_child(s, gridding_answers({"a"}, "1", 0) + o.answers, with);
            char temporaries = -1;
            EXPECT_EQ(read(ready[0], &temporaries, 1), 1);
            close(ready[0]);
            EXPECT_EQ(temporaries, static_cast<char>(o.names.size())) << "a temporary file per output while writing";
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig << ", status " << status;
            EXPECT_EQ(zone_files(s), before) << "signal " << sig;
        }
}

// A signal while the image and its descriptor take their places waits until
// both have: the pair on disk is the new one, whole, and no file is left over.
TEST(CompleteOrNothing, ASignalDuringThePlacingWaitsForIt)
{
    for (int sig : {SIGTERM, SIGXCPU})
        for (int k = 0; k < 3; ++k) {
            Session reference;
            reference.put("a.xyz", lattice_cloud());
            ASSERT_EQ(reference.run(gridding_answers({"a"}, "1", 0) + outputs[1].answers), 0);
            Session s;
            s.put("a.xyz", lattice_cloud());
            for (const auto& n : outputs[1].names) s.put(n, "older " + n);
            Injection with;
            with.at = k;
            with.stop_with = sig;
            const int status = run_in_child(s, gridding_answers({"a"}, "1", 0) + outputs[1].answers, with);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "rename " << k << ", status " << status;
            EXPECT_EQ(zone_files(s), zone_files(reference)) << "rename " << k;
        }
}

// Under a shell's file-size limit (SIGXFSZ left at its default) the write
// fails with the usual message instead of killing the run.
TEST(CompleteOrNothing, AFileSizeLimitFailsTheWrite)
{
    for (const Output& o : outputs) {
        TempDir drive;
        // Outputs of 28 KB and more; the console, a file too, stays below the limit.
        write_file(drive.path() / "images" / "zone1" / "a.xyz", lattice_cloud(120, 0.25));
        const ProgramRun r = run_program(drive.path(), gridding_answers({"a"}, "0.25", 0) + o.answers, "ulimit -f 16;");
        EXPECT_EQ(r.status, 1) << o.answers;
        EXPECT_NE(r.console.find("could not be written completely; nothing was kept"), std::string::npos) << r.console;
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(drive.path() / "images" / "zone1"))
            left.push_back(e.path().filename());
        EXPECT_EQ(left, std::vector<std::string>{"a.xyz"});
    }
}

namespace {

// The 52 301 points of the Autzen sample's corner of 750 x 246 feet.
std::string autzen_corner(const std::string& las)
{
    const std::uint32_t offset = field<std::uint32_t>(las, 96), length = field<std::uint16_t>(las, 105);
    std::string crop = las.substr(0, offset);
    for (std::size_t p = offset; p + length <= las.size(); p += length)
        if (field<std::uint32_t>(las, p) - 63612100u <= 75000u &&
            field<std::uint32_t>(las, p + 4) - 84896500u <= 24600u)
            crop.append(las, p, length);
    patch(crop, 107, static_cast<std::uint32_t>((crop.size() - offset) / length));
    return crop;
}

}  // namespace

// Under a limit on virtual memory the run ends with the DEM or with a memory
// message, and leaves no temporary file: from limits so low that the C++
// runtime could not set its exception pool aside at startup up to one where
// the run completes, through those where the writer runs short. The LAS cloud
// is a corner of the Autzen sample, or without it as many points made here
// over a grid of the same order: small grids with pits, read with little
// memory, so that the writer is the first to run out over a wide range.
TEST(CompleteOrNothing, MemoryLimitsFromStartupToTheWritersLeaveNoTemporaryFile)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves far more address space than these limits";
#endif
    const fs::path sample = fs::path(KESTRANOV_SHARED_DATA) / "las" / "autzen_trim.las";
    const bool real = fs::exists(sample);
    TempDir drive;
    const fs::path zone = drive.path() / "images" / "zone1";
    write_file(zone / "a.las",
               real ? autzen_corner(read_file(sample)) : synthetic_las(2, 3, 34, 52301, {0.01, 0.01, 0.01}, {0, 0, 0}));
    const std::string cell = real ? "5" : "0.4";
    for (const Output& o : outputs) {
        int started = 0, completed = 0;
        for (int kib = 5000, threads = 1; kib < 12000; kib += 16, threads = 4 - threads) {
            const ProgramRun r = run_program(
                drive.path(), gridding_answers({"a"}, cell, 0) + o.answers,
                "ulimit -v " + std::to_string(kib) + "; export KESTRANOV_THREADS=" + std::to_string(threads) + ";", 30);
            if (r.status == 127) continue;  // the dynamic loader itself could not start the program
            ++started;
            EXPECT_TRUE(r.status == 0 || (r.status == 1 && r.console.find("Not enough memory") != std::string::npos))
                << kib << " KB, " << threads << " threads, " << o.answers << ": status " << r.status << "\n"
                << r.console.substr(r.console.size() > 300 ? r.console.size() - 300 : 0);
            std::vector<std::string> left;
            for (const auto& e : fs::directory_iterator(zone))
                if (e.path().filename().string().starts_with(".kst-")) left.push_back(e.path().filename());
            EXPECT_EQ(left, std::vector<std::string>{}) << kib << " KB, " << threads << " threads, " << o.answers;
            for (const auto& n : o.names) fs::remove(zone / n);
            for (const auto& n : left) fs::remove(zone / n);
            if (r.status == 0 && ++completed) break;
        }
        // Many limits too low for the run, then one where it completes.
        EXPECT_GT(started, 20) << o.answers;
        EXPECT_EQ(completed, 1) << o.answers;
    }
}

// Names as long as the system takes are written; one past it is refused
// before anything is written.
TEST(CompleteOrNothing, NamesUpToTheSystemsLimit)
{
    struct Case {
        std::size_t length;
        const char* format;
        const char* suffix;
        int status;
    };
    for (const Case c : {Case{245, "0\n", "_lidar.asc", 0}, Case{242, "1\n1\n0\n", "_lidar_m4.txt", 0},
                         Case{246, "0\n", "_lidar.asc", 1}}) {
        Session s;
        s.put("a.xyz", lattice_cloud());
        const std::string dem(c.length, 'n');
        EXPECT_EQ(s.run(gridding_answers({"a"}, "1", 0) + dem + "\n" + c.format), c.status) << c.length;
        std::error_code too_long;
        EXPECT_EQ(fs::exists(s.zone(dem + c.suffix), too_long), c.status == 0) << c.length;
        EXPECT_EQ(s.files_in_zone().size(), c.status == 0 ? (c.format[0] == '0' ? 2u : 3u) : 1u) << c.length;
    }
}

// A DEM name that is a link is written through it; a FIFO is written
// directly, never replaced, and one without a reader is refused at once.
TEST(CompleteOrNothing, LinksAndFifosAreWrittenThroughNotReplaced)
{
    Session s;
    s.put("a.xyz", lattice_cloud());
    s.put("../elsewhere/real.asc", "older");
    fs::create_symlink("../elsewhere/real.asc", s.zone("dem_lidar.asc"));
    ASSERT_EQ(s.run(gridding_answers({"a"}, "1", 0) + "dem\n0\n"), 0) << s.console();
    EXPECT_TRUE(fs::is_symlink(s.zone("dem_lidar.asc")));
    const std::string grid = read_file(s.zone("../elsewhere/real.asc"));
    EXPECT_TRUE(grid.starts_with("ncols 30\r\n")) << grid.substr(0, 20);
    EXPECT_EQ(s.files_in_zone(), (std::vector<std::string>{"a.xyz", "dem_lidar.asc"}));

    Session f;
    f.put("a.xyz", lattice_cloud());
    ASSERT_EQ(mkfifo(f.zone("dem_lidar.asc").c_str(), 0600), 0);
    EXPECT_EQ(f.run(gridding_answers({"a"}, "1", 0) + "dem\n0\n"), 1);
    EXPECT_NE(f.console().find("dem_lidar.asc cannot be created"), std::string::npos) << "no reader: no hang";

    Session g;
    g.put("a.xyz", lattice_cloud());
    ASSERT_EQ(mkfifo(g.zone("dem_lidar.asc").c_str(), 0600), 0);
    FifoReader reader(g.zone("dem_lidar.asc"));
    const int status = g.run(gridding_answers({"a"}, "1", 0) + "dem\n0\n");
    const std::string received = reader.finish();
    EXPECT_EQ(status, 0) << g.console();
    EXPECT_TRUE(fs::is_fifo(g.zone("dem_lidar.asc")));
    EXPECT_EQ(received, grid);

    // A reader that goes away early: the usual write failure, not SIGPIPE.
    Session h;
    h.put("a.xyz", lattice_cloud(120, 0.25));  // some 160 KB of text, more than a pipe holds
    ASSERT_EQ(mkfifo(h.zone("dem_lidar.asc").c_str(), 0600), 0);
    const int fd = ::open(h.zone("dem_lidar.asc").c_str(), O_RDONLY | O_NONBLOCK);
    std::thread quitter([&] {
        char buf[1000];
        while (::read(fd, buf, sizeof buf) <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::close(fd);
    });
    EXPECT_EQ(h.run(gridding_answers({"a"}, "0.25", 0) + "dem\n0\n"), 1);
    quitter.join();
    EXPECT_NE(h.console().find("dem_lidar.asc could not be written completely"), std::string::npos) << h.console();

    // An image and a descriptor linked to one file would overwrite each other.
    Session k;
    k.put("a.xyz", lattice_cloud());
    fs::create_symlink("one", k.zone("dem_lidar_m2.raw"));
    fs::create_symlink("one", k.zone("dem_lidar_m2.txt"));
    EXPECT_EQ(k.run(gridding_answers({"a"}, "1", 0) + outputs[1].answers), 1);
    EXPECT_NE(k.console().find("are links to one and the same file"), std::string::npos) << k.console();
    EXPECT_FALSE(fs::exists(k.zone("one")));
}

// A 1 MB folder name and 2000 files: the folder is held once, not per file
// (2 GB if it were). The bound leaves room for a sanitizer's own memory.
TEST(CompleteOrNothing, MemoryDoesNotGrowWithFolderNameTimesFiles)
{
    TempDir drive;
    std::string answers = std::string(1 << 20, 'f') + "\n2000\n";
    for (int k = 0; k < 2000; ++k) answers += "a\n";
    const ProgramRun r = run_program(drive.path(), answers + "1\n0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.console.find(".xyz unknown"), std::string::npos);
    EXPECT_LT(r.peak_kib, 512 * 1024) << "peak resident memory in KiB";
}

namespace {
// A memory control group of `bytes`, version 1 or 2, where this machine lets
// a test make one; removed on destruction.
struct ControlGroup {
    fs::path folder;
    std::string procs;
    explicit ControlGroup(std::uint64_t bytes)
    {
        const std::string name = "kestranov-test-" + std::to_string(getpid());
        for (const auto& [parent, limit] :
             {std::pair{"/sys/fs/cgroup/memory", "memory.limit_in_bytes"}, std::pair{"/sys/fs/cgroup", "memory.max"}}) {
            std::error_code ec;
            if (!fs::create_directory(fs::path(parent) / name, ec)) continue;
            folder = fs::path(parent) / name;
            if ((std::ofstream(folder / limit) << bytes).flush() && fs::exists(folder / "cgroup.procs")) return;
            fs::remove(folder, ec);
            folder.clear();
        }
    }
    ~ControlGroup()
    {
        std::error_code ec;
        if (!folder.empty()) fs::remove(folder, ec);
    }
};
}  // namespace

// Issue 10: a grid that fits the machine but not the run's control group
// was killed by the out-of-memory killer; it is refused with a message.
TEST(CompleteOrNothing, AMemoryLimitOfAControlGroupIsRespected)
{
    const ControlGroup group(200u << 20);
    if (group.folder.empty()) GTEST_SKIP() << "no memory control group can be made here";
    TempDir drive;
    write_file(drive.path() / "images" / "zone1" / "a.xyz", "0 0 5\n6000 6000 7\n");
    const ProgramRun r = run_program(drive.path(), gridding_answers({"a"}, "1", 0) + "dem\n0\n",
                                     "echo $$ > " + (group.folder / "cgroup.procs").string() + " &&");
    EXPECT_EQ(r.status, 1) << r.console;
    EXPECT_NE(r.console.find("6000 rows and 6000 columns: it needs "), std::string::npos) << r.console;
    EXPECT_NE(r.console.find(" MB are available"), std::string::npos);
}
