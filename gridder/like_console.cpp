#include "gridder/like_console.h"

#include "core/fatal.h"
#include "core/messages.h"
#include "export/geotiff.h"
#include "grid/assignment.h"
#include "grid/elim_pit.h"
#include "grid/grid_size.h"
#include "gridder/door_reading.h"
#include "gridder/gdal_module.h"
#include "gridder/grid_output.h"
#include "output/asc_writer.h"
#include "platform/memory.h"
#include "points/extent_pass.h"

namespace kestranov::gridder {
namespace {

// The model as a GeoTIFF, placed as its ASCII grid's header places it.
void write_console_geotiff(const GridOptions& o, GridView view, const Extents& e, const GridReport& report,
                           const std::vector<KeptFile>& inputs)
{
    models::ElevationGrid frame;
    frame.rows = static_cast<std::size_t>(view.nb_lig), frame.cols = static_cast<std::size_t>(view.nb_col);
    frame.cellsize = o.cell, frame.xll = e.Xmin, frame.yll = e.Ymin;
    exporter::GeoTiffBand band;
    band.float64 = o.float64, band.program = "kestranov-grid";
    if (const auto& crs = report.system.crs) band.srs_wkt = crs->wkt, band.unit = crs->unit_code;
    const exporter::GridRows rows = [&view](std::size_t r) -> const double* { return view.dtab[r]; };
    write_bytes(o.output, gdal().encode_geotiff(frame, rows, band, o.output), inputs);
}

}  // namespace

GridReport console_grid(const GridOptions& o, const std::vector<std::string>& paths)
{
    GridReport report;
    report.files = paths.size();
    const PointFiles door = door_files(paths, reading_of(o));
    ReadingEvents unwatched;
    SeenFiles seen;
    const ExtentReading found = extent_pass(unwatched, door, seen);
    if (!found.range.any()) fail(no_point_at_all());
    const Extents e = found.range.extents();
    const GridSize size = size_grid(e, o.cell, available_memory_bytes());
    const CellGrids grids = allocate_grids(size, o.cell);
    const GridView view{grids.dtab.rows(), grids.tab_util.rows(), size.nb_lig, size.nb_col};
    // The console keeps the highest point of a cell for the first return
    // (its answer 0) and the lowest for the last.
    assignment_pass(unwatched, door, seen, e, o.cell, o.keep == Keep::highest ? 0 : 1, view);
    report.with_points = size.nb_lig * static_cast<long long>(size.nb_col) - count_pits(view);
    if (count_pits(view) > 0) elim_pit(view);
    check_density(view, o.cell);
    report.filled = size.nb_lig * static_cast<long long>(size.nb_col) - report.with_points;
    report.read = 0;
    for (const SeenFile& f : seen) report.read += f.records.value_or(0);
    report.cols = size.nb_col, report.rows = size.nb_lig;
    report.west = e.Xmin, report.south = e.Ymin;
    report.east = e.Xmin + size.nb_col * o.cell, report.north = e.Ymin + size.nb_lig * o.cell;
    report.system = choose_crs(o, seen);

    const std::vector<KeptFile> inputs = inputs_of(seen);
    if (o.kind == OutputKind::ascii_grid)
        write_asc({o.output, o.output, &inputs}, view, e, o.cell);
    else
        write_console_geotiff(o, view, e, report, inputs);
    return report;
}

}  // namespace kestranov::gridder
