#include "gridder/gdal_preload.h"

#include "gridder/gdal_module.h"

namespace kestranov::gridder {

GdalPreload::GdalPreload(bool needed) : needed_(needed)
{
    if (needed_) gdal();
}

void GdalPreload::ready() const
{
    if (needed_) gdal();
}

}  // namespace kestranov::gridder
