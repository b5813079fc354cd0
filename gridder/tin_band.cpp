#include "gridder/tin_band.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "core/megabytes.h"
#include "core/shortest_text.h"
#include "gridder/point_inputs.h"
#include "platform/memory.h"
#include "tin/delaunay.h"
#include "tin/sampling.h"

namespace kestranov::gridder {
namespace {

[[noreturn]] void refuse_memory(const std::string& vertices, std::uint64_t count, const TinRoom& room)
{
    const std::string left = room.address_limit == 0
                                 ? " MB are available"
                                 : " MB are left under the limit on virtual memory (ulimit -v) of " +
                                       megabytes_down(static_cast<double>(room.address_limit)) + " MB";
    throw InputError("the TIN of " + vertices + " " + std::to_string(count) + " vertices needs " +
                     megabytes_up(static_cast<double>(count) * static_cast<double>(tin_bytes_per_vertex)) + " MB (" +
                     std::to_string(tin_bytes_per_vertex) + " bytes a vertex), and " +
                     megabytes_down(static_cast<double>(room.bytes)) + left + ": grid it in tiles (--tile-size)");
}

// Why the points span no triangle: too few distinct positions, or a line.
std::string no_triangle_note(std::vector<tin::Vertex> vertices)
{
    std::sort(vertices.begin(), vertices.end(),
              [](const tin::Vertex& a, const tin::Vertex& b) { return tin::lexicographically_before(a.xy(), b.xy()); });
    const auto distinct =
        std::unique(vertices.begin(), vertices.end(),
                    [](const tin::Vertex& a, const tin::Vertex& b) { return a.x == b.x && a.y == b.y; }) -
        vertices.begin();
    const bool one = vertices.size() == 1;
    const std::string why =
        distinct >= 3 ? "are all on one line"
                      : (one ? "holds " : "hold ") + std::to_string(distinct) + " distinct (X, Y), fewer than 3";
    return "the tin band is all nodata: its " + std::to_string(vertices.size()) + (one ? " point " : " points ") + why +
           (one ? ", and spans no triangle" : ", and span no triangle");
}

}  // namespace

std::optional<std::uint64_t> tin_vertex_bound(const SeenFiles& seen)
{
    if (seen.empty()) return std::nullopt;
    std::uint64_t bound = 0;
    for (std::size_t m = 0; m < seen.size(); ++m) {
        const FirstReading& f = seen[m].first;
        // A LAZ file whose extent came from its header had no point decoded:
        // its record count is all there is to go by.
        bound += f.header_bounds && f.las ? f.las->count : static_cast<std::uint64_t>(seen[m].tally.kept);
    }
    return bound;
}

std::vector<Lattice> tin_reach(const GridOptions& o, const Lattice& cells)
{
    if (!o.window || !o.buffer || !cells.within || !o.bounds) return {cells};
    const auto& b = *o.bounds;
    const LatticeResult whole = lattice_from_bounds(b[0], b[1], b[2], b[3], o.cell);
    Lattice buffered = cells;
    buffered.within->col -= *o.buffer, buffered.within->row -= *o.buffer;
    buffered.cols += 2 * *o.buffer, buffered.rows += 2 * *o.buffer;
    return {buffered, whole.lattice};
}

TinVertices::TinVertices(const Lattice& lattice, std::vector<Lattice> reach, TinRoom room,
                         std::optional<std::uint64_t> bound)
    : lattice_(lattice), reach_(std::move(reach)), room_(room)
{
    if (bound && *bound > room_.bytes / tin_bytes_per_vertex) refuse_memory("up to", *bound, room_);
    // Room for every vertex that can come, at once: no copy as they come,
    // and pages only touched by the vertices written.
    if (bound) reserve(*bound);
}

void TinVertices::reserve(std::uint64_t count)
{
    vertices_.reserve(static_cast<std::size_t>(count));
    prefer_large_pages(vertices_.data(), vertices_.capacity() * sizeof(tin::Vertex));
}

void TinVertices::grow()
{
    const std::uint64_t most = room_.bytes / tin_bytes_per_vertex;
    if (vertices_.size() >= most) refuse_memory("more than", most, room_);
    const std::uint64_t doubled = std::max<std::uint64_t>(4096, 2 * static_cast<std::uint64_t>(vertices_.capacity()));
    reserve(std::min(doubled, most));
}

void TinVertices::add(const Point* points, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        const Point& p = points[k];
        const std::int64_t col = lattice_column(lattice_, p.x), row = lattice_row(lattice_, p.y);
        gridded_ += col >= 0 && col < lattice_.cols && row >= 0 && row < lattice_.rows;
        if (std::isnan(p.z) || !std::all_of(reach_.begin(), reach_.end(), [&p](const Lattice& l) {
                return lattice_column(l, p.x) != beyond_ring && lattice_row(l, p.y) != beyond_ring;
            }))
            continue;
        if (vertices_.size() == vertices_.capacity()) grow();
        // + 0.0: -0 and 0 at one position would otherwise keep whichever came first.
        vertices_.push_back({p.x, p.y, p.z + 0.0});
    }
}

TinBand TinVertices::sample(Keep keep, double max_edge, double nodata, int threads) &&
{
    TinBand band;
    tin::Triangulation t;
    try {
        t = tin::triangulate(std::move(vertices_), keep == Keep::highest ? tin::KeepZ::highest : tin::KeepZ::lowest,
                             threads);
    } catch (const std::invalid_argument&) {
        throw InputError(
            "a point's X or Y is beyond what the TIN takes (0, or a magnitude from 2^-100 to 2^200, "
            "about 7.9e-31 to 1.6e60): grid such points without tin");
    } catch (const std::length_error&) {
        throw InputError("more than " + std::to_string(tin::kMaxPoints) +
                         " points for one TIN: grid it in tiles (--tile-size)");
    }
    // A tile's centres from the whole lattice's corner: the uncut grid's.
    const LatticeOrigin origin = cell_origin(lattice_);
    const tin::CellLattice cells{origin.x,
                                 origin.y,
                                 lattice_.size,
                                 static_cast<std::size_t>(lattice_.rows),
                                 static_cast<std::size_t>(lattice_.cols),
                                 static_cast<std::size_t>(origin.row),
                                 static_cast<std::size_t>(origin.col)};
    if (t.empty()) {
        band.figures.note = no_triangle_note(std::move(t.vertices));
        band.values.assign(cells.rows * cells.columns, std::numeric_limits<double>::quiet_NaN());
    } else {
        band.values = tin::sample(t, cells, max_edge, threads);
    }
    for (std::size_t k = 0; k < band.values.size(); ++k) {
        if (std::isnan(band.values[k])) continue;
        ++band.figures.with_value;
        if (band.values[k] == nodata)
            throw InputError("the cell of row " + std::to_string(k / cells.columns) + ", column " +
                             std::to_string(k % cells.columns) + " from the north-west holds " +
                             shortest(band.values[k]) + " (tin), the nodata value: --nodata must be another value");
    }
    band.figures.nodata = static_cast<long long>(band.values.size()) - band.figures.with_value;
    return band;
}

std::string tin_lines(const TinFigures& f, double nodata)
{
    std::string lines = "tin: " + std::to_string(f.with_value) + " cells with a value, " + std::to_string(f.nodata) +
                        " nodata (" + shortest(nodata) + ")\n";
    if (!f.note.empty()) lines += "note: " + f.note + "\n";
    return lines;
}

}  // namespace kestranov::gridder
