// Arbitrary bytes decoded into a small cloud and a cell size, run to an
// ASCII grid in-process.
//
// Two decodings, chosen by a flag:
//
// - lattice: coordinates are whole multiples of q = 2^-e (e = 0..4) from a
//   few origins, the cell size is m*q (m = 1..16), elevations are multiples
//   of 1/64 m around a few bases (zero and negative ones included). Every
//   quotient the program forms is then exact or far from a whole number, so
//   the harness knows in whole numbers which cell each point falls in (and
//   checks that the rule below agrees).
// - free: any coordinates and elevations (two bytes each, scaled), any cell
//   size giving at most about as many cells as points, plus sizes so small the
//   grid must be refused and so large it is empty. The cell of each point
//   follows the rule the README states (extended-precision quotient rounded
//   to double, then the ceiling), which the program's faster paths must match.
//
// Either way the header must be exact, every cell holding points must carry
// their highest (first return) or lowest (last return) elevation, every
// other cell a value between the smallest and largest of its neighbours in
// the model, and the run may stop on the density message only when some
// empty cell has no neighbour holding a point.
//
// Points are spread over one to three files, with LF or CR LF line ends.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "fuzz_support.h"
#include "run/driver.h"
#include "run/run_state.h"

namespace {

struct P {
    double x, y, z;
    long long kx = 0, ky = 0;  // lattice indices (lattice decoding only)
};

struct Cloud {
    bool lattice = false;
    std::vector<P> points;
    double pix = 0;
    long long m = 1;  // cell size in lattice steps
    int retorno = 0;
    int files = 1;
    bool crlf = false;
};

std::string g17(double v)
{
    char b[40];
    std::snprintf(b, sizeof b, "%.17g", v);
    return b;
}

std::string f6(double v)
{
    char b[400];
    std::snprintf(b, sizeof b, "%f", v);
    return b;
}

Cloud decode(FuzzedDataProvider& in)
{
    Cloud c;
    c.lattice = in.ConsumeBool();
    c.retorno = in.ConsumeBool() ? 1 : 0;
    c.files = in.ConsumeIntegralInRange(1, 3);
    c.crlf = in.ConsumeBool();
    if (c.lattice) {
        static const double origins[] = {0.0, -1000.0, 480000.0, 10000123.5, -7.25, 2150000.0};
        static const double bases[] = {0.0, -4.0, 100.0, 2201.0, -11000.0};
        const double q = std::ldexp(1.0, -in.ConsumeIntegralInRange(0, 4));
        c.m = in.ConsumeIntegralInRange(1, 16);
        c.pix = static_cast<double>(c.m) * q;
        const double x0 = in.PickValueInArray(origins), y0 = in.PickValueInArray(origins);
        const double z0 = in.PickValueInArray(bases), zq = std::ldexp(1.0, -in.ConsumeIntegralInRange(0, 6));
        const int w = in.ConsumeIntegralInRange(0, 63), h = in.ConsumeIntegralInRange(0, 63);
        while (in.remaining_bytes() >= 3 && c.points.size() < 400) {
            P p;
            p.kx = in.ConsumeIntegral<std::uint8_t>() % (w + 1);
            p.ky = in.ConsumeIntegral<std::uint8_t>() % (h + 1);
            p.x = x0 + static_cast<double>(p.kx) * q;
            p.y = y0 + static_cast<double>(p.ky) * q;
            p.z = z0 + in.ConsumeIntegral<std::int8_t>() * zq;
            c.points.push_back(p);
        }
        return c;
    }
    static const double steps[] = {1e-3, 0.01, 0.1, 0.37, 1.0, 3.3, 1000.0};
    static const double zbases[] = {0.0, -1e-7, 1e5, -8848.86, 0.1};
    const double sx = in.PickValueInArray(steps), sy_free = in.PickValueInArray(steps);
    const double zs = in.PickValueInArray(steps), z0 = in.PickValueInArray(zbases);
    const double x0 = in.ConsumeFloatingPointInRange(-1e7, 1e7), y0 = in.ConsumeFloatingPointInRange(-1e7, 1e7);
    const int size_kind = in.ConsumeIntegralInRange(0, 15);
    const int divisions_raw = in.ConsumeIntegral<std::uint8_t>();
    const double factor = 0.5 + in.ConsumeIntegral<std::uint8_t>() / 256.0;
    // Cell sizes that are whole multiples of the coordinate steps put many
    // points on cell edges up to rounding: there the exact rule decides.
    // Such clouds keep to a few steps a side and one step for both axes, so
    // that their grids stay small and mostly filled.
    const bool aligned = size_kind >= 3 && size_kind <= 6;
    const int aligned_side = 2 << (divisions_raw % 4);  // 2 to 16 steps
    const double sy = aligned ? sx : sy_free;
    auto step = [&] {
        const int v = in.ConsumeIntegral<std::int16_t>();
        return aligned ? (v & 0x7fff) % aligned_side : v;
    };
    while (in.remaining_bytes() >= 6 && c.points.size() < 400) {
        P p;
        p.x = x0 + sx * step();
        p.y = y0 + sy * step();
        p.z = z0 + zs * in.ConsumeIntegral<std::int16_t>();
        c.points.push_back(p);
    }
    double extent = 0;
    if (!c.points.empty()) {
        auto [xl, xh] = std::minmax_element(c.points.begin(), c.points.end(), [](auto& a, auto& b) { return a.x < b.x; });
        auto [yl, yh] = std::minmax_element(c.points.begin(), c.points.end(), [](auto& a, auto& b) { return a.y < b.y; });
        extent = std::max(xh->x - xl->x, yh->y - yl->y);
    }
    // At most about as many cells as points: most runs then fill their grid
    // and the cell checks apply, rather than ending on the density message.
    const int most = 1 + static_cast<int>(std::sqrt(static_cast<double>(c.points.size())));
    if (size_kind == 0)
        c.pix = 1e-300;  // refused: far too many rows and columns
    else if (size_kind == 1)
        c.pix = 1e300;  // an empty grid
    else if (size_kind == 2)
        c.pix = 4.9406564584124654e-324;
    else if (aligned)
        c.pix = sx * (1 + divisions_raw / 4 % 4);
    else
        c.pix = extent > 0 ? extent / (1 + divisions_raw % most) * factor : factor;
    return c;
}

std::vector<std::string> split_cells(std::string_view body)
{
    std::vector<std::string> cells;
    std::size_t p = 0;
    while (p < body.size()) {
        const std::size_t tab = body.find('\t', p);
        fuzz::check(tab != std::string_view::npos, "the grid does not end with a tab");
        cells.emplace_back(body.substr(p, tab - p));
        p = tab + 1;
    }
    return cells;
}

double number(const std::string& s)
{
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    fuzz::check(!s.empty() && end == s.c_str() + s.size(), "cell \"" + s + "\" is not a number");
    return v;
}

struct Header {
    long long cols = -1, rows = -1;
    std::string text;
};

// The six header lines; returns where the cells begin.
std::size_t parse_header(const std::string& asc, Header& h)
{
    std::size_t p = 0;
    for (int line = 0; line < 6; ++line) {
        const std::size_t end = asc.find("\r\n", p);
        fuzz::check(end != std::string::npos, "header line " + std::to_string(line) + " missing");
        p = end + 2;
    }
    h.text = asc.substr(0, p);
    std::sscanf(h.text.c_str(), "ncols %lld\r\nnrows %lld", &h.cols, &h.rows);
    return p;
}

const std::string density = "\n\n\tDespite an attempt to eliminate the pits, the density ";
const std::string refused = "\n\n\tA pixel size of ";
const std::string no_point = "\n\n\tThe point files hold no point: there is nothing to grid\n";

// Where the harness expects the grid and each point in it.
struct Layout {
    long long rows = 0, cols = 0;
    double xmin = 0, ymin = 0;
    std::vector<std::pair<long long, long long>> cells;  // row and column of each point
};

// Lattice clouds in whole numbers: column j holds kx0 + (j-1) m < kx <= kx0 + j m,
// row i likewise from the northern edge.
Layout lattice_layout(const Cloud& c)
{
    Layout l;
    long long kx0 = 1 << 30, kx1 = -1, ky0 = 1 << 30, ky1 = -1;
    for (const P& p : c.points) {
        if (p.kx < kx0) kx0 = p.kx, l.xmin = p.x;
        if (p.ky < ky0) ky0 = p.ky, l.ymin = p.y;
        kx1 = std::max(kx1, p.kx), ky1 = std::max(ky1, p.ky);
    }
    l.cols = (kx1 - kx0) / c.m, l.rows = (ky1 - ky0) / c.m;
    for (const P& p : c.points) l.cells.emplace_back((ky1 - p.ky + c.m - 1) / c.m, (p.kx - kx0 + c.m - 1) / c.m);
    return l;
}

// Any cloud, by the rule as the README states it: the distance from the edge
// over the cell size, formed with a 64-bit significand and rounded to
// double, raised to the next whole number unless it is one; the numbers of
// rows and columns are the extents over the cell size, truncated.
long long position_ceiling(double from, double to, double pix)
{
    const double position =
        static_cast<double>((static_cast<long double>(to) - static_cast<long double>(from)) / static_cast<long double>(pix));
    return static_cast<long long>(std::ceil(position));
}

Layout free_layout(const Cloud& c, long double& rows, long double& cols)
{
    Layout l;
    double xmax = -INFINITY, ymax = -INFINITY;
    l.xmin = INFINITY, l.ymin = INFINITY;
    for (const P& p : c.points) {
        l.xmin = std::min(l.xmin, p.x), l.ymin = std::min(l.ymin, p.y);
        xmax = std::max(xmax, p.x), ymax = std::max(ymax, p.y);
    }
    cols = std::trunc((static_cast<long double>(xmax) - l.xmin) / c.pix);
    rows = std::trunc((static_cast<long double>(ymax) - l.ymin) / c.pix);
    if (rows > 1e7 || cols > 1e7) return l;
    l.rows = static_cast<long long>(rows), l.cols = static_cast<long long>(cols);
    for (const P& p : c.points) l.cells.emplace_back(position_ceiling(p.y, ymax, c.pix), position_ceiling(l.xmin, p.x, c.pix));
    return l;
}

// Every cell holding points carries their highest (first return) or lowest
// (last return) elevation; every other cell a value between the smallest
// and largest of its neighbours in the model, or the run stops on the
// density message, which needs an empty cell with no neighbour holding a point.
void check_grid(const Cloud& c, const Layout& l, int status, const std::string& console, const std::string& asc)
{
    const bool first = c.retorno == 0;
    std::map<std::pair<long long, long long>, double> hit;
    for (std::size_t k = 0; k < c.points.size(); ++k) {
        const auto [row, col] = l.cells[k];
        fuzz::check(row >= 0 && col >= 0 && row <= l.rows + 1 && col <= l.cols + 1, "a point outside the spare cells");
        if (row >= l.rows || col >= l.cols) continue;
        auto [it, fresh] = hit.emplace(std::make_pair(row, col), c.points[k].z);
        if (!fresh) it->second = first ? std::max(it->second, c.points[k].z) : std::min(it->second, c.points[k].z);
    }
    auto in_model = [&](long long r, long long k) { return r >= 0 && r < l.rows && k >= 0 && k < l.cols; };
    auto empty_without_hit_neighbour = [&] {
        for (long long r = 0; r < l.rows; ++r)
            for (long long k = 0; k < l.cols; ++k) {
                if (hit.count({r, k})) continue;
                bool fed = false;
                for (long long dr = -1; dr <= 1; ++dr)
                    for (long long dc = -1; dc <= 1; ++dc)
                        if ((dr || dc) && in_model(r + dr, k + dc) && hit.count({r + dr, k + dc})) fed = true;
                if (!fed) return true;
            }
        return false;
    };

    if (status == 1) {
        fuzz::check(fuzz::contains(console, density) && console.ends_with("\n\ta pixel size of " + f6(c.pix) + " meter "),
                    "the run failed: " + console);
        fuzz::check(empty_without_hit_neighbour(), "density failure although every empty cell has a filled neighbour");
        return;
    }
    fuzz::check(status == 0, "status " + std::to_string(status));
    const std::string header = "ncols " + std::to_string(l.cols) + "\r\nnrows " + std::to_string(l.rows) +
                               "\r\nxllcorner " + f6(l.xmin) + "\r\nyllcorner " + f6(l.ymin) + "\r\ncellsize " +
                               f6(c.pix) + "\r\nnodata_value -9999.9999\r\n";
    fuzz::check(asc.starts_with(header), "header:\n" + asc.substr(0, header.size() + 20) + "\nexpected:\n" + header);
    const std::vector<std::string> cells = split_cells(std::string_view(asc).substr(header.size()));
    fuzz::check(static_cast<long long>(cells.size()) == l.rows * l.cols, "cell count");
    auto at = [&](long long r, long long k) { return cells[static_cast<std::size_t>(r * l.cols + k)]; };
    for (long long r = 0; r < l.rows; ++r)
        for (long long k = 0; k < l.cols; ++k) {
            const std::string where = " at row " + std::to_string(r) + " column " + std::to_string(k);
            if (auto h = hit.find({r, k}); h != hit.end()) {
                fuzz::check(at(r, k) == f6(h->second), "cell " + at(r, k) + where + ", expected " + f6(h->second));
                continue;
            }
            double lo = INFINITY, hi = -INFINITY;
            for (long long dr = -1; dr <= 1; ++dr)
                for (long long dc = -1; dc <= 1; ++dc)
                    if ((dr || dc) && in_model(r + dr, k + dc)) {
                        const double v = number(at(r + dr, k + dc));
                        lo = std::min(lo, v), hi = std::max(hi, v);
                    }
            const double v = number(at(r, k));
            const double tol = 1.5e-6 + 1e-12 * std::fabs(v);
            fuzz::check(lo <= hi && v >= lo - tol && v <= hi + tol,
                        "filled cell " + at(r, k) + where + " outside its neighbours " + f6(lo) + " .. " + f6(hi));
        }
}

void check_free(const Cloud& c, int status, const std::string& console, const std::string& asc)
{
    long double rows = 0, cols = 0;
    const Layout l = free_layout(c, rows, cols);
    if (rows > 1e7 || cols > 1e7) {
        // Only the cell sizes meant to be refused give such grids.
        fuzz::check(status == 1 && fuzz::contains(console, refused), "a grid of " + g17(static_cast<double>(rows)) +
                                                                         " by " + g17(static_cast<double>(cols)) +
                                                                         " cells was not refused");
        return;
    }
    check_grid(c, l, status, console, asc);
    if (status != 0) return;
    // Implied by the above, and cheap: nothing outside the cloud's elevations.
    double zmin = INFINITY, zmax = -INFINITY;
    for (const P& p : c.points) zmin = std::min(zmin, p.z), zmax = std::max(zmax, p.z);
    const double tol = 1e-6 + 1e-9 * std::max(std::fabs(zmin), std::fabs(zmax));
    Header h;
    for (const std::string& s : split_cells(std::string_view(asc).substr(parse_header(asc, h)))) {
        const double v = number(s);
        fuzz::check(v >= zmin - tol && v <= zmax + tol, "cell " + s + " outside " + g17(zmin) + " .. " + g17(zmax));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const Cloud c = decode(in);

    const std::filesystem::path zone = fuzz::drive() / "images" / "g";
    std::filesystem::remove_all(zone);
    std::vector<std::string> texts(static_cast<std::size_t>(c.files));
    const char* eol = c.crlf ? "\r\n" : "\n";
    for (std::size_t k = 0; k < c.points.size(); ++k)
        texts[k % texts.size()] += g17(c.points[k].x) + " " + g17(c.points[k].y) + " " + g17(c.points[k].z) + eol;
    std::string answers = "g\n" + std::to_string(c.files) + "\n";
    for (std::size_t f = 0; f < texts.size(); ++f) {
        fuzz::write_file(zone / ("p" + std::to_string(f) + ".xyz"), texts[f]);
        answers += "p" + std::to_string(f) + "\n";
    }
    answers += g17(c.pix) + "\n" + std::to_string(c.retorno) + "\ndem\n0\n";

    RunState st;
    std::istringstream console_in(answers);
    std::ostringstream console_out;
    st.in = &console_in;
    st.out = &console_out;
    st.drive_root = fuzz::drive();
    const int status = run(st);
    const std::string console = console_out.str();
    const std::string asc = status == 0 ? fuzz::read_file(zone / "dem_lidar.asc") : "";

    if (c.points.empty()) {
        fuzz::check(status == 1 && console.ends_with(no_point), "a run without points: " + console);
        return 0;
    }
    if (c.lattice) {
        const Layout l = lattice_layout(c);
        // The whole-number layout and the stated rule must agree on lattices.
        long double rows = 0, cols = 0;
        const Layout rule = free_layout(c, rows, cols);
        fuzz::check(rule.rows == l.rows && rule.cols == l.cols && rule.cells == l.cells, "lattice layout");
        check_grid(c, l, status, console, asc);
    } else {
        check_free(c, status, console, asc);
    }
    return 0;
}
