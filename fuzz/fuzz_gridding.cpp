// Arbitrary bytes decoded into a small cloud, a cell size and an output
// format, run in-process to an ASCII grid or a raster image.
//
// Two decodings of the cloud, chosen by a flag:
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
//   follows the rule docs/formats.md states (extended-precision quotient rounded
//   to double, then the ceiling), which the program's faster paths must match.
//
// In both, each axis may be kept narrower than one cell or than two, so that
// models without rows or columns, and with one, come up often: they are the
// edge cases of every writer.
//
// The output is an ASCII grid or a raster (16 or 32 bits, metres to
// millimetres). For a raster the harness answers up to three type and scale
// choices, then one that fits or none (the input runs out). A choice must be
// refused with the range message exactly when its scaled range does not fit,
// and the run then ends with status 1 and no file if no choice is left.
//
// Either way the header or descriptor must be exact, every cell holding
// points must carry their highest (first return) or lowest (last return)
// elevation (as the program scales it, for a raster), every other cell a
// value between the smallest and largest of its neighbours in the model, and
// the run may stop on the density message only when some empty cell has no
// neighbour holding a point. The folder must then hold exactly the point
// files and the announced outputs.
//
// Points are spread over one to three files, with LF or CR LF line ends.
//
// KESTRANOV_FUZZ_SHOW=1 prints one line per input (decoding, rows, columns,
// output, refusals, status): how to see what a seed reaches.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "core/run_state.h"
#include "fuzz_support.h"
#include "run/driver.h"

using namespace kestranov;

namespace {

struct P {
    double x, y, z;
    long long kx = 0, ky = 0;  // lattice indices (lattice decoding only)
};

// A raster answer: type (0: 16 bits, 1: 32 bits) and scale (0: m .. 3: mm).
struct Choice {
    int type, scale;
};

struct Cloud {
    bool lattice = false;
    std::vector<P> points;
    double pix = 0;
    long long m = 1;  // cell size in lattice steps
    int retorno = 0;
    int files = 1;
    bool crlf = false;
    bool raster = false;
    std::vector<Choice> choices;  // answered in turn while the program refuses them
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

// The extent of one lattice axis in steps: narrower than a cell (no column
// or row at all), within the second cell (exactly one: the first two points
// are pinned to the extremes), or anything up to 63 steps.
struct Span {
    long long steps;
    bool pinned;
};

Span lattice_span(FuzzedDataProvider& in, long long m)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return {in.ConsumeIntegralInRange<long long>(0, m - 1), false};
        case 1:
            return {in.ConsumeIntegralInRange<long long>(m, 2 * m - 1), true};
        default:
            return {in.ConsumeIntegralInRange<long long>(0, 63), false};
    }
}

long long lattice_index(FuzzedDataProvider& in, const Span& s, std::size_t k)
{
    const long long v = in.ConsumeIntegral<std::uint8_t>() % (s.steps + 1);
    return s.pinned && k < 2 ? static_cast<long long>(k) * s.steps : v;
}

void decode_lattice(FuzzedDataProvider& in, Cloud& c)
{
    static const double origins[] = {0.0, -1000.0, 480000.0, 10000123.5, -7.25, 2150000.0};
    static const double bases[] = {0.0, -4.0, 100.0, 2201.0, -11000.0};
    const double q = std::ldexp(1.0, -in.ConsumeIntegralInRange(0, 4));
    c.m = in.ConsumeIntegralInRange(1, 16);
    c.pix = static_cast<double>(c.m) * q;
    const double x0 = in.PickValueInArray(origins), y0 = in.PickValueInArray(origins);
    const double z0 = in.PickValueInArray(bases), zq = std::ldexp(1.0, -in.ConsumeIntegralInRange(0, 6));
    const Span w = lattice_span(in, c.m), h = lattice_span(in, c.m);
    while (in.remaining_bytes() >= 3 && c.points.size() < 400) {
        P p;
        p.kx = lattice_index(in, w, c.points.size());
        p.ky = lattice_index(in, h, c.points.size());
        p.x = x0 + static_cast<double>(p.kx) * q;
        p.y = y0 + static_cast<double>(p.ky) * q;
        p.z = z0 + in.ConsumeIntegral<std::int8_t>() * zq;
        c.points.push_back(p);
    }
}

void decode_free(FuzzedDataProvider& in, Cloud& c)
{
    static const double steps[] = {1e-3, 0.01, 0.1, 0.37, 1.0, 3.3, 1000.0};
    static const double zbases[] = {0.0, -1e-7, 1e5, -8848.86, 0.1};
    const double sx = in.PickValueInArray(steps), sy_free = in.PickValueInArray(steps);
    const double zs = in.PickValueInArray(steps), z0 = in.PickValueInArray(zbases);
    const double x0 = in.ConsumeFloatingPointInRange(-1e7, 1e7), y0 = in.ConsumeFloatingPointInRange(-1e7, 1e7);
    const int size_kind = in.ConsumeIntegralInRange(0, 15);
    const int divisions_raw = in.ConsumeIntegral<std::uint8_t>();
    const double factor = 0.5 + in.ConsumeIntegral<std::uint8_t>() / 256.0;
    // Each axis is free (kind 2 or 3) or kept within kind + 1 cells: see place().
    const int x_kind = in.ConsumeIntegralInRange(0, 3), y_kind = in.ConsumeIntegralInRange(0, 3);
    // Cell sizes that are whole multiples of the coordinate steps put many
    // points on cell edges up to rounding: there the exact rule decides.
    // Such clouds keep to a few steps a side and one step for both axes, so
    // that their grids stay small and mostly filled.
    const bool aligned = size_kind >= 3 && size_kind <= 6;
    const int aligned_side = 2 << (divisions_raw % 4);  // 2 to 16 steps
    const int cell_steps = 1 + divisions_raw / 4 % 4;   // an aligned cell size in steps
    const double sy = aligned ? sx : sy_free;
    // A coordinate from its two bytes. A kept axis spans less than kind + 1
    // cells: in whole steps when aligned, else as a fraction of the cell
    // size, which is known only once the free axes are.
    auto place = [&](int kind, double origin, double s, int v) {
        if (kind >= 2) return origin + s * (aligned ? (v & 0x7fff) % aligned_side : v);
        if (aligned) return origin + s * ((v & 0x7fff) % ((kind + 1) * cell_steps));
        return origin + c.pix * (kind + 1) * 0.999 * (v & 0x7fff) / 32768;
    };
    std::vector<std::pair<int, int>> raw;
    while (in.remaining_bytes() >= 6 && c.points.size() < 400) {
        const int vx = in.ConsumeIntegral<std::int16_t>(), vy = in.ConsumeIntegral<std::int16_t>();
        raw.emplace_back(vx, vy);
        c.points.push_back({0, 0, z0 + zs * in.ConsumeIntegral<std::int16_t>()});
    }
    // The extent of the free axes sets the cell size.
    double lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
    for (const auto& [vx, vy] : raw) {
        const double v[2] = {place(x_kind, x0, sx, vx), place(y_kind, y0, sy, vy)};
        for (int a = 0; a < 2; ++a)
            if ((a == 0 ? x_kind : y_kind) >= 2) lo[a] = std::min(lo[a], v[a]), hi[a] = std::max(hi[a], v[a]);
    }
    const double extent = std::max({0.0, hi[0] - lo[0], hi[1] - lo[1]});
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
        c.pix = sx * cell_steps;
    else
        c.pix = extent > 0 ? extent / (1 + divisions_raw % most) * factor : factor;
    for (std::size_t k = 0; k < raw.size(); ++k) {
        c.points[k].x = place(x_kind, x0, sx, raw[k].first);
        c.points[k].y = place(y_kind, y0, sy, raw[k].second);
    }
}

Cloud decode(FuzzedDataProvider& in)
{
    Cloud c;
    c.lattice = in.ConsumeBool();
    c.retorno = in.ConsumeBool() ? 1 : 0;
    c.files = in.ConsumeIntegralInRange(1, 3);
    c.crlf = in.ConsumeBool();
    c.raster = in.ConsumeBool();
    if (c.raster) {
        for (int n = in.ConsumeIntegralInRange(1, 3); n > 0; --n) {
            const int b = in.ConsumeIntegral<std::uint8_t>();
            c.choices.push_back({b & 1, (b >> 1) & 3});
        }
        // Unless the input is to run out, 32 bits in metres: it holds these clouds.
        if (!in.ConsumeBool()) c.choices.push_back({1, 0});
    }
    if (c.lattice)
        decode_lattice(in, c);
    else
        decode_free(in, c);
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

const std::string density = "\n\n\tDespite an attempt to eliminate the pits, the density ";
const std::string refused = "\n\n\tA pixel size of ";
const std::string no_point = "\n\n\tThe point files hold no point: there is nothing to grid\n";
const std::string range_refused = "\n\n\tThe scaled elevations run from ";
const std::string end_of_input = "\n\n\tEnd of console input: the question above has no answer\n";

struct Box {
    double xmin = INFINITY, xmax = -INFINITY, ymin = INFINITY, ymax = -INFINITY, zmin = INFINITY, zmax = -INFINITY;
};

Box box_of(const std::vector<P>& points)
{
    Box b;
    for (const P& p : points) {
        b.xmin = std::min(b.xmin, p.x), b.xmax = std::max(b.xmax, p.x);
        b.ymin = std::min(b.ymin, p.y), b.ymax = std::max(b.ymax, p.y);
        b.zmin = std::min(b.zmin, p.z), b.zmax = std::max(b.zmax, p.z);
    }
    return b;
}

// Where the harness expects the grid and each point in it.
struct Layout {
    long long rows = 0, cols = 0;
    std::vector<std::pair<long long, long long>> cells;  // row and column of each point
};

// Lattice clouds in whole numbers: column j holds kx0 + (j-1) m < kx <= kx0 + j m,
// row i likewise from the northern edge.
Layout lattice_layout(const Cloud& c)
{
    Layout l;
    long long kx0 = 1 << 30, kx1 = -1, ky0 = 1 << 30, ky1 = -1;
    for (const P& p : c.points) {
        kx0 = std::min(kx0, p.kx), ky0 = std::min(ky0, p.ky);
        kx1 = std::max(kx1, p.kx), ky1 = std::max(ky1, p.ky);
    }
    l.cols = (kx1 - kx0) / c.m, l.rows = (ky1 - ky0) / c.m;
    for (const P& p : c.points) l.cells.emplace_back((ky1 - p.ky + c.m - 1) / c.m, (p.kx - kx0 + c.m - 1) / c.m);
    return l;
}

// Any cloud, by the rule as docs/formats.md states it: the distance from the edge
// over the cell size, formed with a 64-bit significand and rounded to
// double, raised to the next whole number unless it is one; the numbers of
// rows and columns are the extents over the cell size, truncated.
long long position_ceiling(double from, double to, double pix)
{
    const double position = static_cast<double>((static_cast<long double>(to) - static_cast<long double>(from)) /
                                                static_cast<long double>(pix));
    return static_cast<long long>(std::ceil(position));
}

Layout free_layout(const Cloud& c, const Box& b, long double& rows, long double& cols)
{
    Layout l;
    cols = std::trunc((static_cast<long double>(b.xmax) - b.xmin) / c.pix);
    rows = std::trunc((static_cast<long double>(b.ymax) - b.ymin) / c.pix);
    if (rows > 1e7 || cols > 1e7) return l;
    l.rows = static_cast<long long>(rows), l.cols = static_cast<long long>(cols);
    for (const P& p : c.points)
        l.cells.emplace_back(position_ceiling(p.y, b.ymax, c.pix), position_ceiling(b.xmin, p.x, c.pix));
    return l;
}

// The cells holding points, each with their highest (first return) or
// lowest (last return) elevation.
std::map<std::pair<long long, long long>, double> hits(const Cloud& c, const Layout& l)
{
    std::map<std::pair<long long, long long>, double> hit;
    for (std::size_t k = 0; k < c.points.size(); ++k) {
        const auto [row, col] = l.cells[k];
        fuzz::check(row >= 0 && col >= 0 && row <= l.rows + 1 && col <= l.cols + 1, "a point outside the spare cells");
        if (row >= l.rows || col >= l.cols) continue;
        auto [it, fresh] = hit.emplace(std::make_pair(row, col), c.points[k].z);
        const double z = c.points[k].z;
        if (!fresh) it->second = c.retorno == 0 ? std::max(it->second, z) : std::min(it->second, z);
    }
    return hit;
}

using Hits = std::map<std::pair<long long, long long>, double>;

bool in_model(const Layout& l, long long r, long long k) { return r >= 0 && r < l.rows && k >= 0 && k < l.cols; }

// Whether some empty cell has no neighbour holding a point: only then may
// the run stop on the density message.
bool empty_without_hit_neighbour(const Layout& l, const Hits& hit)
{
    for (long long r = 0; r < l.rows; ++r)
        for (long long k = 0; k < l.cols; ++k) {
            if (hit.count({r, k})) continue;
            bool fed = false;
            for (long long dr = -1; dr <= 1; ++dr)
                for (long long dc = -1; dc <= 1; ++dc)
                    if ((dr || dc) && in_model(l, r + dr, k + dc) && hit.count({r + dr, k + dc})) fed = true;
            if (!fed) return true;
        }
    return false;
}

// The model as written, north to south and west to east.
struct Written {
    std::vector<std::string> shown;                 // each cell as written: its text, or its bits as a number
    std::vector<double> values;                     // metres (ASCII grid) or scaled units (raster)
    std::function<std::string(double z)> expected;  // how a cell shows the elevation z exactly
    double slack_abs, slack_rel;                    // how far a filled cell may stray beyond its neighbours
};

// Every cell holding points carries their elevation; every other cell a
// value between the smallest and largest of its neighbours in the model.
void check_cells(const Layout& l, const Hits& hit, const Written& w)
{
    fuzz::check(static_cast<long long>(w.values.size()) == l.rows * l.cols, "cell count");
    auto at = [&](long long r, long long k) { return w.values[static_cast<std::size_t>(r * l.cols + k)]; };
    for (long long r = 0; r < l.rows; ++r)
        for (long long k = 0; k < l.cols; ++k) {
            const std::string where = " at row " + std::to_string(r) + " column " + std::to_string(k);
            if (auto h = hit.find({r, k}); h != hit.end()) {
                const std::string& got = w.shown[static_cast<std::size_t>(r * l.cols + k)];
                const std::string want = w.expected(h->second);
                fuzz::check(got == want,
                            "cell " + got + where + ", expected " + want + " for " + g17(h->second) + " m");
                continue;
            }
            double lo = INFINITY, hi = -INFINITY;
            for (long long dr = -1; dr <= 1; ++dr)
                for (long long dc = -1; dc <= 1; ++dc)
                    if ((dr || dc) && in_model(l, r + dr, k + dc))
                        lo = std::min(lo, at(r + dr, k + dc)), hi = std::max(hi, at(r + dr, k + dc));
            const double v = at(r, k), tol = w.slack_abs + w.slack_rel * std::fabs(v);
            fuzz::check(lo <= hi && v >= lo - tol && v <= hi + tol,
                        "filled cell " + g17(v) + where + " outside its neighbours " + g17(lo) + " .. " + g17(hi));
        }
}

Written ascii_cells(const std::string& body)
{
    Written w{split_cells(body), {}, f6, 1.5e-6, 1e-12};
    for (const std::string& s : w.shown) w.values.push_back(number(s));
    return w;
}

// The program's scaling: the product formed with a 64-bit significand,
// truncated toward zero.
long long scaled(double metres, int scale)
{
    static const long double coef[] = {1, 10, 100, 1000};
    return static_cast<long long>(static_cast<long double>(metres) * coef[scale]);
}

// The message refusing a scaled range for a raster type; empty when it fits.
std::string range_refusal(long long lo, long long hi, int type)
{
    const std::string range = range_refused + std::to_string(lo) + " to " + std::to_string(hi);
    if (lo < INT32_MIN || hi > INT32_MAX)
        return range + ", beyond the 32 bits of the raster descriptor: choose a coarser scale.";
    if (type == 0 && hi - lo > 65535)
        return range + ", a span of " + std::to_string(hi - lo) +
               ", more than the 65535 of a 16 bits raster: choose 32 bits or a coarser scale.";
    return {};
}

// The scaled range a choice covers: the cloud's extremes, and the written
// cells. A filled cell is a mean that can stray from the extremes by a few
// ulps per fill it depends on: `slack` metres bound that, so the range lies
// between `least` (the extremes) and `most` (the extremes widened by it).
struct Range {
    long long lo_least, hi_least, lo_most, hi_most;
};

Range range_of(const Box& b, double slack, int scale)
{
    return {scaled(b.zmin, scale), scaled(b.zmax, scale), scaled(b.zmin - slack, scale), scaled(b.zmax + slack, scale)};
}

// The choices refused in turn, then the one taken (its index), or the end
// of the input after all were refused (-1). A choice must be refused when
// even the extremes do not fit, never when the widened range fits, and in
// between only with a range inside the bounds that indeed does not fit.
int raster_dialogue(const Cloud& c, const Box& b, double slack, int status, const std::string& console)
{
    std::size_t i = 0;
    for (std::size_t at = console.find(range_refused); at != std::string::npos;
         at = console.find(range_refused, at + 1), ++i) {
        fuzz::check(i < c.choices.size(), "more refusals than raster choices");
        const Choice ch = c.choices[i];
        const Range r = range_of(b, slack, ch.scale);
        char* end = nullptr;
        const long long lo = std::strtoll(console.c_str() + at + range_refused.size(), &end, 10);
        const long long hi = fuzz::starts_with(end, " to ") ? std::strtoll(end + 4, nullptr, 10) : LLONG_MIN;
        const std::string message = range_refusal(lo, hi, ch.type);
        fuzz::check(r.lo_most <= lo && lo <= r.lo_least && r.hi_least <= hi && hi <= r.hi_most && !message.empty() &&
                        console.compare(at, message.size(), message) == 0,
                    "choice " + std::to_string(i) + " refused: " + console.substr(at) + "\nthe range lies within " +
                        std::to_string(r.lo_most) + ".." + std::to_string(r.lo_least) + " to " +
                        std::to_string(r.hi_least) + ".." + std::to_string(r.hi_most));
    }
    if (status == 1) {
        fuzz::check(i == c.choices.size() && console.ends_with(end_of_input),
                    "a raster run ended with status 1 after " + std::to_string(i) + " refusals: " + console);
        return -1;
    }
    fuzz::check(status == 0 && i < c.choices.size(), "status " + std::to_string(status));
    const Range r = range_of(b, slack, c.choices[i].scale);
    fuzz::check(range_refusal(r.lo_least, r.hi_least, c.choices[i].type).empty(),
                "choice " + std::to_string(i) + " taken although the cloud's extremes do not fit: " +
                    range_refusal(r.lo_least, r.hi_least, c.choices[i].type));
    return static_cast<int>(i);
}

// The descriptor as docs/formats.md shows it, CR LF line ends.
std::string descriptor(const Cloud& c, const Layout& l, const Box& b, const Choice& ch)
{
    auto corner = [](double extent, long double offset) { return f6(static_cast<double>(extent + offset)); };
    std::string text =
        std::to_string(l.rows) + "\n" + std::to_string(l.cols) + "\n" + (ch.type == 0 ? "2" : "4") + "\n" +
        std::to_string(scaled(b.zmin, ch.scale)) + "\n" + std::to_string(scaled(b.zmax, ch.scale)) + "\n" + f6(c.pix) +
        "\n\n\n\n\tUTM Coordinates :\n\t\tX min : " + corner(b.xmin, -2.5L) + " Y min : " + corner(b.ymin, -2.5L) +
        " \n\t\tX max : " + corner(b.xmax, 2.5L) + " Y max : " + corner(b.ymax, 2.5L) + " \n\n\t" +
        (c.retorno == 0 ? "first return [MS generation] " : "last return [Provisional MT generation] ") +
        "\n\n\t\t\t\tKestranov LIDAR DEM generator";
    std::string crlf;
    for (char ch : text) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    return crlf;
}

// The image's cells: a 32-bit cell is the scaled value as it stands, a
// 16-bit one is recovered from the descriptor's minimum as docs/formats.md says.
// A cell holding points must hold exactly the low bits of its scaled elevation.
Written raster_cells(const std::string& image, const Choice& ch, long long zmin_scaled)
{
    const std::size_t bytes = ch.type == 0 ? 2 : 4;
    const std::uint64_t mask = ch.type == 0 ? 0xffff : 0xffffffff;
    auto expected = [scale = ch.scale, mask](double z) {
        return std::to_string(static_cast<std::uint64_t>(scaled(z, scale)) & mask);
    };
    // A mean one ulp beyond its neighbours may truncate one unit further.
    Written w{{}, {}, expected, 1, 0};
    for (std::size_t k = 0; k + bytes <= image.size(); k += bytes) {
        std::uint32_t bits = 0;
        for (std::size_t b = 0; b < bytes; ++b)
            bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(image[k + b])) << (8 * b);
        w.shown.push_back(std::to_string(bits));
        w.values.push_back(bytes == 4
                               ? static_cast<std::int32_t>(bits)
                               : static_cast<double>(zmin_scaled + ((bits - zmin_scaled) % 65536 + 65536) % 65536));
    }
    return w;
}

std::set<std::string> listing(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

// One line per input when KESTRANOV_FUZZ_SHOW is set: the decoding, the
// model's shape, the output, and for a raster how each choice answered fared.
void show(const Cloud& c, const Layout* l, int status, const std::string& console)
{
    static const bool on = std::getenv("KESTRANOV_FUZZ_SHOW") != nullptr;
    if (!on) return;
    static const char* const units[] = {"m", "dm", "cm", "mm"};
    std::string out = c.raster ? "raster" : "ascii";
    std::size_t at = console.find(range_refused);
    for (const Choice& ch : c.choices) {
        out += std::string(" ") + (ch.type == 0 ? "16/" : "32/") + units[ch.scale];
        if (at == std::string::npos) {
            out += status == 0 ? " taken" : "";
            break;
        }
        out += fuzz::contains(std::string_view(console).substr(at, 120), ", a span of ") ? " refused(span)"
                                                                                         : " refused(32 bits)";
        at = console.find(range_refused, at + 1);
    }
    std::fprintf(stderr, "show: %s rows %lld cols %lld points %zu %s status %d\n", c.lattice ? "lattice" : "free",
                 l ? l->rows : -1, l ? l->cols : -1, c.points.size(), out.c_str(), status);
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
    std::set<std::string> inputs;
    for (std::size_t f = 0; f < texts.size(); ++f) {
        const std::string name = "p" + std::to_string(f);
        write_file(zone / (name + ".xyz"), texts[f]);
        answers += name + "\n";
        inputs.insert(name + ".xyz");
    }
    answers += g17(c.pix) + "\n" + std::to_string(c.retorno) + "\ndem\n" + (c.raster ? "1\n" : "0\n");
    for (const Choice& ch : c.choices) answers += std::to_string(ch.type) + "\n" + std::to_string(ch.scale) + "\n";

    RunState st;
    std::istringstream console_in(answers);
    std::ostringstream console_out;
    st.in = &console_in;
    st.out = &console_out;
    st.drive_root = fuzz::drive();
    const int status = run(st);
    const std::string console = console_out.str();
    const std::set<std::string> found = listing(zone);
    // Nothing but the point files unless the model was written.
    auto only_inputs = [&](const char* why) {
        fuzz::check(found == inputs,
                    std::string(why) + ": the folder holds " + std::to_string(found.size()) + " files");
    };

    if (c.points.empty()) {
        show(c, nullptr, status, console);
        fuzz::check(status == 1 && console.ends_with(no_point), "a run without points: " + console);
        only_inputs("a run without points");
        return 0;
    }
    const Box b = box_of(c.points);
    long double rows = 0, cols = 0;
    const Layout rule = free_layout(c, b, rows, cols);
    if (rows > 1e7 || cols > 1e7) {
        show(c, nullptr, status, console);
        // Only the cell sizes meant to be refused give such grids.
        fuzz::check(!c.lattice && status == 1 && fuzz::contains(console, refused),
                    "a grid of " + g17(static_cast<double>(rows)) + " by " + g17(static_cast<double>(cols)) +
                        " cells was not refused");
        only_inputs("a refused grid");
        return 0;
    }
    const Layout l = c.lattice ? lattice_layout(c) : rule;
    show(c, &l, status, console);
    // The whole-number layout and the stated rule must agree on lattices.
    fuzz::check(rule.rows == l.rows && rule.cols == l.cols && rule.cells == l.cells, "lattice layout");
    const Hits hit = hits(c, l);

    if (status == 1 && !(c.raster && console.ends_with(end_of_input))) {
        fuzz::check(
            fuzz::contains(console, density) && console.ends_with("\n\ta pixel size of " + f6(c.pix) + " meter "),
            "the run failed: " + console);
        fuzz::check(empty_without_hit_neighbour(l, hit),
                    "density failure although every empty cell has a filled neighbour");
        only_inputs("a density failure");
        return 0;
    }

    if (!c.raster) {
        fuzz::check(status == 0, "status " + std::to_string(status));
        std::set<std::string> expected = inputs;
        expected.insert("dem_lidar.asc");
        fuzz::check(found == expected, "an ASCII run left " + std::to_string(found.size()) + " files");
        const std::string asc = read_file(zone / "dem_lidar.asc");
        const std::string header = "ncols " + std::to_string(l.cols) + "\r\nnrows " + std::to_string(l.rows) +
                                   "\r\nxllcorner " + f6(b.xmin) + "\r\nyllcorner " + f6(b.ymin) + "\r\ncellsize " +
                                   f6(c.pix) + "\r\nnodata_value -9999.9999\r\n";
        fuzz::check(asc.starts_with(header),
                    "header:\n" + asc.substr(0, header.size() + 20) + "\nexpected:\n" + header);
        const Written w = ascii_cells(asc.substr(header.size()));
        check_cells(l, hit, w);
        // Implied by the above, and cheap: nothing outside the cloud's elevations.
        const double tol = 1e-6 + 1e-9 * std::max(std::fabs(b.zmin), std::fabs(b.zmax));
        for (double v : w.values)
            fuzz::check(v >= b.zmin - tol && v <= b.zmax + tol,
                        "cell " + g17(v) + " outside " + g17(b.zmin) + " .. " + g17(b.zmax));
        return 0;
    }

    const long long pits = l.rows * l.cols - static_cast<long long>(hit.size());
    // Each fill strays at most about 2^-45 of the largest magnitude from the
    // exact mean of its neighbours, and inherits what they strayed.
    const double largest = std::max(std::fabs(b.zmin), std::fabs(b.zmax));
    const double slack = pits == 0 ? 0.0 : std::ldexp(largest, -44) * static_cast<double>(pits + 8);
    const int taken = raster_dialogue(c, b, slack, status, console);
    if (taken < 0) {
        only_inputs("the raster choices ran out");
        return 0;
    }
    const Choice ch = c.choices[static_cast<std::size_t>(taken)];
    const std::string name = ch.type == 0 ? "dem_lidar_m2" : "dem_lidar_m4";
    std::set<std::string> expected = inputs;
    expected.insert({name + ".raw", name + ".txt"});
    fuzz::check(found == expected, "a raster run left " + std::to_string(found.size()) + " files");
    const std::string image = read_file(zone / (name + ".raw"));
    const std::string text = read_file(zone / (name + ".txt"));
    const std::string want = descriptor(c, l, b, ch);
    fuzz::check(text == want, "descriptor:\n" + text + "\nexpected:\n" + want);
    const long long bytes = ch.type == 0 ? 2 : 4;
    fuzz::check(static_cast<long long>(image.size()) == l.rows * l.cols * bytes,
                "an image of " + std::to_string(image.size()) + " bytes for " + std::to_string(l.rows) + " rows and " +
                    std::to_string(l.cols) + " columns");
    const Written w = raster_cells(image, ch, scaled(b.zmin, ch.scale));
    check_cells(l, hit, w);
    // The range the program let through must indeed fit, cells included.
    long long lo = scaled(b.zmin, ch.scale), hi = scaled(b.zmax, ch.scale);
    for (double v : w.values)
        lo = std::min(lo, static_cast<long long>(v)), hi = std::max(hi, static_cast<long long>(v));
    fuzz::check(range_refusal(lo, hi, ch.type).empty(),
                "taken although the cells do not fit: " + range_refusal(lo, hi, ch.type));
    return 0;
}
