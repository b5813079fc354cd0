#include "gridder/tile_plan.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "core/fatal.h"
#include "gridder/door_reading.h"
#include "gridder/lattice_or_error.h"
#include "gridder/point_inputs.h"
#include "gridder/tile_stamps.h"
#include "platform/input_file.h"
#include "points/extent_tally.h"
#include "points/las_crs.h"
#include "points/las_header.h"
#include "points/point_reader.h"

namespace kestranov::gridder {
namespace {

namespace fs = std::filesystem;

// Every file read once for the range of its points (those the filters
// keep), as the first pass of a single run reads them; `seen` takes what
// their first reading keeps (a LAS file's coordinate system).
long long read_extents(const std::vector<std::string>& paths, const std::vector<std::size_t>& which,
                       std::vector<PlannedFile>& files, const GridOptions& o, SeenFiles& seen,
                       std::ostream* progress_to)
{
    std::vector<std::string> read_paths;
    read_paths.reserve(which.size());
    for (const std::size_t k : which) read_paths.push_back(paths[k]);
    const PointFiles door = door_files(read_paths, reading_of(o));
    Progress progress(progress_to);
    progress.pass(1, 1);
    DoorProgress shown(progress, door);
    long long total = 0;
    for (std::size_t n = 0; n < which.size(); ++n) {
        PlannedFile& f = files[which[n]];
        ExtentTally range;
        const PointSink extend = [&](const Point* p, std::size_t count) { range.add_plane(p, count); };
        total += read_point_file(shown, door, static_cast<int>(n), extend, seen[which[n]], Wanted::extents);
        const Extents& e = range.extents();
        f.read = true, f.has_points = range.any(), f.bounded = true;
        f.xmin = e.Xmin, f.ymin = e.Ymin, f.xmax = e.Xmax, f.ymax = e.Ymax;
    }
    return total;
}

// A LAS or LAZ file's header bounds and coordinate system, without its points.
void read_header(PlannedFile& f, const std::string& path, SeenFile& seen)
{
    InputFile file;
    if (file.open(path, InputFile::Mode::binary) != InputFile::OpenStatus::ok)
        throw InputError(path + ": the file cannot be opened");
    std::optional<LasHeader> first;
    const LasHeader h = read_las_header(file, path, first);
    seen.path = path;
    seen.first.las = h;
    seen.first.crs = read_las_crs(file, h);
    f.has_points = h.count > 0;
    f.xmin = h.min[0], f.ymin = h.min[1], f.xmax = h.max[0], f.ymax = h.max[1];
    f.bounded = std::isfinite(f.xmin) && std::isfinite(f.ymin) && std::isfinite(f.xmax) && std::isfinite(f.ymax) &&
                f.xmin <= f.xmax && f.ymin <= f.ymax;
}

// The smallest rectangle around the files' extents; false when none holds a point.
bool extent_of(const std::vector<PlannedFile>& files, double& xmin, double& ymin, double& xmax, double& ymax)
{
    bool any = false;
    for (const PlannedFile& f : files) {
        if (!f.has_points) continue;
        if (!any) xmin = f.xmin, ymin = f.ymin, xmax = f.xmax, ymax = f.ymax, any = true;
        xmin = std::min(xmin, f.xmin), ymin = std::min(ymin, f.ymin);
        xmax = std::max(xmax, f.xmax), ymax = std::max(ymax, f.ymax);
    }
    return any;
}

Lattice whole_lattice(const GridOptions& o, const std::vector<PlannedFile>& files)
{
    if (o.bounds) {
        const auto& b = *o.bounds;
        return lattice_or_error(lattice_from_bounds(b[0], b[1], b[2], b[3], o.cell));
    }
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    if (!extent_of(files, xmin, ymin, xmax, ymax))
        throw InputError(o.filter.active() ? "no point passes the filters: nothing to plan (give --bounds for an "
                                             "empty grid)"
                                           : "the point files hold no point: nothing to plan");
    const Lattice l = lattice_or_error(lattice_snapped(xmin, ymin, xmax, ymax, o.cell));
    // The jobs name this lattice by its corners, as --bounds: they must find it again.
    const LatticeResult typed = lattice_from_bounds(l.xmin, l.ymin, l.xmax, l.ymax, l.size);
    if (!typed.error.empty() || typed.lattice.cols != l.cols || typed.lattice.rows != l.rows)
        throw InputError("the snapped extent cannot be told to the tiles as --bounds: give --bounds");
    return l;
}

std::vector<Tile> cut(const TilePlan& plan)
{
    std::vector<Tile> tiles;
    const Lattice& l = plan.lattice;
    for (std::int64_t r = 0; r < plan.tile_rows; ++r)
        for (std::int64_t c = 0; c < plan.tile_cols; ++c) {
            Tile t;
            t.col = c, t.row = r;
            t.first_col = c * plan.tile_cells, t.first_row = r * plan.tile_cells;
            t.cols = std::min(plan.tile_cells, l.cols - t.first_col);
            t.rows = std::min(plan.tile_cells, l.rows - t.first_row);
            for (std::size_t k = 0; k < plan.files.size(); ++k)
                if (reaches(plan, plan.files[k], t)) t.files.push_back(k);
            tiles.push_back(t);
        }
    return tiles;
}

}  // namespace

bool reaches(const TilePlan& plan, const PlannedFile& f, const Tile& t)
{
    if (!f.has_points) return false;
    if (!f.bounded) return true;
    // One cell more than the reach keeps the decision clear of the
    // rounding of these corners (the cells themselves are decided exactly
    // by the job).
    const Lattice& l = plan.lattice;
    const std::int64_t m = plan.reach + 1;
    const auto at = [&](std::int64_t n) { return static_cast<double>(n) * l.size; };
    const double west = l.xmin + at(t.first_col - m), east = l.xmin + at(t.first_col + t.cols + m);
    const double north = l.ymax - at(t.first_row - m), south = l.ymax - at(t.first_row + t.rows + m);
    return f.xmax >= west && f.xmin <= east && f.ymax >= south && f.ymin <= north;
}

TilePlan make_tile_plan(const GridOptions& o, const std::vector<std::string>& paths, std::ostream* progress)
{
    refuse_filtered_text(o.filter, paths);
    TilePlan plan;
    plan.files.resize(paths.size());
    SeenFiles seen(paths.size());
    std::vector<std::size_t> to_read;
    for (std::size_t k = 0; k < paths.size(); ++k) {
        plan.files[k].path = fs::absolute(paths[k]).lexically_normal().string();
        // Before its reading: a change during it is a change since the plan.
        const std::optional<FileStamp> stamp = stamp_of(paths[k]);
        if (!stamp)
            throw InputError(paths[k] + ": the file cannot be read (" + std::generic_category().message(errno) + ")");
        plan.files[k].stamp = *stamp;
        if (!o.bounds || is_text_point_file(paths[k]))
            to_read.push_back(k);
        else
            read_header(plan.files[k], paths[k], seen[k]);
    }
    plan.points_read = read_extents(paths, to_read, plan.files, o, seen, progress);
    plan.files_read = to_read.size();
    plan.system = choose_crs(o, seen);
    plan.lattice = whole_lattice(o, plan.files);
    plan.tile_cells = whole_cells_in(*o.tile_size, o.cell);
    plan.tile_cols = (plan.lattice.cols + plan.tile_cells - 1) / plan.tile_cells;
    plan.tile_rows = (plan.lattice.rows + plan.tile_cells - 1) / plan.tile_cells;
    refuse_too_many_tiles(o, plan.tile_cols, plan.tile_rows);
    // A tile's TIN takes the points of its buffer and of the buffer's ring
    // (gridder/tin_band.h): a file there that the job did not read would
    // leave the tile's triangles at its edge unlike the single run's.
    if (o.tin_band && o.buffer) plan.reach = std::max<std::int64_t>(1, *o.buffer + 1);
    plan.tiles = cut(plan);
    return plan;
}

}  // namespace kestranov::gridder
