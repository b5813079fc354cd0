#include "grid/lattice.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

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
    std::int64_t count;  // < 0: the extent lies too far from 0; beyond lattice_max_side: too many cells
};

constexpr double reach = 0x1p46;  // floor_quotient's domain

// The largest whole k with fl(size * k) <= v, or < v when `strictly`.
// floor_quotient gives the k with size * k <= v < size * (k + 1) in real
// arithmetic. Rounding to nearest never crosses the double v, so fl(size *
// k) <= v and fl(size * (k + 1)) >= v: only an equality moves k, by one
// (fl(size * (k + 2)) lies nearly a cell beyond v, the roundings being far
// below a cell within floor_quotient's domain).
std::int64_t product_below(double v, double size, double inverse, bool strictly)
{
    std::int64_t k = floor_quotient(v, 0.0, size, inverse);
    if (!strictly && size * static_cast<double>(k + 1) == v) ++k;
    if (strictly && size * static_cast<double>(k) == v) --k;
    return k;
}

// The number of cells from `from` to `v`, measured from `from`, that hold
// v: floor((v - from) / size) + 1 for v >= from, or more than
// lattice_max_side.
std::int64_t cells_to(double v, double from, double size, double inverse)
{
    if (!((v - from) * inverse < static_cast<double>(lattice_max_side))) return lattice_max_side + 1;
    return floor_quotient(v, from, size, inverse) + 1;
}

// West to east: a point on the edge fl(size * k) lies in the cell east of
// it, so xmin is the largest such edge at or west of the smallest X.
SnappedAxis snap_columns(double smallest, double largest, double size, double inverse)
{
    if (!(std::fabs(smallest * inverse) < reach && std::fabs(largest * inverse) < reach)) return {0, 0, -1};
    const double low = size * static_cast<double>(product_below(smallest, size, inverse, false));
    const std::int64_t count = cells_to(largest, low, size, inverse);
    return {low, low + static_cast<double>(count) * size, count};
}

// An ESRI grid's south and north edges, the north one as GDAL forms it:
// yllcorner + rows * size in doubles.
struct SouthNorth {
    double low, top;
};

// The north edges y + p an ESRI grid can carry nearest `wanted`, for the
// five doubles y around fl(wanted - p): nearest first, the first that
// `fits`, with its y (the product `preferred` where that sums to it, else
// the double nearest top - p that does). fl(wanted - p) lies within half an
// ulp of the exact difference, so its sum is `wanted` itself unless that
// half ulp is a tie or y and p are coarser than `wanted` (a sum from across
// 0, or across a power of two below 0); then the sums step by their own
// spacing, and the neighbours give the nearest on either side.
template <class Fits>
std::optional<SouthNorth> edge_near(double wanted, double p, double preferred, const Fits& fits)
{
    std::array<double, 5> ys{};
    ys[2] = wanted - p;
    ys[1] = std::nextafter(ys[2], -HUGE_VAL), ys[0] = std::nextafter(ys[1], -HUGE_VAL);
    ys[3] = std::nextafter(ys[2], HUGE_VAL), ys[4] = std::nextafter(ys[3], HUGE_VAL);
    std::stable_sort(ys.begin(), ys.end(),
                     [&](double a, double b) { return std::fabs((a + p) - wanted) < std::fabs((b + p) - wanted); });
    for (const double y : ys) {
        const double top = y + p;
        if (!fits(top)) continue;
        if (preferred + p == top) return SouthNorth{preferred, top};
        if (const double nearest = top - p; nearest + p == top) return SouthNorth{nearest, top};
        return SouthNorth{y, top};
    }
    return std::nullopt;
}

// North to south, the rows measured from ymax: a point on an edge lies in
// the cell south of it, so ymax is the smallest edge fl(size * k) at or
// north of the largest Y (the columns' rule on -y), and the count the
// fewest rows from there that hold the smallest Y; the south edge is then
// the one whose sum gives ymax back (see edge_near). Where no sum does, the
// nearest that keeps the largest Y in row 0 and the smallest in the last
// row is the north edge, with the count that the smallest Y then needs.
// Only a largest or smallest Y within a rounding of a row edge can leave no
// such sum: the north edge is then the lowest sum at or above fl(size * k),
// the count the fewest that hold every point (one more at most), and the
// end row beyond that Y may stay empty.
SnappedAxis snap_rows(double smallest, double largest, double size, double inverse)
{
    if (!(std::fabs(smallest * inverse) < reach && std::fabs(largest * inverse) < reach)) return {0, 0, -1};
    const std::int64_t k = -product_below(-largest, size, inverse, false);  // fl(size * -k) = -fl(size * k)
    const double wanted = size * static_cast<double>(k);
    const std::int64_t fewest = cells_to(-smallest, -wanted, size, inverse);
    if (fewest > lattice_max_side) return {0, 0, fewest};
    const auto p = [&](std::int64_t n) { return static_cast<double>(n) * size; };
    const auto product = [&](std::int64_t n) { return size * static_cast<double>(k - n); };
    for (const std::int64_t n : {fewest, fewest + 1, fewest - 1}) {
        const auto fits = [&](double top) {
            return top >= largest && cells_to(-largest, -top, size, inverse) == 1 &&
                   cells_to(-smallest, -top, size, inverse) == n;
        };
        if (const std::optional<SouthNorth> e = n >= 1 ? edge_near(wanted, p(n), product(n), fits) : std::nullopt)
            return {e->low, e->top, n};
    }
    for (std::int64_t n = fewest;; ++n) {
        const SouthNorth e = edge_near(wanted, p(n), product(n), [&](double top) { return top >= wanted; }).value();
        if (cells_to(-smallest, -e.top, size, inverse) <= n) return {e.low, e.top, n};
    }
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
    const SnappedAxis x = snap_columns(xmin, xmax, size, inverse), y = snap_rows(ymin, ymax, size, inverse);
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
    w.within = LatticeOrigin{o.x, o.y, o.col + col, o.row + row};
    return {w, ""};
}

std::int64_t whole_cells_in(double length, double size)
{
    if (!std::isfinite(length) || !(length > 0.0) || !cell_size_error(size).empty()) return -1;
    const std::int64_t n = whole_cells(0.0, length, size);
    return n < 0 ? -1 : n;
}

}  // namespace kestranov
