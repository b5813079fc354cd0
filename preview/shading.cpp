#include "preview/shading.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>

namespace kestranov::preview {

RgbF ramp_colour(double t)
{
    t = std::clamp(t, 0.0, 1.0);
    constexpr std::size_t n = std::size(kRamp);
    for (std::size_t i = 1; i < n; ++i) {
        if (t <= kRamp[i].t) {
            const RampStop& a = kRamp[i - 1];
            const RampStop& b = kRamp[i];
            const double f = (t - a.t) / (b.t - a.t);
            return {a.colour.r + f * (b.colour.r - a.colour.r), a.colour.g + f * (b.colour.g - a.colour.g),
                    a.colour.b + f * (b.colour.b - a.colour.b)};
        }
    }
    return kRamp[n - 1].colour;
}

namespace {

// Derivative along one axis from the neighbours before and after the centre cell.
double axis_slope(bool has_before, double before, double centre, bool has_after, double after, double step)
{
    if (has_before && has_after) return (after - before) / (2.0 * step);
    if (has_after) return (after - centre) / step;
    if (has_before) return (centre - before) / step;
    return 0.0;
}

}  // namespace

double hillshade(const ElevationGrid& g, std::size_t r, std::size_t c)
{
    const double z = g.at(r, c);
    const bool west = c > 0 && g.has_data(r, c - 1);
    const bool east = c + 1 < g.cols && g.has_data(r, c + 1);
    const bool north = r > 0 && g.has_data(r - 1, c);
    const bool south = r + 1 < g.rows && g.has_data(r + 1, c);
    // x grows eastwards, y northwards; rows run north to south, hence south is "before".
    const double dzdx = axis_slope(west, west ? g.at(r, c - 1) : 0.0, z, east, east ? g.at(r, c + 1) : 0.0, g.cellsize);
    const double dzdy =
        axis_slope(south, south ? g.at(r + 1, c) : 0.0, z, north, north ? g.at(r - 1, c) : 0.0, g.cellsize);

    const double az = kSunAzimuthDeg * std::numbers::pi / 180.0;
    const double alt = kSunAltitudeDeg * std::numbers::pi / 180.0;
    const double sx = std::cos(alt) * std::sin(az);
    const double sy = std::cos(alt) * std::cos(az);
    const double sz = std::sin(alt);
    // Surface normal of z = f(x, y) is (-dz/dx, -dz/dy, 1).
    const double len = std::sqrt(dzdx * dzdx + dzdy * dzdy + 1.0);
    const double cosine = (-dzdx * sx - dzdy * sy + sz) / len;
    return std::max(0.0, cosine);
}

ElevationRange elevation_range(const ElevationGrid& grid)
{
    ElevationRange out;
    for (double v : grid.z) {
        if (std::isnan(v)) continue;
        if (!out.any) {
            out.min = out.max = v;
            out.any = true;
        } else {
            out.min = std::min(out.min, v);
            out.max = std::max(out.max, v);
        }
    }
    return out;
}

bool cell_colour(const ElevationGrid& grid, const ElevationRange& range, std::size_t r, std::size_t c, RgbF& out)
{
    if (!grid.has_data(r, c)) return false;
    const double span = range.max - range.min;
    // A perfectly flat grid gets the low colour everywhere rather than NaN.
    const double t = span > 0.0 ? (grid.at(r, c) - range.min) / span : 0.0;
    const RgbF base = ramp_colour(t);
    const double light = kAmbient + (1.0 - kAmbient) * hillshade(grid, r, c);
    out = {base.r * light, base.g * light, base.b * light};
    return true;
}

CellColours colour_cells(const ElevationGrid& grid, const ElevationRange& range)
{
    CellColours out;
    out.rows = grid.rows;
    out.cols = grid.cols;
    out.rgb.resize(grid.rows * grid.cols);
    out.valid.assign(grid.rows * grid.cols, 0);
    for (std::size_t r = 0; r < grid.rows; ++r)
        for (std::size_t c = 0; c < grid.cols; ++c) {
            const std::size_t i = r * grid.cols + c;
            out.valid[i] = cell_colour(grid, range, r, c, out.rgb[i]) ? 1 : 0;
        }
    return out;
}

}  // namespace kestranov::preview
