#include "preview/geotiff_model.h"

#include "models/model_error.h"

#ifdef KESTRANOV_PREVIEW_GDAL
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "preview/prj_unit.h"
#endif

namespace kestranov::preview {

using models::ElevationGrid;
using models::Model;
using models::ModelError;

#ifdef KESTRANOV_PREVIEW_GDAL
namespace {

struct DatasetCloser {
    void operator()(GDALDataset* ds) const { GDALClose(GDALDataset::ToHandle(ds)); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

// GDAL's complaints become one message of ours instead of lines on stderr.
class QuietGdal {
public:
    QuietGdal()
    {
        static const bool registered = (GDALAllRegister(), true);
        (void)registered;
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdal() { CPLPopErrorHandler(); }
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;
};

std::string gdal_reason()
{
    const std::string said = CPLGetLastErrorMsg();
    return said.empty() ? "" : " (GDAL: " + said + ")";
}

// What is needed rounds up, what is available down, so that a refusal never
// shows two equal numbers.
std::string megabytes_up(std::uint64_t bytes) { return std::to_string(bytes / 1000000 + (bytes % 1000000 != 0)); }
std::string megabytes_down(std::uint64_t bytes) { return std::to_string(bytes / 1000000); }

// The band's size checked against this program's counts and the memory
// before a cell is allocated.
void require_room(const std::string& name, std::size_t rows, std::size_t cols, std::uint64_t available)
{
    const std::string band = "its band of " + std::to_string(cols) + " columns and " + std::to_string(rows) + " rows";
    if (rows > SIZE_MAX / sizeof(double) / cols) throw ModelError(name, band + " is too large for this program");
    const std::uint64_t bytes = static_cast<std::uint64_t>(rows) * cols * sizeof(double);
    if (available != 0 && bytes > available)
        throw ModelError(name, band + " needs " + megabytes_up(bytes) + " MB of memory, and " +
                                   megabytes_down(available) + " MB are available");
}

// Where the grid lies and how wide its cells are, from the geotransform
// (north up, as the program's GeoTIFFs are); a file without one keeps the
// unknown corner and cells of 1.
void georeference(GDALDataset& ds, ElevationGrid& grid)
{
    double gt[6];
    if (ds.GetGeoTransform(gt) != CE_None || !std::isnormal(gt[1])) return;
    grid.cellsize = std::fabs(gt[1]);
    grid.xll = gt[0];
    grid.yll = gt[3] + static_cast<double>(grid.rows) * gt[5];
}

// Cells holding the band's nodata value become empty. A Float32 band stores
// the value rounded to a float (kestranov-export's -9999.9999 as -10000), so
// it is compared as stored.
void empty_nodata_cells(GDALRasterBand& band, ElevationGrid& grid)
{
    int has = 0;
    const double nodata = band.GetNoDataValue(&has);
    if (!has) return;
    grid.nodata = nodata;
    const double stored =
        band.GetRasterDataType() == GDT_Float32 ? static_cast<double>(static_cast<float>(nodata)) : nodata;
    for (double& v : grid.z)
        if (v == stored) v = ElevationGrid::kNoData;
}

}  // namespace

Model read_geotiff_model(const std::filesystem::path& file, std::uint64_t available_bytes)
{
    const std::string name = file.string();
    const QuietGdal quiet;
    const Dataset ds(GDALDataset::Open(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!ds) throw ModelError(name, "GDAL cannot open it as a raster" + gdal_reason());
    if (ds->GetRasterCount() < 1) throw ModelError(name, "has no band: nothing to draw");
    Model model;
    if (ds->GetRasterCount() > 1)
        model.warnings.push_back(name + ": has " + std::to_string(ds->GetRasterCount()) + " bands; the first is drawn");
    ElevationGrid& grid = model.grid;
    grid.rows = static_cast<std::size_t>(ds->GetRasterYSize());
    grid.cols = static_cast<std::size_t>(ds->GetRasterXSize());
    if (grid.rows == 0 || grid.cols == 0) throw ModelError(name, "has no cell: nothing to draw");
    require_room(name, grid.rows, grid.cols, available_bytes);
    georeference(*ds, grid);
    grid.z.resize(grid.rows * grid.cols);
    GDALRasterBand& band = *ds->GetRasterBand(1);
    if (band.RasterIO(GF_Read, 0, 0, ds->GetRasterXSize(), ds->GetRasterYSize(), grid.z.data(), ds->GetRasterXSize(),
                      ds->GetRasterYSize(), GDT_Float64, 0, 0, nullptr) != CE_None)
        throw ModelError(name, "GDAL cannot read its cells" + gdal_reason());
    empty_nodata_cells(band, grid);
    const OGRSpatialReference* srs = ds->GetSpatialRef();
    model.own_unit = srs ? unit_of_system(*srs).code : "";
    return model;
}

#else

Model read_geotiff_model(const std::filesystem::path& file, std::uint64_t)
{
    throw ModelError(file.string(),
                     "a GeoTIFF or VRT, which this build of kestranov-preview cannot read: it was built "
                     "without GDAL (libgdal-dev)");
}

#endif

}  // namespace kestranov::preview
