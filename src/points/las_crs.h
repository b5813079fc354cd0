// The coordinate reference system a LAS or LAZ file states in its
// variable-length records (user id "LASF_Projection"): the OGC WKT and the
// GeoTIFF keys. They are taken as bytes, for a companion to hand to GDAL;
// nothing here reads them further, and the console does not use them.
#pragma once

#include <string>
#include <vector>

#include "platform/input_file.h"
#include "points/las_header.h"

namespace kestranov {

struct LasCrs {
    std::string wkt;                        // record 2112, its trailing NULs removed
    bool has_wkt = false;                   // record 2112 was read, even if it holds no text
    std::vector<unsigned char> geokeys;     // record 34735, the GeoKeyDirectory
    std::vector<unsigned char> geodoubles;  // record 34736
    std::vector<unsigned char> geoascii;    // record 34737
    bool empty() const { return !has_wkt && geokeys.empty() && geodoubles.empty() && geoascii.empty(); }
};

// The CRS of `f`, whose header is `h`: from its VLRs and, in LAS 1.4, its
// EVLRs, the first record of each kind in that order. A record that runs
// past the file or cannot be read is left out, never a reason to stop the
// reading: the header's own checks tell the faults that matter. Leaves the
// file at no particular place.
LasCrs read_las_crs(InputFile& f, const LasHeader& h);

}  // namespace kestranov
