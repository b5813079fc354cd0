#pragma once
// GDAL's side of the command, in a module of its own beside the executable
// (kestranov-grid-gdal.so): the coordinate systems of crs.h and the GeoTIFF
// encoder. Loading libgdal and the hundred libraries behind it takes some
// 30 ms, a fifth of gridding a 5-million-point text file into an ESRI grid,
// so the command opens the module only when a run asks for one of these.

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "export/geotiff.h"
#include "gridder/crs.h"

namespace kestranov::gridder {

struct GdalModule {
    std::optional<Crs> (*crs_from_user)(const std::string& text);
    std::optional<Crs> (*crs_of_file)(const LasCrs& records);
    bool (*same_crs)(const Crs& a, const Crs& b);
    std::vector<unsigned char> (*encode_geotiff)(const models::ElevationGrid& frame, const exporter::GridRows& rows,
                                                 const exporter::GeoTiffBand& band, const std::string& input);
    std::vector<unsigned char> (*encode_geotiff_bands)(const models::ElevationGrid& frame,
                                                       const std::vector<exporter::GridRows>& bands,
                                                       const std::vector<std::string>& descriptions,
                                                       const exporter::GeoTiffBand& band, const std::string& input);
};

// The module's file name, and the one name it exports: a function that
// returns its table.
constexpr const char* gdal_module_file = "kestranov-grid-gdal.so";
constexpr const char* gdal_module_entry = "kestranov_grid_gdal_module";
using GdalModuleEntry = const GdalModule* (*)();

// The module cannot be opened: its path and the loader's reason, one line.
struct GdalModuleError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The module's table, opened on the first call: from the executable's
// folder, or where the installation put it (gdal_loader.cpp). Throws
// GdalModuleError when it is missing or not the module.
const GdalModule& gdal();

}  // namespace kestranov::gridder
