#pragma once
// The coordinate system of a grid, through GDAL's OSR: from a LAS or LAZ
// file's own records (its OGC WKT, or its GeoTIFF keys), or from --srs.
// Nothing here parses a coordinate system by hand: the keys are handed to
// GDAL's GeoTIFF reader inside a one-pixel file in memory.

#include <optional>
#include <stdexcept>
#include <string>

#include "points/las_crs.h"

namespace kestranov::gridder {

struct Crs {
    std::string wkt;         // WKT2, as GDAL writes it
    std::string name;        // "NAD83 / Oregon GIC Lambert (ft)"
    std::string authority;   // "EPSG:2994", empty when GDAL names none
    std::string unit;        // the linear unit, in words: "metre", "foot", "US survey foot"
    std::string units;       // its plural, for sizes: "metres", "feet", "US survey feet"
    std::string unit_code;   // the GeoTIFF band's unit type: "m", "ft", or the unit's name
    std::string esri_wkt;    // for an ASCII grid's .prj; empty when GDAL cannot say it so
    bool horizontal = true;  // projected or geographic: a system a grid can be laid in
};

// What `text` (anything GDAL's SetFromUserInput takes) names; nothing when
// GDAL does not know it.
std::optional<Crs> crs_from_user(const std::string& text);

// The system a LAS or LAZ file's records describe: nothing when it holds
// none. Throws CrsUnreadable when its records name no system GDAL can read,
// CrsError when they name one no grid can be laid in.
std::optional<Crs> crs_of_file(const LasCrs& records);

struct CrsError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// Records that cannot be read are damage to the records, not to the points:
// the run goes on as for a file that holds none, and says so.
struct CrsUnreadable : CrsError {
    using CrsError::CrsError;
};

// Whether both name one system, as GDAL compares them.
bool same_crs(const Crs& a, const Crs& b);

}  // namespace kestranov::gridder
