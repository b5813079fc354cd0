#include "gridder/grid_run.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "core/fatal.h"
#include "core/megabytes.h"
#include "core/shortest_text.h"
#include "export/band_cells.h"
#include "grid/lattice.h"
#include "grid/lattice_grid.h"
#include "gridder/door_reading.h"
#include "gridder/gdal_preload.h"
#include "gridder/grid_output.h"
#include "gridder/lattice_or_error.h"
#include "gridder/point_inputs.h"
#include "gridder/progress.h"
#include "gridder/tin_band.h"
#include "platform/memory.h"
#include "points/extent_tally.h"
#include "points/point_reader.h"
#include "points/two_readings.h"

namespace kestranov::gridder {
namespace {

// A cell whose value is the nodata value would read as empty in every GIS
// (-0 as well as 0): the run stops rather than lose it. Every statistic's
// raster is checked, count's zeros too. For a GeoTIFF, the same reading of
// each row gathers what its encoder checks of every band (the nodata value
// as the file stores it, the values beyond a Float32), returned by band:
// the encoder then need not read the rasters once more.
std::vector<exporter::BandCells> refuse_nodata_clash(const LatticeGrid& grid, const GridOptions& o)
{
    const Lattice& l = grid.lattice();
    const double nodata = o.nodata;
    const std::vector<Statistic>& statistics = grid.statistics();
    const bool geotiff = o.kind == OutputKind::geotiff;
    std::vector<exporter::BandCells> gathered;
    for (std::size_t k = 0; k < statistics.size(); ++k) {
        // The cells equal to the nodata value are those a Float64 file would
        // clash on; a Float32 GeoTIFF's encoder also wants its own.
        exporter::BandScan exact(nodata, true), stored(nodata, false);
        for (std::int64_t r = 0; r < l.rows; ++r) {
            const double* row = grid.row(k, r);
            const auto cols = static_cast<std::size_t>(l.cols);
            exact.see_row(row, static_cast<std::size_t>(r), cols);
            if (const auto& clash = exact.cells().clash)
                throw InputError("the cell of row " + std::to_string(clash->row) + ", column " +
                                 std::to_string(clash->col) + " from the north-west holds " + shortest(clash->value) +
                                 (statistics.size() > 1 ? std::string(" (") + name_of(statistics[k]) + ")" : "") +
                                 ", the nodata value: --nodata must be another value");
            // While the row is in the cache.
            if (geotiff && !o.float64 && !stored.done()) stored.see_row(row, static_cast<std::size_t>(r), cols);
        }
        if (geotiff) gathered.push_back(o.float64 ? exact.cells() : stored.cells());
    }
    return gathered;
}

// The address space in use, from /proc/self/status (VmSize, in kB).
std::uint64_t address_space_used()
{
    std::ifstream f("/proc/self/status");
    for (std::string key; f >> key;) {
        if (key == "VmSize:") {
            std::uint64_t kib = 0;
            return f >> kib ? kib * 1024 : 0;
        }
        f.ignore(1 << 10, '\n');
    }
    return 0;
}

// A limit on the process's address space (ulimit -v), which the machine's
// and the control groups' memory (platform/memory.h) do not show: past it
// an allocation fails, or a library cannot be loaded, however much memory
// is free. The grid, the TIN's vertices (up to `vertices`, when known), the
// reading's buffers and threads, and a GeoTIFF's encoding (GDAL's copy of
// the cells, the file in memory, its bytes handed back: some three times
// its cells) must fit in what is left. "" when they do, or when there is
// no limit.
std::string beyond_address_space_limit(const GridOptions& o, const Lattice& l, std::optional<std::uint64_t> vertices)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return "";
    constexpr double reading = 128e6;
    const std::vector<Statistic> statistics = statistics_written(o) ? statistics_of(o) : std::vector<Statistic>{};
    const double cells = static_cast<double>(l.cols) * static_cast<double>(l.rows);
    const double grid =
        (statistics.empty() ? 0 : LatticeGrid::bytes_of(l, statistics)) + (o.tin_band ? tin_band_bytes(l) : 0);
    const double tin =
        o.tin_band && vertices ? static_cast<double>(*vertices) * static_cast<double>(tin_bytes_per_vertex) : 0;
    const double bands = static_cast<double>(statistics.size() + (o.tin_band ? 1 : 0));
    const double tiff = o.kind == OutputKind::geotiff ? 3 * cells * bands * (o.float64 ? 8 : 4) : 0;
    const double left = static_cast<double>(limit.rlim_cur) - static_cast<double>(address_space_used());
    if (grid + tin + tiff + reading <= left) return "";
    return "a grid of " + std::to_string(l.cols) + " columns and " + std::to_string(l.rows) + " rows needs " +
           megabytes_up(grid + tin + tiff + reading) + " MB of address space (" + megabytes_up(grid) + " MB of cells" +
           (tin > 0 ? ", " + megabytes_up(tin) + " MB for the TIN of up to " + std::to_string(*vertices) + " vertices"
                    : "") +
           (tiff > 0 ? ", " + megabytes_up(tiff) + " MB to encode the GeoTIFF" : "") + ", " + megabytes_up(reading) +
           " MB to read), and " + megabytes_down(std::max(left, 0.0)) +
           " MB are left under the limit on virtual memory (ulimit -v) of " +
           megabytes_down(static_cast<double>(limit.rlim_cur)) + " MB";
}

// What the TIN's vertices and triangulation may take once the grid is
// allocated: the memory available and what is left under a limit on
// virtual memory, less the TIN band's values and the encoding's room.
TinRoom tin_room(const GridOptions& o, const Lattice& l)
{
    const double cells = static_cast<double>(l.cols) * static_cast<double>(l.rows);
    const double kept =
        tin_band_bytes(l) + (o.kind == OutputKind::geotiff ? 3 * cells * (o.float64 ? 8 : 4) : 0) + 128e6;
    double room = static_cast<double>(available_memory_bytes());
    if (room == 0) room = 1e300;  // not known: not checked, as for the grid
    TinRoom made;
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const double left = static_cast<double>(limit.rlim_cur) - static_cast<double>(address_space_used());
        if (left < room) room = left, made.address_limit = limit.rlim_cur;
    }
    made.bytes = room - kept <= 0 ? 0 : static_cast<std::uint64_t>(std::min(room - kept, 1.8e19));
    return made;
}

// The statistics' grid, allocated, into `grid`; or, for a tin band alone,
// none: its cells come from the triangulation, and a raster of the points'
// cells would hold 8 bytes a cell that no band reads. Returns why the
// memory does not suffice, or "".
std::string grid_within_memory(const GridOptions& o, const Lattice& l, std::optional<std::uint64_t> vertices,
                               std::optional<LatticeGrid>& grid)
{
    if (std::string beyond = beyond_address_space_limit(o, l, vertices); !beyond.empty()) return beyond;
    if (statistics_written(o)) {
        LatticeGridResult made = make_lattice_grid(l, o.keep, available_memory_bytes(), std::nullopt, statistics_of(o));
        grid = std::move(made.grid);
        return made.error;
    }
    const std::uint64_t available = available_memory_bytes();
    const double band = tin_band_bytes(l);
    if (available != 0 && band > static_cast<double>(available))
        return "a grid of " + std::to_string(l.cols) + " columns and " + std::to_string(l.rows) + " rows needs " +
               megabytes_up(band) + " MB of memory, and " + megabytes_down(static_cast<double>(available)) +
               " MB are available";
    return "";
}

Lattice snapped(const GridOptions& o, const ExtentTally& e)
{
    if (!e.any())
        throw InputError(o.filter.active() ? "no point passes the filters: nothing to grid (give --bounds for an "
                                             "empty grid)"
                                           : "the point files hold no point: nothing to grid");
    return lattice_or_error(
        lattice_snapped(e.extents().Xmin, e.extents().Ymin, e.extents().Xmax, e.extents().Ymax, o.cell));
}

// The lattice --bounds (and --window) give, without reading a point.
Lattice lattice_given(const GridOptions& o)
{
    const auto& b = *o.bounds;
    const Lattice whole = lattice_or_error(lattice_from_bounds(b[0], b[1], b[2], b[3], o.cell));
    if (!o.window) return whole;
    const auto& w = *o.window;
    return lattice_or_error(lattice_window(whole, w[0], w[1], w[2], w[3]));
}

// The statistics' cells once every point is in: summed, filled once,
// told, and checked against the nodata value and --gaps fail. Returns what
// the check gathered for a GeoTIFF's encoder.
std::vector<exporter::BandCells> settle_statistics(const GridOptions& o, LatticeGrid& grid, GridReport& report)
{
    const Lattice& l = grid.lattice();
    grid.settle(reading_of(o).threads);
    report.with_points = l.cols * l.rows - grid.empty_cells();
    report.gridded = grid.counts().gridded;
    report.filled = o.fill ? grid.fill_once() : 0;
    report.nodata = grid.empty_cells();
    std::vector<exporter::BandCells> gathered = refuse_nodata_clash(grid, o);
    if (o.gaps_fail && report.nodata > 0)
        throw InputError(std::to_string(report.nodata) + " of " + std::to_string(l.cols * l.rows) +
                         " cells hold no value" + (o.fill ? " after the fill" : "") +
                         " (--gaps fail): nothing written to " + o.output);
    return gathered;
}

}  // namespace

GridReport make_grid(const GridOptions& o, const std::vector<std::string>& paths, std::ostream* progress_to)
{
    GridReport report;
    report.files = paths.size();
    refuse_filtered_text(o.filter, paths);
    // GDAL's module, when the run will need it, is in before the long
    // reading: missing, or past a memory limit, it fails before it, and the
    // grid's memory check counts the room it takes.
    GdalPreload module(
        o.kind == OutputKind::geotiff ||
            std::any_of(paths.begin(), paths.end(), [](const std::string& p) { return !is_text_point_file(p); }),
        reading_of(o).threads);
    const PointFiles door = door_files(paths, reading_of(o));
    Progress progress(progress_to);
    SeenFiles seen;
    // The two readings (points/two_readings.h): the files' systems are
    // known after the first, and a clash ends the run before the long one.
    std::optional<CrsChoice> crs;
    Lattice l;
    if (o.bounds) l = lattice_given(o);
    std::optional<LatticeGrid> grid;  // none for a tin band alone
    DoorProgress shown(progress, door);
    ReadingSteps steps;
    steps.range_known = o.bounds.has_value();
    steps.events = [&](ReadingStep step) -> ReadingEvents& {
        const bool first = step == ReadingStep::first || step == ReadingStep::first_again;
        progress.clear();
        progress.pass(first || o.bounds ? 1 : 2, o.bounds ? 1 : 2);
        shown = DoorProgress(progress, door);
        return shown;
    };
    steps.range_read = [&](const ExtentReading& found, ReadingStep) {
        report.read = found.records;
        progress.clear();
        l = snapped(o, found.range);
        if (!crs) crs = choose_crs(o, seen);
    };
    steps.make_grid = [&](bool from_headers) {
        module.ready();
        grid.reset();                    // a grid made before goes first
        std::string error = "not made";  // the headers' range, past what the records can fill
        if (!from_headers || fits_the_records(static_cast<double>(l.cols) * static_cast<double>(l.rows), seen))
            error = grid_within_memory(o, l, tin_vertex_bound(seen), grid);
        // Every refusal here is of memory, which smaller tiles need less of.
        if (!error.empty() && !from_headers) throw InputError(error + ": grid it in tiles (--tile-size)");
        return error.empty();
    };
    std::optional<TinVertices> tin;
    steps.read_into_grid = [&](ReadingEvents& events, ExtentTally* gathered) {
        // Read again over another range: the vertices start over too.
        tin.reset();
        if (o.tin_band) tin.emplace(l, tin_reach(o, l), tin_room(o, l), tin_vertex_bound(seen));
        const PointSink add = [&](const Point* p, std::size_t n) {
            if (grid) grid->add(p, n);
            if (tin) tin->add(p, n);
            if (gathered) gathered->add(p, n);
        };
        report.read = read_all(events, door, seen, Wanted::points, add);
        progress.clear();
        return headers_held(seen);
    };
    steps.range_gathered = [&](const ExtentTally& gathered) { l = snapped(o, gathered); };
    read_twice(door, seen, steps);
    if (!crs) crs = choose_crs(o, seen);
    report.system = *crs;
    for (const SeenFile& f : seen) {
        report.tally.class_passed += f.tally.class_passed;
        report.tally.return_passed += f.tally.return_passed;
        report.tally.kept += f.tally.kept;
    }
    report.cols = l.cols, report.rows = l.rows;
    report.west = l.xmin, report.south = l.ymin, report.east = l.xmax, report.north = l.ymax;
    std::vector<exporter::BandCells> gathered;
    if (grid)
        gathered = settle_statistics(o, *grid, report);
    else if (tin)
        report.gridded = tin->gridded();  // no statistic's grid counted them
    TinBand band;
    if (tin) {
        band = std::move(*tin).sample(o.keep, o.max_edge.value_or(HUGE_VAL), o.nodata, reading_of(o).threads);
        report.tin = band.figures;
    }
    tin.reset();
    if (o.gaps_fail && report.tin && report.tin->nodata > 0)
        throw InputError(std::to_string(report.tin->nodata) + " of " + std::to_string(l.cols * l.rows) +
                         " cells of the tin band hold no value (--gaps fail): nothing written to " + o.output);
    report.removed = write_lattice_grid(o, l, grid ? &*grid : nullptr, report, inputs_of(seen), band.values, gathered);
    return report;
}

std::string summary(const GridOptions& o, const GridReport& r)
{
    std::ostringstream s;
    s << "read " << r.read << (r.read == 1 ? " point from " : " points from ") << r.files
      << (r.files == 1 ? " file" : " files");
    if (o.filter.active()) {
        s << "; kept " << r.tally.kept;
        if (o.filter.by_class) s << " (class filter passed " << r.tally.class_passed;
        if (o.filter.returns != PointFilter::Returns::any)
            s << (o.filter.by_class ? ", " : " (") << "return filter passed " << r.tally.return_passed;
        s << ")";
    }
    s << "\n";
    const std::optional<Crs>& crs = r.system.crs;
    const std::string unit = crs ? " " + (o.cell == 1 ? crs->unit : crs->units) : "";
    // + 0.0: a corner at -0 is told as 0.
    s << "grid: " << r.cols << " x " << r.rows << " cells of " << shortest(o.cell) << unit << ", west "
      << shortest(r.west + 0.0) << " south " << shortest(r.south + 0.0) << " east " << shortest(r.east + 0.0)
      << " north " << shortest(r.north + 0.0) << "\n";
    // The console's model has no nodata cells: its density check stops the run first.
    if (statistics_written(o)) s << cells_line(r, o.like_console ? std::nullopt : std::optional(o.nodata));
    if (r.tin) s << tin_lines(*r.tin, o.nodata);
    if (crs)
        s << "coordinate system: " << crs->name << (crs->authority.empty() ? "" : " (" + crs->authority + ")")
          << (r.system.typed ? ", from --srs" : ", from the files") << "\n";
    else
        s << "coordinate system: none (" << why_no_crs(r.system) << ")\n";
    const std::vector<std::string>& without = r.system.without_crs;
    if (crs && !r.system.typed && !without.empty())
        s << "note: " << without.size() << (without.size() == 1 ? " file holds" : " files hold")
          << " no coordinate system (the first: " << without.front() << ")\n";
    s << unreadable_note(r.system);
    s << "wrote " << o.output << "\n";
    if (!r.removed.empty())
        s << "removed " << r.removed << (r.removed.find(", ") == std::string::npos ? ": it" : ": they")
          << " held the coordinate system of an older grid\n";
    return s.str();
}

std::string cells_line(const GridReport& r, std::optional<double> nodata_value)
{
    std::string line = "cells: " + std::to_string(r.with_points) + " with points, " + std::to_string(r.filled) +
                       " filled, " + std::to_string(r.nodata) + " nodata";
    if (nodata_value) line += " (" + shortest(*nodata_value) + ")";
    return line + "\n";
}

}  // namespace kestranov::gridder
