#pragma once
// kestranov-grid --tile-size: one lattice for the whole area (the --bounds
// given, or the points' extent snapped as a single run snaps it) cut into
// tiles of T cells from its north-west corner, the last column and row of
// tiles cut at the lattice's edge; and for each tile the input files that
// can hold a point of it or of its one-cell ring (with tin, of its buffer
// and the buffer's ring). No grid is made here.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "grid/lattice.h"
#include "gridder/door_reading.h"
#include "gridder/grid_options.h"

namespace kestranov::gridder {

// An input file and where its points can lie.
struct PlannedFile {
    std::string path;        // absolute
    bool read = false;       // its extent is the plan's reading of its points (else its LAS header's)
    bool has_points = true;  // false: no point of it passes the filters, or its header counts none
    bool bounded = false;    // false: its header's bounds are no numbers; it goes to every tile
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    GridOptions::FileStamp stamp;  // as the plan found it before reading it
};

struct Tile {
    std::int64_t col = 0, row = 0;              // of the tiles, row 0 the north
    std::int64_t first_col = 0, first_row = 0;  // its north-west cell in the lattice, row 0 the north
    std::int64_t cols = 0, rows = 0;
    std::vector<std::size_t> files;  // into TilePlan::files, in the order given
};

struct TilePlan {
    Lattice lattice;              // the whole area's
    std::int64_t tile_cells = 0;  // T / size
    std::int64_t tile_cols = 0, tile_rows = 0;
    std::int64_t reach = 1;  // the cells around a tile whose points its job reads: its ring, or tin's buffer and ring
    std::vector<PlannedFile> files;
    std::vector<Tile> tiles;  // north first, west first
    CrsChoice system;
    std::size_t files_read = 0;  // files whose points the plan read (all without --bounds, else the text ones)
    long long points_read = 0;
};

// The plan of `options` over `paths` (the point files). Without --bounds
// every file is read once for its extent, as a single run's first pass;
// with --bounds only the text files are, the LAS and LAZ files giving their
// header's bounds and coordinate system. Throws as make_grid does.
TilePlan make_tile_plan(const GridOptions& options, const std::vector<std::string>& paths, std::ostream* progress);

// Whether a file of that extent can hold a point of the tile or of the
// plan's reach around it, one cell of margin more against the rounding of
// the corners.
bool reaches(const TilePlan& plan, const PlannedFile& file, const Tile& tile);

}  // namespace kestranov::gridder
