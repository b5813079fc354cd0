#pragma once
// The model as a Cloud Optimized GeoTIFF, through GDAL: one Float32 band of
// elevations (in the unit of its coordinate system when it has one), tiled,
// DEFLATE with the floating-point predictor, with overviews; several bands
// each in tiles of its own.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "export/band_cells.h"
#include "export/linear_unit.h"
#include "models/elevation_grid.h"

namespace kestranov::exporter {

// What the band holds beyond its cells. kestranov-export writes a model of
// the console in metres; kestranov-grid writes its own grids, in the units
// of their coordinate system.
struct GeoTiffBand {
    bool float64 = false;
    std::string srs_wkt;         // the coordinate system, empty when none is known
    std::string unit;            // the band's unit type ("m", "ft"), empty when unknown
    bool always_nodata = false;  // declare the nodata value even when every cell holds one
    // The grid's north edge exactly, when it is known apart from the corner
    // (a lattice typed as bounds); else yll + rows * cellsize.
    std::optional<double> north;
    std::string program = "kestranov-export";  // who tells that memory ran out inside GDAL
    // Threads that compress the tiles (GDAL's NUM_THREADS); the bytes are
    // the same for any number.
    int threads = 1;
    // What the caller gathered of band k's cells, seen with the grid's
    // nodata value for this file's type (BandScan); the encoder reads the
    // cells of a band without it for them.
    std::vector<std::optional<BandCells>> gathered;
};

// Row `row` of a band (north first): its cells where they lie, the grid's
// cols of them, NaN where a cell holds no value. The encoder reads them in
// place, and more than once, while it runs.
using GridRows = std::function<const double*(std::size_t row)>;

// The whole file's bytes, for a grid whose frame (rows, cols, cellsize,
// corner, nodata) is `frame` and whose cells come from `rows`; its `z` is
// not read. Throws models::ModelError naming `input` as encode_geotiff does.
std::vector<unsigned char> encode_geotiff(const models::ElevationGrid& frame, const GridRows& rows,
                                          const GeoTiffBand& band, const std::string& input);
// The same with one band for each of `bands`, in their order, band k
// described as descriptions[k] (GDAL's band description) when given.
std::vector<unsigned char> encode_geotiff_bands(const models::ElevationGrid& frame, const std::vector<GridRows>& bands,
                                                const std::vector<std::string>& descriptions, const GeoTiffBand& band,
                                                const std::string& input);

// A coordinate system named by its EPSG code, ready to be recorded.
struct EpsgSystem {
    int code = 0;
    std::string wkt;
    // A projected system's linear unit, which the cells and the heights are
    // in. None for a geographic one: its cells are degrees, and the heights'
    // unit is not the system's to say.
    std::optional<LinearUnit> unit;
};

// EPSG:`epsg` as GDAL knows it. Throws models::ModelError naming the option
// ("--epsg CODE") for a code GDAL does not know, and for a system in which
// no grid can be laid: neither projected nor geographic (a vertical or a
// geocentric one), as kestranov-grid refuses it.
EpsgSystem epsg_system(int epsg);

// The whole file's bytes. `grid` must carry its corner; `system` is written
// as the coordinate system, and its unit as the band's, when given. Throws
// models::ModelError naming `input` (the model file the grid was read from:
// the fault is in its content, not in the file to be written) when GDAL
// refuses the grid, runs out of memory, or an elevation does not fit a
// Float32.
std::vector<unsigned char> encode_geotiff(const models::ElevationGrid& grid, const std::optional<EpsgSystem>& system,
                                          const std::string& input);

}  // namespace kestranov::exporter
