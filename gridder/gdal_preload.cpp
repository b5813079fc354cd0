#include "gridder/gdal_preload.h"

#include <system_error>

#include "gridder/gdal_module.h"

namespace kestranov::gridder {

GdalPreload::GdalPreload(bool needed, int threads) : needed_(needed)
{
    if (!needed_) return;
    if (threads > 1) {
        try {
            // A failure here is left for `ready`: the module's first use
            // on the run's thread tries again and throws the same error.
            loader_ = std::thread([] {
                try {
                    gdal();
                } catch (...) {  // NOLINT(bugprone-empty-catch)
                }
            });
            return;
        } catch (const std::system_error&) {  // no thread to be had: load it here
        }
    }
    gdal();
}

GdalPreload::~GdalPreload()
{
    if (loader_.joinable()) loader_.join();
}

void GdalPreload::ready()
{
    if (loader_.joinable()) loader_.join();
    if (needed_) gdal();
}

}  // namespace kestranov::gridder
