// Throughput of a whole run against the floor of the job: parsing every
// number of the file twice with std::from_chars. Also a plain fscanf reader
// of the same design, the extent pass alone, and the two writers.
//
// usage: kestranov_bench CLOUD.xyz [--no-fscanf] [--runs N] [--writers] [--las CLOUD.las] [--laz CLOUD.laz]...
//        kestranov_bench --path
// The floor, the extent pass and the program are measured with one thread
// and with two (the program with KESTRANOV_THREADS=1 and =2, set
// explicitly), and on machines of more than two cores with every core as
// well (KESTRANOV_THREADS=ALL_CPUS). Each full run is reported as seconds,
// a multiple of the one-thread floor, MB/s per pass over the file (the
// program reads it twice) and the child's peak RSS. With --las, the same
// points as a LAS file are run too, on one thread, against the same floor
// (that of the text) and against reading the file twice with cat. The
// runs on more threads are also given as multiples of the one-thread run,
// in wall time, processor time and page faults. With --laz (once per file), the same points as LAZ
// are run on one thread and on two, against the floor of the text on as
// many threads and against its one-thread floor.
//
// --path prints which vector path the point reader takes on this machine.
// KESTRANOV_SIMD (avx512, avx2 or scalar) forces the reader onto a path, to
// compare them: it reaches the program run as a child unchanged, with the
// rest of this process's environment, and the extent pass measured in this
// process runs the same reader.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/matrix.h"
#include "core/model_files.h"
#include "output/asc_writer.h"
#include "output/raster_pair.h"
#include "run/console_reading.h"

// The reader that picks a vector path at run time names it here; a tree
// without one still builds the benchmark, which then cannot say.
#if __has_include("platform/cpu_features.h")
#include "platform/cpu_features.h"
#define KESTRANOV_BENCH_RECORD_PATH 1
#else
#define KESTRANOV_BENCH_RECORD_PATH 0
#endif

using namespace kestranov;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Every number of [from, to) of the file parsed with from_chars, 1 MiB blocks.
double from_chars_range(const fs::path& cloud, off_t from, off_t to)
{
    constexpr std::size_t block = 1 << 20;
    std::unique_ptr<char[]> buf(new char[block + 64]);
    double sink = 0;
    const int fd = open(cloud.c_str(), O_RDONLY);
    std::size_t carry = 0;
    for (off_t at = from; at < to || carry > 0;) {
        const std::size_t want = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(block - carry), to - at));
        const ssize_t n = want > 0 ? pread(fd, buf.get() + carry, want, at) : 0;
        if (n < 0) break;
        at += n;
        const char* p = buf.get();
        const char* end = p + carry + static_cast<std::size_t>(n);
        const char* cut = end;
        if (n > 0)
            while (cut > p && cut[-1] > ' ') --cut;
        while (p < cut) {
            while (p < cut && *p <= ' ') ++p;
            if (p == cut) break;
            double v;
            auto r = std::from_chars(p, cut, v);
            sink += v;
            p = r.ptr;
        }
        carry = n > 0 ? static_cast<std::size_t>(end - cut) : 0;
        std::memmove(buf.get(), cut, carry);
    }
    close(fd);
    return sink;
}

// The floor: every number parsed with from_chars, both passes, the file
// split at line ends into one range per thread.
double from_chars_two_passes(const fs::path& cloud, int threads)
{
    const off_t size = static_cast<off_t>(fs::file_size(cloud));
    std::vector<off_t> cuts = {0};
    std::ifstream f(cloud, std::ios::binary);
    for (int k = 1; k < threads; ++k) {
        f.seekg(size / threads * k);
        std::string rest;
        std::getline(f, rest);
        cuts.push_back(std::min<off_t>(size, static_cast<off_t>(f.tellg())));
    }
    cuts.push_back(size);
    auto t0 = Clock::now();
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<std::thread> parts;
        for (int k = 0; k < threads; ++k) parts.emplace_back(from_chars_range, cloud, cuts[k], cuts[k + 1]);
        for (std::thread& t : parts) t.join();
    }
    return seconds_since(t0);
}

double fscanf_two_passes(const fs::path& cloud)
{
    double sink = 0;
    auto t0 = Clock::now();
    for (int pass = 0; pass < 2; ++pass) {
        FILE* f = std::fopen(cloud.c_str(), "r");
        double x, y, z;
        while (std::fscanf(f, "%lf %lf %lf", &x, &y, &z) == 3) sink += x + y + z;
        std::fclose(f);
    }
    double t = seconds_since(t0);
    if (sink == 42) std::puts("");
    return t;
}

struct ChildRun {
    double seconds;
    long peak_kib;
    int status;
    double cpu_seconds = 0;  // user and system time of the child
    long faults = 0;         // its page faults (minor and major)
};

double cpu_seconds(const rusage& u)
{
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Reading `file` twice with cat to /dev/null, as a run reads it twice: the
// cost of the two passes' copies out of the page cache and nothing else.
double cat_twice(const fs::path& file)
{
    const std::string path = file.string();
    char* argv[] = {const_cast<char*>("cat"), const_cast<char*>(path.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    for (int pass = 0; pass < 2; ++pass) {
        pid_t pid;
        int status = 0;
        if (posix_spawnp(&pid, "cat", &actions, nullptr, argv, environ) == 0) waitpid(pid, &status, 0);
    }
    const double t = seconds_since(t0);
    posix_spawn_file_actions_destroy(&actions);
    return t;
}

// The program itself, end to end, answers on its standard input, with
// KESTRANOV_THREADS set to `threads`.
ChildRun full_run(const fs::path& cloud, const std::string& answers, const std::string& threads)
{
    const fs::path drive = fs::temp_directory_path() / ("kestranov-bench-" + std::to_string(getpid()));
    fs::remove_all(drive);
    fs::create_directories(drive / "images" / "bench");
    fs::create_symlink(fs::absolute(cloud), drive / "images" / "bench" / ("cloud" + cloud.extension().string()));
    std::ofstream(drive / "answers") << answers;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (drive / "answers").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const std::string cwd = drive.string();
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    char* argv[] = {const_cast<char*>(KESTRANOV_BINARY), nullptr};
    pid_t pid;
    auto t0 = Clock::now();
    // Everything else, KESTRANOV_SIMD among it, goes to the child unchanged.
    std::vector<std::string> env_text = {"KESTRANOV_THREADS=" + threads};
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "KESTRANOV_THREADS=", 18) != 0) env_text.push_back(*e);
    std::vector<char*> env;
    for (std::string& e : env_text) env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn(&pid, KESTRANOV_BINARY, &actions, nullptr, argv, env.data());
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ChildRun r{seconds_since(t0), usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1, cpu_seconds(usage),
               usage.ru_minflt + usage.ru_majflt};
    posix_spawn_file_actions_destroy(&actions);
    fs::remove_all(drive);
    return r;
}

#ifdef KESTRANOV_GRID_BINARY
// kestranov-grid on the same cloud and cell, on `threads` threads: to an
// ESRI grid as the console writes its ASCII grid, or with `statistics`
// (--output-type), or `tif`, to a GeoTIFF.
ChildRun grid_command_run(const fs::path& cloud, int threads, const std::string& statistics = "", bool tif = false)
{
    const bool asc = statistics.empty() && !tif;
    const fs::path out =
        fs::temp_directory_path() / ("kestranov-bench-grid-" + std::to_string(getpid()) + (asc ? ".asc" : ".tif"));
    const std::string cloud_text = cloud.string(), out_text = out.string(), threads_text = std::to_string(threads);
    std::vector<const char*> argv = {KESTRANOV_GRID_BINARY, cloud_text.c_str(),   "--cell", "1",
                                     "--threads",           threads_text.c_str(), "-q",     "-o",
                                     out_text.c_str()};
    if (!statistics.empty()) argv.insert(argv.end(), {"--output-type", statistics.c_str()});
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    auto t0 = Clock::now();
    posix_spawn(&pid, KESTRANOV_GRID_BINARY, &actions, nullptr, const_cast<char**>(argv.data()), environ);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ChildRun r{seconds_since(t0), usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    posix_spawn_file_actions_destroy(&actions);
    fs::remove(out);
    return r;
}
#endif

double extent_pass_alone(const fs::path& cloud, int threads)
{
    std::ostringstream out;
    // An absolute folder, so that the cloud is read where it lies.
    const fs::path where = fs::absolute(cloud);
    const std::string folder = where.parent_path().string() + "/";
    auto t0 = Clock::now();
    SeenFiles seen;
    ConsoleFiles files = console_files("/", folder, {where.stem().string()});
    files.files.reading.threads = threads;
    console_extent_pass(out, files, seen);
    return seconds_since(t0);
}

// The writers on a grid of 4000 x 4000 cells of plausible elevations.
void writers()
{
    const int n = 4000;
    const Matrix<double> dtab(n + 2, n + 2);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) dtab[i][j] = 200.0 + (i * 37 + j * 11) % 10000 / 97.0;
    const GridView grid{dtab.rows(), nullptr, n, n};
    Extents e;
    e.Zmin = 200, e.Zmax = 320;
    const fs::path dir = fs::temp_directory_path() / ("kestranov-bench-w-" + std::to_string(getpid()));
    fs::create_directories(dir);

    // The names a run would give a DEM called "grid" (a 32-bit raster).
    const std::string asc = "grid" + asc_suffix(), image = "grid" + image_suffix(1),
                      descriptor = "grid" + descriptor_suffix(1);
    std::vector<double> asc_times, raw_times;
    std::uintmax_t asc_bytes = 0, raw_bytes = 0;
    for (int k = 0; k < 3; ++k) {
        // Each write makes a new file, as a run usually does: replacing a
        // file by rename makes ext4 flush the new one at once, which would
        // time the disk instead of the writer.
        for (const std::string& name : {asc, image, descriptor}) fs::remove(dir / name);
        auto t0 = Clock::now();
        write_asc({dir / asc, asc}, grid, e, 1.0);
        asc_times.push_back(seconds_since(t0));
        asc_bytes = fs::file_size(dir / asc);

        t0 = Clock::now();
        write_raster({dir / image, image}, {dir / descriptor, descriptor}, grid, {n, n, 1, 100.0, 1.0, e, 0});
        raw_times.push_back(seconds_since(t0));
        raw_bytes = fs::file_size(dir / image);
    }
    std::printf("  ASCII grid   %4d x %4d  %8.1f MB  %7.3f s  %7.0f MB/s\n", n, n, asc_bytes / 1e6, median(asc_times),
                asc_bytes / 1e6 / median(asc_times));
    std::printf("  32-bit raster %4d x %4d %8.1f MB  %7.3f s  %7.0f MB/s  (scaling and writing)\n", n, n,
                raw_bytes / 1e6, median(raw_times), raw_bytes / 1e6 / median(raw_times));
    fs::remove_all(dir);
}

void print_path()
{
#if KESTRANOV_BENCH_RECORD_PATH
    std::printf("vector path: %s", vector_path_name(vector_path()));
#else
    std::printf("vector path: (unknown)");
#endif
    if (const char* forced = std::getenv("KESTRANOV_SIMD")) std::printf("  (KESTRANOV_SIMD=%s)", forced);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && !std::strcmp(argv[1], "--path")) {
        print_path();
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CLOUD.xyz [--no-fscanf] [--runs N] [--writers] [--las CLOUD.las] | --path\n",
                     argv[0]);
        return 2;
    }
    const fs::path cloud = argv[1];
    bool with_fscanf = true, with_writers = false, with_statistics = false;
    fs::path las;
    std::vector<fs::path> lazs;
    int runs = 3;
    for (int k = 2; k < argc; ++k) {
        if (!std::strcmp(argv[k], "--no-fscanf")) with_fscanf = false;
        if (!std::strcmp(argv[k], "--writers")) with_writers = true;
        if (!std::strcmp(argv[k], "--runs") && k + 1 < argc) runs = std::atoi(argv[++k]);
        if (!std::strcmp(argv[k], "--las") && k + 1 < argc) las = argv[++k];
        if (!std::strcmp(argv[k], "--laz") && k + 1 < argc) lazs.push_back(argv[++k]);
        if (!std::strcmp(argv[k], "--statistics")) with_statistics = true;
    }
    if (with_writers) {
        writers();
        return 0;
    }
    const double mb = fs::file_size(cloud) / 1e6;
    std::ifstream count_lines(cloud);
    long long points = std::count(std::istreambuf_iterator<char>(count_lines), {}, '\n');

    // One and two threads always, so that figures from different machines
    // line up; every core besides where there are more.
    struct Setting {
        int threads;
        std::string env;  // KESTRANOV_THREADS for the full run
        std::vector<double> floor, extent, full, command;
        std::vector<double> full_cpu, full_faults;    // the full runs' user + system seconds and page faults
        std::vector<double> max_tif, mean_count_tif;  // kestranov-grid to a GeoTIFF: max alone, mean and count
        std::vector<double> tif;                      // kestranov-grid's default grid to a GeoTIFF, not an ESRI grid
        long peak_kib = 0, asc_kib = 0, tif_kib = 0;
    };
    const int cpus = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    std::vector<Setting> settings(2);
    settings[0].threads = 1, settings[0].env = "1", settings[1].threads = 2, settings[1].env = "2";
    if (cpus > 2) settings.emplace_back().threads = cpus, settings.back().env = "ALL_CPUS";
    std::vector<double> las1, las_cat;
    // Per LAZ file, the runs on one thread and on two.
    std::vector<std::vector<double>> laz_runs(2 * lazs.size());
    const std::string answers = "bench\n1\ncloud\n1\n0\ndem\n0\n";
    for (int k = 0; k < runs; ++k) {
        for (Setting& s : settings) s.floor.push_back(from_chars_two_passes(cloud, s.threads));
        for (Setting& s : settings) s.extent.push_back(extent_pass_alone(cloud, s.threads));
        for (Setting& s : settings) {
            const ChildRun r = full_run(cloud, answers, s.env);
            if (r.status != 0)
                std::fprintf(stderr, "  the program ended with status %d (KESTRANOV_THREADS=%s)\n", r.status,
                             s.env.c_str());
            s.full.push_back(r.seconds);
            s.full_cpu.push_back(r.cpu_seconds);
            s.full_faults.push_back(static_cast<double>(r.faults));
            s.peak_kib = std::max(s.peak_kib, r.peak_kib);
#ifdef KESTRANOV_GRID_BINARY
            const ChildRun g = grid_command_run(cloud, s.threads);
            if (g.status != 0) std::fprintf(stderr, "  kestranov-grid ended with status %d\n", g.status);
            s.command.push_back(g.seconds);
            s.asc_kib = std::max(s.asc_kib, g.peak_kib);
            if (with_statistics) {
                const ChildRun t = grid_command_run(cloud, s.threads, "", true);
                s.tif.push_back(t.seconds);
                s.tif_kib = std::max(s.tif_kib, t.peak_kib);
                s.max_tif.push_back(grid_command_run(cloud, s.threads, "max").seconds);
                s.mean_count_tif.push_back(grid_command_run(cloud, s.threads, "mean,count").seconds);
            }
#endif
        }
        if (!las.empty()) {
            const ChildRun r = full_run(las, answers, "1");
            if (r.status != 0) std::fprintf(stderr, "  the program ended with status %d on the LAS file\n", r.status);
            las1.push_back(r.seconds);
            las_cat.push_back(cat_twice(las));
        }
        for (std::size_t j = 0; j < laz_runs.size(); ++j) {
            const ChildRun r = full_run(lazs[j / 2], answers, j % 2 ? "2" : "1");
            if (r.status != 0)
                std::fprintf(stderr, "  the program ended with status %d on %s\n", r.status, lazs[j / 2].c_str());
            laz_runs[j].push_back(r.seconds);
        }
    }
    const double f = median(settings[0].floor);
    auto threads_label = [](int n) { return std::to_string(n) + (n == 1 ? " thread" : " threads"); };
    std::printf("%s: %.0f MB, %lld points (median of %d runs)\n", cloud.filename().c_str(), mb, points, runs);
    for (const Setting& s : settings) {
        const double t = median(s.floor);
        std::printf("  from_chars two passes, %-10s %7.3f s  %7.0f MB/s per pass\n", threads_label(s.threads).c_str(),
                    t, 2 * mb / t);
    }
    for (const Setting& s : settings) {
        const double t = median(s.extent);
        std::printf("  extent pass, %-20s %7.3f s  %7.0f MB/s\n", threads_label(s.threads).c_str(), t, mb / t);
    }
    for (const Setting& s : settings) {
        const double w = median(s.full);
        const std::string label = "KESTRANOV_THREADS=" + s.env;
        std::printf(
            "  full run, %-23s %7.3f s  %5.2f x the 1-thread floor  %6.0f MB/s per pass  %6.1f M points/s  "
            "peak RSS %.1f MiB\n",
            label.c_str(), w, w / f, 2 * mb / w, points / w / 1e6, s.peak_kib / 1024.0);
    }
    for (const Setting& s : settings)
        if (!s.command.empty())
            std::printf("  kestranov-grid, %-18s %7.3f s  %5.2f x the full run on as many threads\n",
                        threads_label(s.threads).c_str(), median(s.command), median(s.command) / median(s.full));
    // Beyond the grid, the GeoTIFF's run holds GDAL's libraries, the
    // overviews (a third of a band at most, in the file's type), the tiles
    // being compressed (a few per thread) and the compressed file.
    for (const Setting& s : settings)
        if (!s.tif.empty())
            std::printf(
                "  kestranov-grid to .tif, %-10s %7.3f s against .asc %7.3f s  %5.2f x  peak RSS %.1f against %.1f "
                "MiB\n",
                threads_label(s.threads).c_str(), median(s.tif), median(s.command), median(s.tif) / median(s.command),
                s.tif_kib / 1024.0, s.asc_kib / 1024.0);
    for (const Setting& s : settings)
        if (!s.mean_count_tif.empty())
            std::printf("  kestranov-grid to .tif, %-10s max %7.3f s, mean,count %7.3f s  %5.2f x max alone\n",
                        threads_label(s.threads).c_str(), median(s.max_tif), median(s.mean_count_tif),
                        median(s.mean_count_tif) / median(s.max_tif));
    // Two threads against one, in wall time and in the processor time and
    // page faults that a loaded machine blurs less.
    for (std::size_t k = 1; k < settings.size(); ++k)
        std::printf(
            "  full run, %-23s %5.2f x the 1-thread run (wall), %5.2f x its CPU time (%.3f s), %5.2f x "
            "its page faults (%.0f)\n",
            ("KESTRANOV_THREADS=" + settings[k].env + " / =1").c_str(),
            median(settings[k].full) / median(settings[0].full),
            median(settings[k].full_cpu) / median(settings[0].full_cpu), median(settings[k].full_cpu),
            median(settings[k].full_faults) / median(settings[0].full_faults), median(settings[k].full_faults));
    if (!las.empty()) {
        std::printf("  full run on %s, 1 thread   %7.3f s  %5.2f x the 1-thread floor of the text  %.0f MB\n",
                    las.filename().c_str(), median(las1), median(las1) / f, fs::file_size(las) / 1e6);
        std::printf("  full run on %s, 1 thread   %5.2f x reading the file twice with cat (%.3f s)\n",
                    las.filename().c_str(), median(las1) / median(las_cat), median(las_cat));
    }
    for (std::size_t j = 0; j < laz_runs.size(); ++j) {
        const double t = median(laz_runs[j]), same = median(settings[j % 2].floor);
        std::printf(
            "  full run on %s, %-9s %7.3f s  %5.2f x the floor of the text on as many threads, %5.2f x its "
            "1-thread floor  %.0f MB\n",
            lazs[j / 2].filename().c_str(), threads_label(1 + static_cast<int>(j % 2)).c_str(), t, t / same, t / f,
            fs::file_size(lazs[j / 2]) / 1e6);
    }
    const double w = median(settings[0].full);
    if (with_fscanf) {
        const double s = fscanf_two_passes(cloud);
        std::printf("  fscanf two passes       %7.3f s  (full run is %.2f x faster)\n", s, s / w);
    }
    return 0;
}
