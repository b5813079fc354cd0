#pragma once
// The `tin` band of kestranov-grid: the points kept in the grid and its
// ring, triangulated (tin/delaunay.h) and read at every cell's centre
// (tin/sampling.h). Points sharing X and Y are one vertex, whose Z --keep
// chooses; a cell outside the points' convex hull, or (with --max-edge)
// whose triangle has a longer edge, is nodata. The band does not depend on
// the order of the points: the triangulation does not, and the vertices
// are collected without any rule that would.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "grid/lattice.h"
#include "grid/lattice_grid.h"
#include "gridder/grid_options.h"
#include "points/point_reader.h"
#include "points/record_batch.h"
#include "tin/vertex.h"

namespace kestranov::gridder {

// A vertex as collected (tin/vertex.h), and the most the triangulation
// holds for each at once (its insertion order, triangles and their
// neighbours, as measured on the core's worst inputs).
constexpr std::uint64_t tin_vertex_bytes = sizeof(tin::Vertex);
constexpr std::uint64_t tin_triangulation_bytes = 72;
constexpr std::uint64_t tin_bytes_per_vertex = tin_vertex_bytes + tin_triangulation_bytes;

// The band's values: a double a cell of the grid, not of its ring.
inline double tin_band_bytes(const Lattice& l)
{
    return static_cast<double>(sizeof(double)) * static_cast<double>(l.cols) * static_cast<double>(l.rows);
}

// What the summary tells of the band.
struct TinFigures {
    long long with_value = 0, nodata = 0;
    std::string note;  // why every cell is nodata, when the points span no triangle
};

// The cell values, row by row from the north (NaN: nodata).
struct TinBand {
    std::vector<double> values;
    TinFigures figures;
};

// The LAS and LAZ headers' record counts and the text files' kept points of
// a first reading: no more vertices than that can come. Empty without a
// first reading.
std::optional<std::uint64_t> tin_vertex_bound(const SeenFiles& seen);

// The lattices a point must fall in (their cells or ring) to be a vertex
// of the TIN of `cells`: that lattice; for a tile (--window), its buffer
// of --buffer cells around it instead, within the whole lattice and its
// ring, as the uncut grid would take them.
std::vector<Lattice> tin_reach(const GridOptions& options, const Lattice& cells);

// The bytes the vertices and the triangulation may take, and the limit on
// virtual memory (ulimit -v) when that, not the memory available, is what
// bounds them (0 otherwise): a refusal names the bound the user can raise.
struct TinRoom {
    std::uint64_t bytes = 0;
    std::uint64_t address_limit = 0;
};

// The vertices of one reading, for the cells of `lattice`, from the points
// in every lattice of `reach`. More than `room` is refused (InputError)
// before it is allocated, from `bound` at once, else as the vertices come.
class TinVertices {
public:
    TinVertices(const Lattice& lattice, std::vector<Lattice> reach, TinRoom room, std::optional<std::uint64_t> bound);

    // The points of a batch that fall in the grid or its ring, a NaN
    // elevation left out as the statistics leave it.
    void add(const Point* points, std::size_t count);
    std::size_t size() const { return vertices_.size(); }
    // The points added that fell in the cells of the lattice (not its ring
    // nor a tile's buffer), as the statistics' grid counts them.
    long long gridded() const { return gridded_; }

    // The band: the vertices triangulated (taken over) and sampled, on up
    // to two `threads`; `max_edge` infinite for no limit. Throws InputError
    // for coordinates the triangulation cannot take and for a value equal
    // to `nodata`.
    TinBand sample(Keep keep, double max_edge, double nodata, int threads) &&;

private:
    void reserve(std::uint64_t count);
    void grow();

    Lattice lattice_;
    std::vector<Lattice> reach_;
    TinRoom room_;
    std::vector<tin::Vertex> vertices_;
    long long gridded_ = 0;
};

// The summary's line of the band, and its note when it has one.
std::string tin_lines(const TinFigures& figures, double nodata);

}  // namespace kestranov::gridder
