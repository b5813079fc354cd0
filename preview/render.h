#pragma once
// Lays out the preview picture: the shaded map (north up) plus a legend strip
// labelled with the lowest and highest elevation.

#include <cstddef>
#include <functional>
#include <string>

#include "models/elevation_grid.h"
#include "preview/image.h"
#include "preview/shading.h"

namespace kestranov::preview {

// The map's long side is brought into this range: big enough to see detail on a
// small grid, small enough to open quickly for a large one.
inline constexpr int kMinLongSide = 600;
inline constexpr int kMaxLongSide = 2000;
inline constexpr int kMargin = 16;
// Cells without data, on the map and on the legend's swatch: a blue, which no
// height takes (every colour of the ramp has no more blue than green, and
// shading and averaging keep it so).
inline constexpr Rgb8 kNoDataColour{70, 90, 200};
inline constexpr const char* kNoDataLabel = "nodata";
inline constexpr Rgb8 kFrameColour{110, 110, 110};  // 1-pixel line around map and legend strip

struct MapGeometry {
    int upscale = 1;  // each cell drawn as upscale x upscale pixels
    int block = 1;    // each pixel averages a block x block group of cells
    int width = 0;    // map size in pixels
    int height = 0;
    int x0 = kMargin;  // top-left corner of the map on the canvas
    int y0 = kMargin;
};

// Integer factors only, so every cell (or block of cells) maps to a whole
// number of pixels and no interpolation invents terrain.
MapGeometry map_geometry(std::size_t rows, std::size_t cols);

// Supplies the colour of cell (r, c); returns false for a cell without data.
using CellColourSource = std::function<bool(std::size_t r, std::size_t c, RgbF& out)>;

// Draws rows x cols coloured cells at map size: repeating cells when upscaling,
// averaging each block's cells (empty cells left out) when downscaling. Cells are
// requested once each, in row-major order.
RgbImage resample(std::size_t rows, std::size_t cols, const CellColourSource& colour, const MapGeometry& map);
RgbImage resample_cells(const CellColours& cells, const MapGeometry& map);

struct LegendStyle {
    std::string unit = "m";  // appended to the labels; empty for none
    int decimals = 2;
};

// "2240.17 m", "-3.50 m", "224017 units"; never "-0.00".
std::string format_elevation(double value, int decimals, const std::string& unit);

struct Rendered {
    RgbImage image;
    MapGeometry map;
    ElevationRange range;
    bool nodata_swatch = false;  // the legend shows the nodata colour: some cell holds no data
};

// The legend's ramp is labelled with the lowest and highest elevation; below
// it, when some cell holds no data, a swatch of kNoDataColour labelled
// kNoDataLabel. Requires at least one cell with data (throws std::invalid_argument otherwise).
Rendered render_preview(const ElevationGrid& grid, const LegendStyle& style);

}  // namespace kestranov::preview
