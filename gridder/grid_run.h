#pragma once
// One kestranov-grid run after its command line: the points read through
// the program's reading door (once with --bounds, else twice: the extent,
// then the cells), gridded on the lattice, filled once, written complete or
// not at all. Failures throw: kestranov::Fatal from the door and the
// writers, InputError, CrsError or models::ModelError from the command's own
// steps; the caller tells them in one line.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/point_filter.h"
#include "gridder/door_reading.h"
#include "gridder/grid_options.h"
#include "gridder/tin_band.h"

namespace kestranov::gridder {

struct GridReport {
    std::size_t files = 0;
    long long read = 0;  // every record of every file
    FilterTally tally;   // of the last reading
    long long cols = 0, rows = 0;
    double west = 0, south = 0, east = 0, north = 0;
    long long with_points = 0, filled = 0, nodata = 0;
    long long gridded = 0;          // points that fell in the grid's cells (not its ring)
    CrsChoice system;               // the grid's coordinate system, and the files without one
    std::string removed;            // a .prj of an older grid, taken away
    std::optional<TinFigures> tin;  // with --output-type tin
};

// `progress`: where progress goes (null: nowhere).
GridReport make_grid(const GridOptions& options, const std::vector<std::string>& files, std::ostream* progress);

// The summary lines of a run, for standard output.
std::string summary(const GridOptions& options, const GridReport& report);
// Its line of the cells: with points, filled and nodata, and the nodata
// value where the grid has one (the console's model has none).
std::string cells_line(const GridReport& report, std::optional<double> nodata_value);

}  // namespace kestranov::gridder
