#include "output/raw_image.h"

#include <algorithm>
#include <vector>

#include "core/model_files.h"
#include "output/scaled_value.h"

namespace kestranov {

namespace {

// The cells as the descriptor and the name announce them.
static_assert(sizeof(std::uint16_t) == raster_bytes(0) && sizeof(std::int32_t) == raster_bytes(1));

// Little-endian bytes of one cell, whatever the host (a single store on x86-64).
template <class Cell>
void put_le(unsigned char* out, std::int64_t value)
{
    const auto bits = static_cast<std::make_unsigned_t<Cell>>(value);
    for (std::size_t b = 0; b < sizeof(Cell); ++b) out[b] = static_cast<unsigned char>(bits >> (8 * b));
}

// The bytes of `n` scaled cells.
template <class Cell>
void put_scaled(unsigned char* out, const double* metres, int n, double coef)
{
    if (integer_scale(coef)) {
        const auto scale = static_cast<std::uint64_t>(coef);
        for (int j = 0; j < n; ++j) put_le<Cell>(out + j * sizeof(Cell), scaled_by_integer(metres[j], scale));
    } else {
        for (int j = 0; j < n; ++j) put_le<Cell>(out + j * sizeof(Cell), scaled_value_extended(metres[j], coef));
    }
}

template <class Cell>
void write_cells(OutputFile& file, GridView grid, double coef)
{
    constexpr int slice_cells = 1 << 16;
    std::vector<unsigned char> slice(slice_cells * sizeof(Cell));
    int used = 0;
    for (int i = 0; i < grid.nb_lig; ++i)
        for (int j = 0; j < grid.nb_col;) {
            const int n = std::min(grid.nb_col - j, slice_cells - used);
            put_scaled<Cell>(slice.data() + static_cast<std::size_t>(used) * sizeof(Cell), grid.dtab[i] + j, n, coef);
            used += n, j += n;
            if (used == slice_cells) file.write(slice.data(), slice.size()), used = 0;
        }
    file.write(slice.data(), static_cast<std::size_t>(used) * sizeof(Cell));
}

}  // namespace

void write_raw_image(OutputFile& file, GridView grid, int itype, double coef)
{
    if (itype == 0)
        write_cells<std::uint16_t>(file, grid, coef);
    else
        write_cells<std::int32_t>(file, grid, coef);
}

// Scaling is monotonic, so the extremes in metres give the extremes scaled.
ScaledRange scaled_range(GridView grid, const Extents& e, double coef)
{
    // Four running extremes each, so that the comparisons do not wait on one another.
    double low[4], high[4];
    std::fill(low, low + 4, std::min(e.Zmin, e.Zmax));
    std::fill(high, high + 4, std::max(e.Zmin, e.Zmax));
    for (int i = 0; i < grid.nb_lig; ++i) {
        const double* row = grid.dtab[i];
        int j = 0;
        for (; j + 4 <= grid.nb_col; j += 4)
            for (int k = 0; k < 4; ++k) {
                low[k] = std::min(low[k], row[j + k]);
                high[k] = std::max(high[k], row[j + k]);
            }
        for (; j < grid.nb_col; ++j) {
            low[0] = std::min(low[0], row[j]);
            high[0] = std::max(high[0], row[j]);
        }
    }
    return {scaled_value(*std::min_element(low, low + 4), coef), scaled_value(*std::max_element(high, high + 4), coef)};
}

}  // namespace kestranov
