#include "gridder/gdal_preload.h"

#include <system_error>

#include "gridder/gdal_module.h"

namespace kestranov::gridder {

GdalPreload::GdalPreload(bool needed, int threads) : needed_(needed), beside_(needed && threads > 1)
{
    if (needed_ && !beside_) gdal();
}

GdalPreload::~GdalPreload()
{
    if (loader_.joinable()) loader_.join();
}

void GdalPreload::reading_under_way()
{
    const std::lock_guard<std::mutex> once(starting_);
    if (!beside_ || started_) return;
    started_ = true;
    try {
        // A failure here is left for `ready`: the module's first use on the
        // run's thread tries again and throws the same error.
        loader_ = std::thread([] {
            try {
                gdal();
            } catch (...) {  // NOLINT(bugprone-empty-catch)
            }
        });
    } catch (const std::system_error&) {  // no thread to be had: `ready` loads it
    }
}

void GdalPreload::ready()
{
    {
        // No loader starts after this: the reading that would have started
        // it is over, or was never begun.
        const std::lock_guard<std::mutex> once(starting_);
        started_ = true;
    }
    if (loader_.joinable()) loader_.join();
    if (needed_) gdal();
}

}  // namespace kestranov::gridder
