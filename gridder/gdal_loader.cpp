#include <dlfcn.h>
#include <sys/resource.h>

#include <filesystem>
#include <system_error>

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

const GdalModule* open_module()
{
    const std::filesystem::path path = module_path();
    const std::string named = "cannot load the GDAL module (GeoTIFF output and coordinate systems need it)";
    // Kept open to the end of the process: GDAL's own clean-up runs at exit.
    void* const module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) throw GdalModuleError(named + ": " + dlerror() + under_address_space_limit());
    const auto entry = reinterpret_cast<GdalModuleEntry>(dlsym(module, gdal_module_entry));
    if (!entry) throw GdalModuleError(named + ": " + path.string() + " has no " + gdal_module_entry);
    return entry();
}

}  // namespace

const GdalModule& gdal()
{
    static const GdalModule* const module = open_module();
    return *module;
}

}  // namespace kestranov::gridder
