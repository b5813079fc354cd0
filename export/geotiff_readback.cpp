#include "export/geotiff_readback.h"

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

std::string item(GDALDataset& ds, const char* key, const char* domain)
{
    const char* v = ds.GetMetadataItem(key, domain);
    return v ? v : "";
}

}  // namespace

std::optional<GeoTiffContents> read_geotiff(const std::string& path)
{
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);
    GDALDataset* ds = GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY);
    if (!ds) return std::nullopt;
    GeoTiffContents g;
    g.driver = ds->GetDriver()->GetDescription();
    g.layout = item(*ds, "LAYOUT", "IMAGE_STRUCTURE");
    g.compression = item(*ds, "COMPRESSION", "IMAGE_STRUCTURE");
    g.predictor = item(*ds, "PREDICTOR", "IMAGE_STRUCTURE");
    g.cols = ds->GetRasterXSize();
    g.rows = ds->GetRasterYSize();
    g.bands = ds->GetRasterCount();
    ds->GetGeoTransform(g.transform);
    if (const OGRSpatialReference* srs = ds->GetSpatialRef()) {
        const char* code = srs->GetAuthorityCode(nullptr);
        g.epsg = code ? code : "";
    }
    if (g.bands >= 1) {
        GDALRasterBand* band = ds->GetRasterBand(1);
        g.float32 = band->GetRasterDataType() == GDT_Float32;
        g.unit = band->GetUnitType();
        g.overviews = band->GetOverviewCount();
        int has = 0;
        const double nodata = band->GetNoDataValue(&has);
        if (has) g.nodata = nodata;
        g.z.resize(static_cast<std::size_t>(g.cols) * static_cast<std::size_t>(g.rows));
        if (!g.z.empty() && band->RasterIO(GF_Read, 0, 0, g.cols, g.rows, g.z.data(), g.cols, g.rows, GDT_Float32, 0, 0,
                                           nullptr) != CE_None)
            g.z.clear();
        g.min = std::numeric_limits<double>::infinity();
        g.max = -g.min;
        for (float v : g.z) {
            if (g.nodata && v == static_cast<float>(*g.nodata)) continue;
            g.min = std::min(g.min, static_cast<double>(v));
            g.max = std::max(g.max, static_cast<double>(v));
        }
    }
    GDALClose(GDALDataset::ToHandle(ds));
    return g;
}
