#include "preview/prj_unit.h"

#include <fstream>
#include <sstream>

#ifdef KESTRANOV_PREVIEW_GDAL
#include <cpl_error.h>
#include <ogr_spatialref.h>
#endif

namespace kestranov::preview {

#ifdef KESTRANOV_PREVIEW_GDAL
exporter::LinearUnit unit_of_system(const OGRSpatialReference& srs)
{
    // A geographic system's unit is the degree of its cells: the heights'
    // unit is not the system's to say, so the legend names none.
    if (!srs.IsProjected()) return {};
    const char* name = nullptr;
    const double metres = srs.GetLinearUnits(&name);
    return exporter::linear_unit(metres, name ? name : "units");
}
#endif

std::optional<exporter::LinearUnit> unit_beside(const std::filesystem::path& model)
{
#ifdef KESTRANOV_PREVIEW_GDAL
    std::filesystem::path prj = model;
    prj.replace_extension(".prj");
    std::ifstream in(prj);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    OGRSpatialReference srs;
    const bool read = srs.importFromWkt(text.str().c_str()) == OGRERR_NONE;
    CPLPopErrorHandler();
    if (!read) return std::nullopt;
    return unit_of_system(srs);
#else
    (void)model;
    return std::nullopt;
#endif
}

}  // namespace kestranov::preview
