#pragma once
// kestranov-grid's command line, read whole before anything is opened: a
// malformed line is a usage error (status 2), told in one line.

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/point_filter.h"
#include "grid/lattice_grid.h"
#include "models/argument_scanner.h"

namespace kestranov::gridder {

enum class OutputKind { geotiff, ascii_grid };

struct GridOptions {
    double cell = 0;
    Keep keep = Keep::highest;
    // --output-type: the statistics, one raster each in this order; none
    // given: the one --keep says (max, or min with --keep lowest), as a
    // band without a description.
    std::vector<Statistic> statistics;
    // --output-type's tin: the TIN of the points, its band at this place
    // among the statistics' (gridder/tin_band.h).
    std::optional<std::size_t> tin_band;
    std::optional<double> max_edge;  // --max-edge: a TIN cell whose triangle has a longer edge is nodata
    // --buffer B: a tile's TIN takes the points of B cells around it too
    // (with tin and tiles; set then to its default when not given).
    std::optional<std::int64_t> buffer;
    PointFilter filter;
    std::optional<std::array<double, 4>> bounds;  // XMIN YMIN XMAX YMAX, as typed
    // --window COL ROW COLS ROWS: a tile of the bounds' lattice (row 0 the north).
    std::optional<std::array<std::int64_t, 4>> window;
    std::optional<double> tile_size;  // --tile-size: a plan of tiles in the folder `output`, no grid
    // --job N/M: this run is tile N of a plan's M, as the plan's jobs.txt
    // runs it: one line for the runner's log, and a record for --mosaic.
    struct Job {
        long number = 0, of = 0;
    };
    std::optional<Job> job;
    // --plan ID, --stamps SIZE:NS,...: in a job, its plan's identity (for
    // the tile's record) and what the plan saw of each of its files.
    std::optional<std::string> plan;
    struct FileStamp {
        std::uint64_t size = 0;
        long long mtime_ns = 0;
    };
    std::vector<FileStamp> stamps;
    bool overwrite = false;             // --overwrite: a plan replaces the folder's plan and its tiles
    std::optional<std::string> mosaic;  // --mosaic FOLDER: a plan's last step, no grid
    bool fill = true;                   // --fill once
    bool gaps_fail = false;             // --gaps fail
    double nodata = -9999;
    std::optional<std::string> srs;  // overrides the files' coordinate system
    int threads = 0;                 // 0: every core
    bool float64 = false;            // --type float64
    bool quiet = false;
    bool like_console = false;
    bool skip_unreadable = false;  // a folder's files that cannot be read are left out, and told
    bool force = false;            // --force: a plan of more tiles than max_plan_tiles
    bool help = false, version = false;
    std::vector<std::string> inputs;
    std::string output;
    OutputKind kind = OutputKind::geotiff;
};

// The companions' usage error: one type for every program's command line.
using UsageError = models::UsageError;

// The statistics a run writes: --output-type's, or --keep's one.
std::vector<Statistic> statistics_of(const GridOptions& options);
// Their names as --output-type takes them: "mean,count".
std::string statistic_list(const std::vector<Statistic>& statistics);
// The bands' names in their order, tin's among them: "min,tin".
std::vector<std::string> band_names(const GridOptions& options);
std::string band_list(const GridOptions& options);
// Whether the statistics' bands are written: not with tin alone.
inline bool statistics_written(const GridOptions& o) { return !o.tin_band || !o.statistics.empty(); }

// More tiles than this in one plan is more likely a --tile-size typed in
// the wrong unit than a wish: --force makes the plan all the same.
constexpr std::int64_t max_plan_tiles = 100000;

// Throws UsageError when a plan of `cols` x `rows` tiles is more than
// max_plan_tiles without --force.
void refuse_too_many_tiles(const GridOptions& options, std::int64_t cols, std::int64_t rows);

// `args` without the program's name.
GridOptions parse_grid_arguments(const std::vector<std::string>& args);

std::string grid_usage();

}  // namespace kestranov::gridder
