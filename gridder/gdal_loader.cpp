#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "gridder/gdal_module.h"

namespace kestranov::gridder {
namespace {

const GdalModule* open_module()
{
    std::error_code failed;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", failed);
    const std::filesystem::path path = (failed ? std::filesystem::path(".") : exe.parent_path()) / gdal_module_file;
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
