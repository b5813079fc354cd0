#include "grid/lattice.h"

#include <cstddef>
#include <cstdint>

#include "core/shortest_text.h"

namespace kestranov {

namespace {

// a + b = s + e exactly, whatever their magnitudes (Knuth's two-sum). Exact
// also among subnormals; only an overflow would break it, and the lattice's
// limits keep every term below 1e301.
inline void two_sum(double a, double b, double& s, double& e)
{
    s = a + b;
    const double b_part = s - a;
    const double a_part = s - b_part;
    e = (a - a_part) + (b - b_part);
}

}  // namespace

namespace lattice_detail {

namespace {

// The sign of a + b + c + d in real arithmetic. The four terms are grown
// into a nonoverlapping expansion, one at a time (Shewchuk's
// grow-expansion), whose components come out in increasing magnitude with
// zeros anywhere; the largest nonzero component outweighs all the others
// together, so its sign is the sum's. Relies on round-to-nearest doubles
// with no extended precision and no fused operations the code did not ask
// for (x86-64 SSE, -ffp-contract=off).
int sign_of_sum(double a, double b, double c, double d)
{
    double h[4] = {a, 0.0, 0.0, 0.0};
    std::size_t n = 1;
    for (const double term : {b, c, d}) {
        double carried = term;
        for (std::size_t i = 0; i < n; ++i) two_sum(carried, h[i], carried, h[i]);
        h[n++] = carried;
    }
    while (n > 0) {
        const double top = h[--n];
        if (top != 0.0) return top > 0.0 ? 1 : -1;
    }
    return 0;
}

}  // namespace

// whole * size is whole's significand times size's, at most 106 bits, on
// the scale of size's last bit: fl(whole * size) keeps the upper 53 and the
// remainder is a double again, which the fused multiply-add gives exactly
// (no underflow: it is a whole multiple of size's last bit, itself a double).
std::int64_t floor_near_whole(double v, double origin, double size, std::int64_t whole)
{
    const auto w = static_cast<double>(whole);  // below 2^47: exact
    double difference = 0.0, difference_error = 0.0;
    two_sum(v, -origin, difference, difference_error);
    const double product = w * size;
    const double product_error = std::fma(w, size, -product);
    return sign_of_sum(difference, difference_error, -product, -product_error) >= 0 ? whole : whole - 1;
}

}  // namespace lattice_detail

namespace {

std::string grid_of(std::int64_t cols, std::int64_t rows)
{
    return "a grid of " + std::to_string(cols) + " columns and " + std::to_string(rows) + " rows";
}

// Whether the grid with its ring, (cols + 2) x (rows + 2) doubles, has a
// byte count that fits std::size_t (and so 64-bit arithmetic). Both counts
// are at most lattice_max_side.
bool fits(std::int64_t cols, std::int64_t rows)
{
    const auto c = static_cast<std::uint64_t>(cols) + 2, r = static_cast<std::uint64_t>(rows) + 2;
    const std::uint64_t most = SIZE_MAX / sizeof(double);
    return c <= most / r;
}

std::string coordinate_error(const char* name, double v)
{
    const std::string text = std::string(name) + " " + shortest(v);
    if (!std::isfinite(v)) return "--bounds: " + text + " is not a finite number";
    if (std::fabs(v) > lattice_max_coordinate) return "--bounds: " + text + " is beyond the range -1e300 to 1e300";
    return "";
}

constexpr std::int64_t not_whole = -1, too_many = -2;

// The gap from |v| to the next double up.
double ulp(double v)
{
    const double a = std::fabs(v);
    return std::nextafter(a, std::numeric_limits<double>::infinity()) - a;
}

// The number of cells of `size` from `low` to `high` when it is a positive
// whole number to within 1e-9 of a cell, else not_whole, or too_many beyond
// lattice_max_side. The distance to the nearest whole number n is taken on
// the residual high - low - n * size formed from error-free terms; only the
// rounding of their sum remains, far below the tolerance's own fuzz.
std::int64_t whole_cells(double low, double high, double size)
{
    const double q = (high - low) / size;
    if (!(q < static_cast<double>(lattice_max_side) + 0.5)) return too_many;
    const auto n = static_cast<std::int64_t>((q + lattice_detail::rounding_shift) - lattice_detail::rounding_shift);
    if (n < 1) return not_whole;
    const auto w = static_cast<double>(n);
    double difference = 0.0, difference_error = 0.0;
    two_sum(high, -low, difference, difference_error);
    const double product = w * size;
    const double product_error = std::fma(w, size, -product);
    // With n >= 1, difference and product lie within a factor of two: their difference is exact.
    const double residual = ((difference - product) + difference_error) - product_error;
    // A typed bound is the double nearest its decimal, up to half an ulp
    // away: at 2e6 that is 2e-10, more than 1e-9 of a 0.1 cell, so bounds
    // typed as whole cells would be refused. Their spacing is allowed too.
    const double typed_slack = ulp(low) + ulp(high);
    return std::fabs(residual) <= 1e-9 * size + typed_slack ? n : not_whole;
}

std::string too_many_cells(const std::string& prefix)
{
    return prefix + " more than " + std::to_string(lattice_max_side) + " cells along a side, too many for this program";
}

}  // namespace

std::string cell_size_error(double size)
{
    const std::string text = "the cell size " + shortest(size);
    if (!(size > 0.0) || !std::isfinite(size)) return text + " is not a positive finite number";
    if (size < lattice_min_size || size > lattice_max_coordinate) return text + " is beyond the range 1e-300 to 1e300";
    return "";
}

LatticeResult lattice_from_bounds(double xmin, double ymin, double xmax, double ymax, double size)
{
    const struct {
        const char* name;
        double v;
    } typed[] = {{"XMIN", xmin}, {"YMIN", ymin}, {"XMAX", xmax}, {"YMAX", ymax}};
    for (const auto& t : typed)
        if (std::string e = coordinate_error(t.name, t.v); !e.empty()) return {{}, e};
    if (std::string e = cell_size_error(size); !e.empty()) return {{}, e};
    if (!(xmax > xmin)) return {{}, "--bounds: XMAX " + shortest(xmax) + " is not greater than XMIN " + shortest(xmin)};
    if (!(ymax > ymin)) return {{}, "--bounds: YMAX " + shortest(ymax) + " is not greater than YMIN " + shortest(ymin)};

    const std::int64_t cols = whole_cells(xmin, xmax, size), rows = whole_cells(ymin, ymax, size);
    const auto refused = [&](std::int64_t count, const char* side, double extent) {
        const std::string text = "--bounds: the " + std::string(side) + " " + shortest(extent);
        if (count == too_many) return too_many_cells(text + " holds");
        return text + " is not a whole number of cells of " + shortest(size);
    };
    if (cols < 0) return {{}, refused(cols, "width", xmax - xmin)};
    if (rows < 0) return {{}, refused(rows, "height", ymax - ymin)};
    if (!fits(cols, rows)) return {{}, "--bounds: " + grid_of(cols, rows) + " is too large for this program"};
    return {{xmin, ymin, xmax, ymax, size, cols, rows}, ""};
}

namespace {

struct SnappedAxis {
    double low, high;
    std::int64_t count;
};

// One axis of the snapped lattice; count < 0 when the extent lies too far
// from 0 for such cells.
//
// low = fl(size * k0) <= the smallest coordinate, as size * k0 is in real
// arithmetic: rounding to nearest never crosses a double. So every point is
// at or east of the first column's edge. The last edge low + (k1 - k0) *
// size, in real arithmetic, is size * k1 > the largest coordinate only when
// fl(size * k0) did not fall below size * k0; when it did, that edge may
// still lie at or west of the largest coordinate, and the count grows to
// floor((largest - low) / size) + 1, its exact column plus one. One more
// cell always suffices (a rounding is far below a cell), and the high edge
// then moves to fl(size * (k0 + count)) with it.
SnappedAxis snap_axis(double smallest, double largest, double size, double inverse)
{
    constexpr double reach = 0x1p46;  // floor_quotient's domain
    if (!(std::fabs(smallest * inverse) < reach && std::fabs(largest * inverse) < reach)) return {0, 0, -1};
    const std::int64_t k0 = floor_quotient(smallest, 0.0, size, inverse);
    const std::int64_t k1 = floor_quotient(largest, 0.0, size, inverse) + 1;
    const double low = size * static_cast<double>(k0);
    std::int64_t count = k1 - k0;
    if (count <= lattice_max_side) {
        const std::int64_t last = floor_quotient(largest, low, size, inverse);
        if (last + 1 > count) count = last + 1;
    }
    return {low, size * static_cast<double>(k0 + count), count};
}

}  // namespace

LatticeResult lattice_snapped(double xmin, double ymin, double xmax, double ymax, double size)
{
    for (const double v : {xmin, ymin, xmax, ymax})
        if (!std::isfinite(v) || std::fabs(v) > lattice_max_coordinate)
            return {{}, "the points' extent reaches " + shortest(v) + ", beyond the range -1e300 to 1e300"};
    if (!(xmin <= xmax && ymin <= ymax))
        return {{},
                "the points' extent " + shortest(xmin) + " " + shortest(ymin) + " " + shortest(xmax) + " " +
                    shortest(ymax) + " is empty"};
    if (std::string e = cell_size_error(size); !e.empty()) return {{}, e};
    const double inverse = 1.0 / size;
    const SnappedAxis x = snap_axis(xmin, xmax, size, inverse), y = snap_axis(ymin, ymax, size, inverse);
    if (x.count < 0 || y.count < 0)
        return {{}, "the points' extent lies too far from 0 for cells of " + shortest(size)};
    const std::string gives = "the cell size " + shortest(size) + " gives";
    if (x.count > lattice_max_side || y.count > lattice_max_side) return {{}, too_many_cells(gives)};
    if (!fits(x.count, y.count)) return {{}, gives + " " + grid_of(x.count, y.count) + ", too large for this program"};
    return {{x.low, y.low, x.high, y.high, size, x.count, y.count}, ""};
}

LatticeResult lattice_window(const Lattice& whole, std::int64_t col, std::int64_t row, std::int64_t cols,
                             std::int64_t rows)
{
    const auto cells = [](std::int64_t from, std::int64_t count, std::int64_t side, const char* what) {
        if (from >= 0 && count >= 1 && from < side && count <= side - from) return std::string();
        return "--window: " + std::string(what) + " " + std::to_string(from) + " to " +
               std::to_string(from + count - 1) + " are not inside the " + std::to_string(side) + " " + what +
               " of --bounds";
    };
    if (std::string e = cells(col, cols, whole.cols, "columns"); !e.empty()) return {{}, e};
    if (std::string e = cells(row, rows, whole.rows, "rows"); !e.empty()) return {{}, e};
    const LatticeOrigin o = cell_origin(whole);
    const auto step = [&](std::int64_t n) { return static_cast<double>(n) * whole.size; };  // n converts exactly
    Lattice w;
    w.size = whole.size, w.cols = cols, w.rows = rows;
    // As GDAL places cell corners: the geotransform's origin plus the index times the size.
    w.xmin = whole.xmin + step(col);
    w.xmax = whole.xmin + step(col + cols);
    w.ymax = whole.ymax - step(row);
    w.ymin = whole.ymax - step(row + rows);
    w.within = LatticeOrigin{o.x, o.y, o.col + col, o.row + (whole.rows - row - rows)};
    return {w, ""};
}

std::int64_t whole_cells_in(double length, double size)
{
    if (!std::isfinite(length) || !(length > 0.0) || !cell_size_error(size).empty()) return -1;
    const std::int64_t n = whole_cells(0.0, length, size);
    return n < 0 ? -1 : n;
}

}  // namespace kestranov
