// The lattice of kestranov-grid: square cells of one size laid from the
// north-west corner (xmin, ymax), the corner of a GeoTIFF's geotransform, a
// true lattice with gaps rather than the console's grid.
//
// Cell (row r, column c), rows counted from the north, holds the points with
//   c = floor((x - xmin) / size),   r = floor((ymax - y) / size),
// both decided on the doubles as in real arithmetic: a point on a cell edge
// belongs to the cell east or south of it, whatever the rounding of the
// quotient would say. That is GDAL's own convention (a geotransform maps a
// cell's west and north edges into it), so a GIS asking for the cell under a
// point gets the point's own cell wherever its rounding does not decide.
// gdallocationinfo inverts the geotransform and takes floor(fl(x * fl(1 /
// size)) - fl(xmin / size)): four roundings, together at most 5.01 * 2^-53
// * max(|x|, |xmin|) in coordinates (the same for rows, from ymax). It
// therefore reads its own cell at every point further than 2^-50 * max(|x|,
// |xmin|) from each edge, 4.4e-9 at 5e6 (for a .asc of typed bounds, add
// the distance from ymax to ymin + rows * size); on an edge or nearer, the
// rule above decides and GDAL's rounding may pick the neighbour.
// Columns 0..cols-1 and rows 0..rows-1 are the grid; columns -1 and cols,
// rows -1 and rows are a ring of cells around it whose points only feed the
// filling of the grid's edge cells; anything further out is not gridded.
//
// The corner (xmin, ymax) and the counts define the cells; xmax and ymin are
// the other edges. The files carry the same doubles: a GeoTIFF's
// geotransform (xmin, size, 0, ymax, 0, -size); an ESRI grid's xllcorner
// xmin and yllcorner ymin, from which GDAL computes the north edge as ymin +
// rows * size in doubles. A snapped lattice's ymax is that very sum, so both
// files place every cell alike; typed bounds keep the ymax typed, within
// 1e-9 of a cell (and the spacing of the doubles) of the sum.
//
// A window of a lattice (one tile of a grid cut into tiles) decides its cells
// on the whole lattice: c = floor((x - XMIN) / size) - first column, with
// XMIN the whole lattice's corner, and rows from its YMAX. Its own corner,
// the double XMIN + c0 * size, is in general not the real XMIN + c0 * size
// (with cells of 0.1 it rounds), and a rule measured from it would move
// points on a tile's edge into another cell than the uncut grid gives them.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

namespace kestranov {

// Where a window's cells are counted from: the whole lattice's north-west
// corner (x its xmin, y its ymax), and the window's first column and first
// row (from the north) in it.
struct LatticeOrigin {
    double x = 0.0, y = 0.0;
    std::int64_t col = 0, row = 0;
};

struct Lattice {
    Lattice() = default;
    // A lattice of its own: `within` empty.
    Lattice(double xmin_, double ymin_, double xmax_, double ymax_, double size_, std::int64_t cols_,
            std::int64_t rows_)
        : xmin(xmin_), ymin(ymin_), xmax(xmax_), ymax(ymax_), size(size_), cols(cols_), rows(rows_)
    {
    }
    double xmin = 0.0, ymin = 0.0, xmax = 0.0, ymax = 0.0;
    double size = 0.0;  // of a cell, in both directions
    std::int64_t cols = 0, rows = 0;
    std::optional<LatticeOrigin> within;  // set for a window: its cells are the whole lattice's
};

// The corner the cell rule measures from, and the index of the first column
// and row (from the north) there: the lattice's own (xmin, ymax) and 0, 0
// but for a window.
inline LatticeOrigin cell_origin(const Lattice& l)
{
    return l.within ? *l.within : LatticeOrigin{l.xmin, l.ymax, 0, 0};
}

// A lattice, or the reason there is none: a one-line text for the user,
// naming the option at fault where there is one ("--bounds: ...").
struct LatticeResult {
    Lattice lattice;
    std::string error;  // empty when `lattice` holds
};

// What the lattice accepts. The cell size and every coordinate stay within
// 1e-300..1e300 in magnitude, so that no product or difference the cell rule
// forms can overflow or lose a bit below the smallest normal double (see
// lattice.cpp); a side holds at most 2^40 cells, so that a cell index is
// exact in a double and the quotient's error stays far below a cell.
constexpr double lattice_min_size = 1e-300;
constexpr double lattice_max_coordinate = 1e300;
constexpr std::int64_t lattice_max_side = std::int64_t{1} << 40;

// Why `size` cannot be a cell size ("the cell size ... "), or "" when it can.
// The lattice functions below check it too; a front end may call it first to
// put its own option name in front.
std::string cell_size_error(double size);

// The lattice of typed bounds: the extent exactly as typed, the cells
// measured from the typed XMIN and YMAX; the counts are
// (xmax - xmin) / size and (ymax - ymin) / size, which must be positive
// whole numbers to within 1e-9 of a cell. Refuses non-finite or out-of-range
// values, xmax <= xmin, ymax <= ymin, a bad cell size, and a grid (with its
// ring) whose cells would not fit 64-bit sizes.
LatticeResult lattice_from_bounds(double xmin, double ymin, double xmax, double ymax, double size);

// The lattice snapped around the extent of the points, on the rounded
// products fl(size * k) (the double nearest size * k), a point on an edge
// lying in the cell east or south of it:
// - xmin is fl(size * k) for the largest whole k with fl(size * k) <= the
//   smallest X, cols the fewest columns from there that hold the largest X;
// - ymax is fl(size * k) for the smallest k with fl(size * k) >= the
//   largest Y, rows the fewest rows from there that hold the smallest Y;
// - ymin is the double whose sum ymin + rows * size (in doubles: GDAL's
//   north edge of an ESRI grid) is ymax: fl(size * (k - rows)) where that
//   gives ymax back, else the double nearest ymax - rows * size that does.
//   Where none does (a tie, or ymin and rows * size coarser than ymax, as
//   across 0), ymax is the nearest sum that keeps the largest Y in row 0
//   and the smallest in the last row (see lattice.cpp);
// - xmax is fl(xmin + cols * size), the east edge as GDAL computes it.
// Every point of the extent lies in a cell of the grid, never in the ring,
// and neither count is larger than that takes (but for one row more where
// a Y lies within a rounding of a row edge and no sum fits it).
LatticeResult lattice_snapped(double xmin, double ymin, double xmax, double ymax, double size);

// The window of `whole` of `cols` columns and `rows` rows whose north-west
// cell is column `col`, row `row` (from the north) of it, which must lie
// inside it. Its corners are the whole lattice's cell corners as GDAL
// computes them from a geotransform (origin + index * size, in doubles):
// xmin = XMIN + col * size, ymax = YMAX - row * size; its cells are decided
// on the whole lattice, from its XMIN and YMAX (see above), and its ring is
// the cells around it.
LatticeResult lattice_window(const Lattice& whole, std::int64_t col, std::int64_t row, std::int64_t cols,
                             std::int64_t rows);

// The number of cells of `size` in `length`, when it is a positive whole
// number to within 1e-9 of a cell (and the spacing of the doubles), else -1.
std::int64_t whole_cells_in(double length, double size);

// A column or row index beyond the ring (or of a coordinate that is not a number).
constexpr std::int64_t beyond_ring = -2;

namespace lattice_detail {

// floor((v - origin) / size) in exact arithmetic, knowing that it is
// `whole` or whole - 1: the sign of v - origin - whole * size, from
// error-free sums and products (the slow path, near a cell edge).
std::int64_t floor_near_whole(double v, double origin, double size, std::int64_t whole);

// 1.5 * 2^52: adding it and taking it away again rounds any double below
// 2^51 in magnitude to the nearest whole number (ties to even), in two
// additions and without a call to the C library.
constexpr double rounding_shift = 0x1.8p52;

}  // namespace lattice_detail

// floor((v - origin) / size) exactly, `inverse` being the double 1 / size,
// when the computed (v - origin) * inverse lies within 2^46 in magnitude.
//
// Why the double quotient decides almost always: q = fl(fl(v - origin) *
// inverse) carries three roundings of relative error at most u = 2^-53
// each, and at most 2^-1075 more should the product fall below the normal
// range, so |q - Q| <= 3.01 u |Q| + 2^-1075 < 4 u (|q| + 1) for the exact
// quotient Q. When the whole number r nearest q is further from q than
// (|q| + 1) * 2^-50 = 8 u (|q| + 1) (q - r is exact: r = 0, or q and r lie
// within a factor of two; the margin itself is rounded down by at most a
// factor 1 - u), no whole number lies between q and Q, and floor(Q) =
// floor(q). Otherwise |Q - r| < 12.1 u (|q| + 1) < 1/8, so floor(Q) is r or
// r - 1 and one exact sign decides.
inline std::int64_t floor_quotient(double v, double origin, double size, double inverse)
{
    const double q = (v - origin) * inverse;
    const double r = (q + lattice_detail::rounding_shift) - lattice_detail::rounding_shift;
    const auto whole = static_cast<std::int64_t>(r);
    if (std::fabs(q - r) > (std::fabs(q) + 1.0) * 0x1p-50) return whole - static_cast<std::int64_t>(q < r);
    return lattice_detail::floor_near_whole(v, origin, size, whole);
}

// The column (or, of -y from -ymax, the row from the north: negation is
// exact) of a coordinate in a window whose first index is `first`:
// floor((v - origin) / size) - first when it is -1..count, beyond_ring for
// anything else, a NaN included. first + count is at most lattice_max_side. A quotient of first
// - 2 or below, or of first + count + 2 or above, is beyond the ring
// whatever its rounding: the error bound above is far below a cell (and
// first, below 2^40, is exact in a double).
inline std::int64_t cell_floor(double v, double origin, double size, double inverse, std::int64_t first,
                               std::int64_t count)
{
    const double q = (v - origin) * inverse, low = static_cast<double>(first);
    if (!(q > low - 2.0 && q < low + static_cast<double>(count) + 2.0)) return beyond_ring;
    const std::int64_t f = floor_quotient(v, origin, size, inverse) - first;
    return f < -1 || f > count ? beyond_ring : f;
}

// The column of x (-1..cols, the ring included) or beyond_ring.
inline std::int64_t lattice_column(const Lattice& l, double x)
{
    const LatticeOrigin o = cell_origin(l);
    return cell_floor(x, o.x, l.size, 1.0 / l.size, o.col, l.cols);
}

// The row of y, counted from the north (-1..rows, the ring included), or beyond_ring.
inline std::int64_t lattice_row(const Lattice& l, double y)
{
    const LatticeOrigin o = cell_origin(l);
    return cell_floor(-y, -o.y, l.size, 1.0 / l.size, o.row, l.rows);
}

}  // namespace kestranov
