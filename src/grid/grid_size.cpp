#include "grid/grid_size.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>

#include "LIB/NRUTIL.h"
#include "output/lf_text.h"
#include "platform/memory.h"
#include "run/fatal.h"
#include "run/run_state.h"

namespace {

// Bytes of every grid a run holds, dtab and tab_util: 8 + 1 per cell, plus a
// row pointer and the heap's bookkeeping for every row of each (the raster
// image is scaled a slice at a time and needs no grid of its own), and the
// run's own buffers.
constexpr long double bytes_per_cell = 9.0L;
constexpr long double bytes_per_row = 2 * (8 + 32);
constexpr long double working_bytes = 16 << 20;

std::string megabytes(long double bytes) { return std::to_string(static_cast<unsigned long long>(std::ceil(bytes / 1e6L))); }

[[noreturn]] void too_large(const RunState& st, long double rows, long double cols, const std::string& why)
{
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(0);
    text << "\n\n\tA pixel size of " << lf(st.pix_size) << " meter gives a grid of " << std::trunc(rows)
         << " rows and " << std::trunc(cols) << " columns: " << why << "\n";
    fail(text.str());
}

}  // namespace

void size_grid(RunState& st)
{
    const long double pix = st.pix_size;
    const long double rows = (static_cast<long double>(st.Ymax) - st.Ymin) / pix;
    const long double cols = (static_cast<long double>(st.Xmax) - st.Xmin) / pix;
    if (!(rows < INT_MAX - 2) || !(cols < INT_MAX - 2)) too_large(st, rows, cols, "too many for this program");

    const long double need = (std::trunc(rows) + 2) * (std::trunc(cols) + 2) * bytes_per_cell +
                             (std::trunc(rows) + 2) * bytes_per_row + working_bytes;
    const std::uint64_t have = available_memory_bytes();
    if (have != 0 && need > static_cast<long double>(have))
        too_large(st, rows, cols,
                  "it needs " + megabytes(need) + " MB of memory, and " + megabytes(have) + " MB are available");

    st.nb_lig = static_cast<int>(rows);
    st.nb_col = static_cast<int>(cols);
}

void allocate_grids(RunState& st)
{
    const int rows = st.nb_lig + 2, cols = st.nb_col + 2;
    st.dtab = dmatrice(cols, rows);
    if (st.dtab) st.tab_util = ucmatrice(cols, rows);
    if (!st.dtab || !st.tab_util) {
        std::ostringstream text;
        text << "\n\n\tNot enough memory for a grid of " << st.nb_lig << " rows and " << st.nb_col
             << " columns at a pixel size of " << lf(st.pix_size) << " meter\n";
        fail(text.str());
    }
    // The allocation already gives 0.0 in every elevation; only the flags need a pass.
    for (int i = 0; i < rows; ++i) std::memset(st.tab_util[i], cell_empty, static_cast<std::size_t>(cols));
}
