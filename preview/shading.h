#pragma once
// Per-cell colour of the preview: a hypsometric ramp for height, darkened by a
// hillshade so that relief reads at a glance.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "models/elevation_grid.h"

namespace kestranov::preview {

// The model as the shared readers give it.
using models::ElevationGrid;

struct RgbF {
    double r = 0, g = 0, b = 0;  // 0..255
};

struct RampStop {
    double t;  // position on the ramp, 0 = lowest cell, 1 = highest
    RgbF colour;
};

// Lowlands green, mid heights yellow, then brown, summits white. The end colours
// avoid zero channels so their hue survives being darkened by the shade.
inline constexpr RampStop kRamp[] = {
    {0.00, {40, 120, 50}},  {0.25, {125, 175, 70}},  {0.50, {235, 220, 115}},
    {0.75, {160, 110, 65}}, {1.00, {255, 255, 255}},
};

// Light from the north-west, 45 degrees above the horizon: the usual cartographic
// convention, which makes hills look raised rather than sunken.
inline constexpr double kSunAzimuthDeg = 315.0;  // clockwise from north
inline constexpr double kSunAltitudeDeg = 45.0;
// Fraction of the colour kept on slopes facing fully away from the sun, so that
// shadowed ground still shows its height colour.
inline constexpr double kAmbient = 0.3;

RgbF ramp_colour(double t);  // t is clamped to 0..1

// Cosine of the angle between the sun and the surface normal at (r, c), 0..1.
// Slopes come from central differences over the cell size (metres); at the grid
// edge or next to empty cells a one-sided difference is used instead.
double hillshade(const ElevationGrid& grid, std::size_t r, std::size_t c);

struct ElevationRange {
    double min = 0, max = 0;
    bool any = false;  // false when every cell is empty
};
ElevationRange elevation_range(const ElevationGrid& grid);

// Colour of one cell: false (and `out` untouched) for a cell without data.
// Ramp colour scaled by kAmbient + (1 - kAmbient) * hillshade: a pure multiply,
// so the hue of the height colour is kept and only its brightness changes.
bool cell_colour(const ElevationGrid& grid, const ElevationRange& range, std::size_t r, std::size_t c, RgbF& out);

// All cells at once; convenient for small grids and tests. The renderer asks
// cell by cell instead, so large grids need no second full-size array.
struct CellColours {
    std::size_t rows = 0, cols = 0;
    std::vector<RgbF> rgb;            // row-major
    std::vector<std::uint8_t> valid;  // 0 where the cell holds no data
};

CellColours colour_cells(const ElevationGrid& grid, const ElevationRange& range);

}  // namespace kestranov::preview
