// The module's one exported name (the rest is hidden): the table of its functions.
#include "gridder/gdal_module.h"

namespace {

const kestranov::gridder::GdalModule table = {
    &kestranov::gridder::crs_from_user,   &kestranov::gridder::crs_of_file,           &kestranov::gridder::same_crs,
    &kestranov::exporter::encode_geotiff, &kestranov::exporter::encode_geotiff_bands,
};

}  // namespace

extern "C" [[gnu::visibility("default")]] const kestranov::gridder::GdalModule* kestranov_grid_gdal_module()
{
    return &table;
}
