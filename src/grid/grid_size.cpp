#include "grid/grid_size.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "core/fatal.h"
#include "core/messages.h"

namespace kestranov {

namespace {

// Bytes of every grid a run holds, dtab and tab_util: 8 + 1 per cell, plus a
// row pointer and the heap's bookkeeping for every row of each (the raster
// image is scaled a slice at a time and needs no grid of its own), and the
// run's own buffers.
constexpr long double bytes_per_cell = 9.0L;
constexpr long double bytes_per_row = 2 * (8 + 32);
constexpr long double working_bytes = 16 << 20;

// What is needed rounds up, what is available down, so that a refusal never
// shows two equal numbers.
std::string megabytes_up(long double bytes)
{
    return std::to_string(static_cast<unsigned long long>(std::ceil(bytes / 1e6L)));
}
std::string megabytes_down(long double bytes) { return std::to_string(static_cast<unsigned long long>(bytes / 1e6L)); }

[[noreturn]] void too_large(double pix_size, long double rows, long double cols, const std::string& why)
{
    fail(grid_too_large(pix_size, rows, cols, why));
}

}  // namespace

GridSize size_grid(const Extents& e, double pix_size, std::uint64_t available)
{
    const long double pix = pix_size;
    const long double rows = (static_cast<long double>(e.Ymax) - e.Ymin) / pix;
    const long double cols = (static_cast<long double>(e.Xmax) - e.Xmin) / pix;
    if (!(rows < INT_MAX - 2) || !(cols < INT_MAX - 2)) too_large(pix_size, rows, cols, "too many for this program");

    const long double need = (std::trunc(rows) + 2) * (std::trunc(cols) + 2) * bytes_per_cell +
                             (std::trunc(rows) + 2) * bytes_per_row + working_bytes;
    if (available != 0 && need > static_cast<long double>(available))
        too_large(
            pix_size, rows, cols,
            "it needs " + megabytes_up(need) + " MB of memory, and " + megabytes_down(available) + " MB are available");
    return {static_cast<int>(rows), static_cast<int>(cols)};
}

CellGrids allocate_grids(GridSize size, double pix_size)
{
    const int rows = size.nb_lig + 2, cols = size.nb_col + 2;
    CellGrids grids;
    grids.dtab = Matrix<double>(cols, rows);
    if (grids.dtab) grids.tab_util = Matrix<unsigned char>(cols, rows);
    if (!grids.dtab || !grids.tab_util) {
        fail(grid_without_memory(size.nb_lig, size.nb_col, pix_size));
    }
    // The allocation gives 0.0 in every elevation; the flags are the
    // assignment's, which sets every one of them.
    return grids;
}

}  // namespace kestranov
