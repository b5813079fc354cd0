#include <dlfcn.h>

#include <filesystem>
#include <system_error>

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

const GdalModule* open_module()
{
    const std::filesystem::path path = module_path();
    const std::string named = "cannot load the GDAL module (GeoTIFF output and coordinate systems need it)";
    // Kept open to the end of the process: GDAL's own clean-up runs at exit.
    void* const module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) throw GdalModuleError(named + ": " + dlerror());
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
