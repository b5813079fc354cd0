#pragma once
// In-memory elevation model shared by both readers and the renderer.

#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <vector>

namespace kestranov::models {

struct ElevationGrid {
    std::size_t rows = 0;   // row 0 is the northernmost
    std::size_t cols = 0;   // column 0 is the westernmost
    double cellsize = 1.0;  // ground distance between cell centres, metres
    // Where the model lies: the lower left corner of its south-western cell,
    // as the ASCII grid's header gives it (a raster image's descriptor gives
    // it widened by descriptor_margin). Unknown when the file does not say.
    std::optional<double> xll, yll;
    // The ASCII grid's nodata_value, when its header has one.
    std::optional<double> nodata;
    // Row-major elevations. Cells without data hold NaN so every consumer has to
    // decide explicitly what to do with them instead of meeting a magic number.
    std::vector<double> z;

    static constexpr double kNoData = std::numeric_limits<double>::quiet_NaN();

    double at(std::size_t r, std::size_t c) const { return z[r * cols + c]; }
    bool has_data(std::size_t r, std::size_t c) const { return !std::isnan(at(r, c)); }
};

}  // namespace kestranov::models
