#pragma once
// A coordinate system's linear unit as the companions name it: in words for
// their summaries, and as a GeoTIFF band's unit type ("m" and "ft" are the
// ones GIS software knows).

#include <cmath>
#include <string>

namespace kestranov::exporter {

struct LinearUnit {
    std::string one;   // "metre", "foot", "US survey foot"
    std::string many;  // "metres", "feet", "US survey feet"
    std::string code;  // the band's unit type
};

// From GDAL's metres per unit and its name of the unit.
inline LinearUnit linear_unit(double metres, const std::string& name)
{
    if (std::fabs(metres - 1.0) < 1e-12) return {"metre", "metres", "m"};
    if (std::fabs(metres - 0.3048) < 1e-12) return {"foot", "feet", "ft"};
    if (std::fabs(metres - 1200.0 / 3937.0) < 1e-12) return {"US survey foot", "US survey feet", "US survey foot"};
    return {name, name + " units", name};
}

}  // namespace kestranov::exporter
