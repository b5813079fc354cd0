#pragma once
// A GeoTIFF read back through GDAL, as a GIS would see it: for the demo's
// summary and the export's tests.

#include <optional>
#include <string>
#include <vector>

struct GeoTiffContents {
    std::string driver;       // "GTiff" for a GeoTIFF
    std::string layout;       // "COG" when GDAL sees a Cloud Optimized GeoTIFF
    std::string compression;  // "DEFLATE"
    std::string predictor;    // "3" for floating point
    int cols = 0, rows = 0, bands = 0, overviews = 0;
    bool float32 = false;
    double transform[6] = {};
    std::optional<double> nodata;
    std::string epsg;         // the coordinate system's EPSG code, empty when none
    std::string unit;         // the band's unit type
    std::vector<float> z;     // row by row, the northern row first
    double min = 0, max = 0;  // over the cells that are not nodata
};

// Nothing when GDAL cannot open `path` as a raster.
std::optional<GeoTiffContents> read_geotiff(const std::string& path);
