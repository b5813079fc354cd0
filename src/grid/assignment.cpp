#include "grid/assignment.h"

#include <bit>
#include <cstdint>
#include <optional>

#include "core/fatal.h"
#include "core/messages.h"
#include "grid/cell_batch.h"
#include "grid/cell_position.h"
#include "grid/keep_rule.h"
#include "platform/cpu_features.h"
#include "points/point_reader.h"
#include "points/read_error.h"
#include "points/reading_events.h"

namespace kestranov {

namespace {

// A point outside the extents of the first reading can only come from a file
// that changed between the two readings (still being copied or exported).
// Its cell would lie outside the grid; the run stops instead.
// An elevation beyond them would make the descriptor's range (from the first
// reading) disagree with the cells.
[[noreturn]] void changed_file(const std::string& path, const Point& p, const Extents& e)
{
    const bool inside = p.x >= e.Xmin && p.x <= e.Xmax && p.y >= e.Ymin && p.y <= e.Ymax;
    throw ReadError{
        .fault = ReadFault::point_outside_first_extents, .path = path, .x = p.x, .y = p.y, .z = p.z, .with_z = inside};
}

// An empty cell holds this quiet NaN while the points are assigned, so that
// the update reads and writes one grid instead of dtab and tab_util both:
// with points in random order each grid costs a cache miss per point. No
// point brings a NaN (the text reader refuses nan and inf, LAS coordinates
// are finite), and the payload keeps it apart from any NaN arithmetic could
// make; it is recognised by its bits, never by isnan.
constexpr std::uint64_t empty_bits = 0x7ff8'e3b7'0000'5a1dULL;

// The rows and columns the points can reach: those of the model and the
// spare ones beyond them, where the points on the southern and eastern edges
// fall.
template <class Cell>
void for_every_cell(GridView grid, Cell&& cell)
{
    const auto cols = static_cast<std::size_t>(grid.nb_col) + 2;
    for (int i = 0; i < grid.nb_lig + 2; ++i)
        for (std::size_t j = 0; j < cols; ++j) cell(grid.dtab[i][j], grid.tab_util[i][j]);
}

void mark_empty(GridView grid)
{
    const double empty = std::bit_cast<double>(empty_bits);
    for_every_cell(grid, [empty](double& z, unsigned char&) { z = empty; });
}

// What the pit filling, the writers and the tests read: the flags in
// tab_util and 0.0 in every empty cell. One sequential pass, after the
// random ones.
void occupancy_from_marks(GridView grid)
{
    for_every_cell(grid, [](double& z, unsigned char& flag) {
        const bool empty = std::bit_cast<std::uint64_t>(z) == empty_bits;
        flag = empty ? cell_empty : cell_hit;
        if (empty) z = 0.0;
    });
}

// Points of a batch land all over the grid when the files are not in scan
// order; every cell visit is then a cache miss. The batch is therefore
// placed first, with its cells fetched ahead, and the updates applied
// afterwards in file order. The result does not depend on the order anyway;
// only ties matter and they change nothing.
// `held_to_header`: a point beyond the extents is left out, not a change.
template <bool keep_highest, bool exact>
void assign(VectorPath vector, const Extents& e, double pix, double inverse, double* const* dtab,
            const std::string& path, bool held_to_header, const Point* pts, std::size_t n)
{
    double* cell[point_batch];
    double beyond_grid = 0.0;  // where a point a header's wrong bounds left out goes, unread
    const double Xmin = e.Xmin, Xmax = e.Xmax, Ymin = e.Ymin, Ymax = e.Ymax, Zmin = e.Zmin, Zmax = e.Zmax;
    // Eight at a time where the processor can; the rest, and a point
    // outside the extents, one by one.
    const std::size_t placed = exact ? place_exact_vector(vector, pts, n, e, inverse, dtab, cell) : 0;
    for (std::size_t k = placed; k < n; ++k) {
        const Point& p = pts[k];
        // One test for the six: every point passes them but in a changed file.
        const bool inside =
            (p.x >= Xmin) & (p.x <= Xmax) & (p.y >= Ymin) & (p.y <= Ymax) & (p.z >= Zmin) & (p.z <= Zmax);
        if (!inside) {
            if (!held_to_header) changed_file(path, p, e);
            cell[k] = &beyond_grid;
            continue;
        }
        const int i = exact ? exact_cell(p.y, Ymax, inverse) : row_of(p.y, Ymax, pix);
        const int j = exact ? exact_cell(Xmin, p.x, inverse) : column_of(p.x, Xmin, pix);
        cell[k] = dtab[i] + j;
        __builtin_prefetch(cell[k], 1);
    }
    // The rule of grid/keep_rule.h; an empty cell is told by the marker's
    // bits (compared with the marker's NaN the point would never win).
    for (std::size_t k = 0; k < n; ++k) {
        const double value = *cell[k];
        *cell[k] = kept_elevation<keep_highest>(value, std::bit_cast<std::uint64_t>(value) == empty_bits, pts[k].z);
    }
}

}  // namespace

bool assignment_pass(ReadingEvents& events, const PointFiles& files, const SeenFiles& seen, const Extents& e,
                     double pix_size, int retorno, GridView grid, ExtentTally* gathered)
{
    mark_empty(grid);
    bool headers_held = true;
    const VectorPath vector = vector_path(files.seams.path);
    for (int m = 0; m < files.count(); ++m) {
        const auto k = static_cast<std::size_t>(m);
        SeenFile file = k < seen.size() ? seen[k] : SeenFile{};
        const std::string& path = file.path;  // set by the reading before the first point
        const bool held = file.first.header_bounds.has_value();
        const ExactCells rule = exact_cells(e.Xmin, e.Xmax, e.Ymin, e.Ymax, pix_size);
        const double inv = rule.inverse;
        PointSink sink;
        if (rule.exact)
            sink = retorno == 0 ? PointSink([&](const Point* p, std::size_t n) {
                assign<true, true>(vector, e, pix_size, inv, grid.dtab, path, held, p, n);
            })
                                : PointSink([&](const Point* p, std::size_t n) {
                                      assign<false, true>(vector, e, pix_size, inv, grid.dtab, path, held, p, n);
                                  });
        else
            sink = retorno == 0 ? PointSink([&](const Point* p, std::size_t n) {
                assign<true, false>(vector, e, pix_size, inv, grid.dtab, path, held, p, n);
            })
                                : PointSink([&](const Point* p, std::size_t n) {
                                      assign<false, false>(vector, e, pix_size, inv, grid.dtab, path, held, p, n);
                                  });
        if (gathered) {
            sink = [&, assign = std::move(sink)](const Point* p, std::size_t n) {
                gathered->add(p, n);
                assign(p, n);
            };
        }
        read_point_file(events, files, m, sink, file);
        if (held && !file.first.header_bounds->held) headers_held = false;
    }
    occupancy_from_marks(grid);
    return headers_held;
}

}  // namespace kestranov
