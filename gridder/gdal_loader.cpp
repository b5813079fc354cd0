#include <dlfcn.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "core/megabytes.h"
#include "gridder/gdal_module.h"

namespace kestranov::gridder {
namespace {

// Where the module is installed, from the folder of the installed command
// ("../lib/kestranov"): the build derives it from the installation's layout.
constexpr const char* installed_module_folder = KESTRANOV_GRID_MODULE_FROM_BIN;

// Beside the executable in a build folder (and beside the tests that run the
// command in-process); else where the installation put it.
std::filesystem::path module_path()
{
    std::error_code failed;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", failed);
    const std::filesystem::path folder = failed ? std::filesystem::path(".") : exe.parent_path();
    std::filesystem::path beside = folder / gdal_module_file;
    if (std::filesystem::exists(beside, failed)) return beside;
    return (folder / installed_module_folder / gdal_module_file).lexically_normal();
}

// GDAL and the libraries behind it map some hundreds of MB of address space:
// under a limit on virtual memory (ulimit -v) the loader fails with a
// mapping error that does not say which limit to raise.
std::string under_address_space_limit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return "";
    return " (under the limit on virtual memory (ulimit -v) of " + megabytes_down(static_cast<double>(limit.rlim_cur)) +
           " MB: raise it)";
}

// A mapping of /proc/self/maps or smaps: its first line, "start-end perms
// offset device inode [path]". False for the lines of figures below it.
bool mapping_line(const std::string& line, unsigned long& start, unsigned long& end, bool& writable, bool& of_file)
{
    // Read into its own, as a line of figures may start like a number
    // ("Anonymous:" does, in hexadecimal).
    unsigned long from = 0, to = 0, offset = 0, inode = 0;
    char perms[5] = {};
    char device[16] = {};
    if (std::sscanf(line.c_str(), "%lx-%lx %4s %lx %15s %lu", &from, &to, perms, &offset, device, &inode) != 6)
        return false;
    start = from, end = to, writable = perms[1] == 'w', of_file = inode != 0;
    return true;
}

// Where the process's mappings start.
std::set<unsigned long> mapping_starts()
{
    std::set<unsigned long> starts;
    std::ifstream maps("/proc/self/maps");
    unsigned long start = 0, end = 0;
    bool writable = false, of_file = false;
    for (std::string line; std::getline(maps, line);)
        if (mapping_line(line, start, end, writable, of_file)) starts.insert(start);
    return starts;
}

// The address ranges of the loaded libraries' segments (and the
// executable's): mapped for as long as the process runs, as nothing is
// unloaded.
std::vector<std::pair<unsigned long, unsigned long>> library_segments()
{
    std::vector<std::pair<unsigned long, unsigned long>> spans;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* to) {
            auto& found = *static_cast<std::vector<std::pair<unsigned long, unsigned long>>*>(to);
            for (int k = 0; k < info->dlpi_phnum; ++k) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[k];
                if (segment.p_type != PT_LOAD) continue;
                const unsigned long from = info->dlpi_addr + segment.p_vaddr;
                found.emplace_back(from, from + segment.p_memsz);
            }
            return 0;
        },
        &spans);
    return spans;
}

// Loading GDAL touches some 26 MB of its hundred libraries' files (their
// symbol tables, read to bind every symbol at once), counted in the run's
// resident memory to its end, though a GeoTIFF's encoding reads a few MB of
// them. The read-only mappings of those files that hold no page of their
// own (none written, as relocations are) are handed back: the pages stay in
// the system's file cache, and what the encoding reads of them comes back
// from there. Only a library's mappings are touched, never unmapped while
// the process runs, and only those the module brought: the reading's own
// mappings, which other threads may be replacing meanwhile, are not.
void hand_back_clean_pages(const std::set<unsigned long>& before)
{
    const std::vector<std::pair<unsigned long, unsigned long>> libraries = library_segments();
    const auto page = static_cast<unsigned long>(sysconf(_SC_PAGESIZE));
    const auto of_a_library = [&](unsigned long start, unsigned long end) {
        return std::any_of(libraries.begin(), libraries.end(), [&](const auto& s) {
            // A segment's first and last pages are mapped whole.
            return start >= (s.first & ~(page - 1)) && end <= ((s.second + page - 1) & ~(page - 1));
        });
    };
    // Mappings that follow one another (a library's header, code and
    // constants) go back in one call: each call interrupts the run's other
    // threads to flush what their processors cached of the mappings.
    unsigned long run_start = 0, run_end = 0;
    const auto hand_back = [&] {
        if (run_end > run_start)
            madvise(reinterpret_cast<void*>(run_start), run_end - run_start,  // NOLINT(performance-no-int-to-ptr)
                    MADV_DONTNEED);
        run_start = run_end = 0;
    };
    std::ifstream smaps("/proc/self/smaps");
    unsigned long start = 0, end = 0;
    bool candidate = false;
    for (std::string line; std::getline(smaps, line);) {
        bool writable = false, of_file = false;
        if (mapping_line(line, start, end, writable, of_file)) {
            candidate = of_file && !writable && !before.contains(start) && of_a_library(start, end);
            if (!candidate || start != run_end) hand_back();
        } else if (candidate && line.rfind("Anonymous:", 0) == 0) {
            candidate = false;
            if (std::strtoul(line.c_str() + 10, nullptr, 10) != 0) {
                hand_back();
            } else {
                if (run_end == 0) run_start = start;
                run_end = end;
            }
        }
    }
    hand_back();
}

const GdalModule* open_module()
{
    const std::filesystem::path path = module_path();
    const std::string named = "cannot load the GDAL module (GeoTIFF output and coordinate systems need it)";
    // Kept open to the end of the process: GDAL's own clean-up runs at exit.
    const std::set<unsigned long> before = mapping_starts();
    void* const module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) throw GdalModuleError(named + ": " + dlerror() + under_address_space_limit());
    const auto entry = reinterpret_cast<GdalModuleEntry>(dlsym(module, gdal_module_entry));
    if (!entry) throw GdalModuleError(named + ": " + path.string() + " has no " + gdal_module_entry);
    hand_back_clean_pages(before);
    return entry();
}

}  // namespace

const GdalModule& gdal()
{
    static const GdalModule* const module = open_module();
    return *module;
}

}  // namespace kestranov::gridder
