#include "gridder/tile_run.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "core/shortest_text.h"
#include "gridder/grid_output.h"
#include "gridder/mosaic_vrt.h"
#include "gridder/point_inputs.h"
#include "gridder/tile_jobs.h"
#include "gridder/tile_plan.h"

namespace kestranov::gridder {
namespace {

namespace fs = std::filesystem;

// A job's record of its tile: the tile's own name and this.
constexpr const char* record_extension = ".done";

std::string this_program()
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) throw InputError("this program's own path cannot be told (/proc/self/exe), which every job names");
    return self.string();
}

fs::path made_folder(const fs::path& folder)
{
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder))
        throw InputError(folder.string() + ": the folder cannot be created (" + ec.message() + ")");
    return folder;
}

std::string plan_summary(const GridOptions& o, const TilePlan& plan, const std::string& folder,
                         const std::string& program)
{
    const Lattice& l = plan.lattice;
    std::size_t most = 0, total = 0, without = 0;
    for (const Tile& t : plan.tiles) {
        most = std::max(most, t.files.size()), total += t.files.size();
        without += t.files.empty();
    }
    const std::size_t n = plan.tiles.size();
    const std::optional<Crs>& crs = plan.system.crs;
    const std::string unit = crs ? " " + (o.cell == 1 ? crs->unit : crs->units) : "";
    std::ostringstream s;
    s << "grid: " << l.cols << " x " << l.rows << " cells of " << shortest(o.cell) << unit << ", west "
      << shortest(l.xmin) << " south " << shortest(l.ymin) << " east " << shortest(l.xmax) << " north "
      << shortest(l.ymax) << (o.bounds ? " (--bounds)" : " (the points', snapped)") << "\n";
    s << "tiles: " << n << " (" << plan.tile_cols << " x " << plan.tile_rows << ") of " << plan.tile_cells << " x "
      << plan.tile_cells << " cells, the last column and row cut at the grid's edge\n";
    char mean[32];
    std::snprintf(mean, sizeof mean, "%.1f", static_cast<double>(total) / static_cast<double>(n));
    s << "files: " << plan.files.size() << "; a tile reads at most " << most << ", " << mean << " on average";
    if (without) s << "; " << without << (without == 1 ? " tile reads" : " tiles read") << " none (all nodata)";
    s << "\n";
    if (plan.files_read)
        s << "extents: read from the points of " << plan.files_read << (plan.files_read == 1 ? " file" : " files")
          << " (" << plan.points_read << " points)" << (o.bounds ? ", the text ones" : "")
          << (plan.files_read < plan.files.size() ? "; the others' from their LAS headers" : "") << "\n";
    else
        s << "extents: from the LAS headers\n";
    if (crs)
        s << "coordinate system: " << crs->name << (crs->authority.empty() ? "" : " (" + crs->authority + ")")
          << (plan.system.typed ? ", from --srs" : ", from the files") << ", given to every tile\n";
    else
        s << "coordinate system: none (" << why_no_crs(plan.system) << ")\n";
    s << unreadable_note(plan.system);
    s << "wrote " << folder << "/jobs.txt (" << n << " lines), " << folder << "/slurm.sbatch, " << folder
      << "/mosaic.vrt\n";
    s << "run the " << n << " jobs, each writing " << folder << "/tiles/COL_ROW.tif, with one of:\n";
    s << "  parallel < " << shell_quoted(folder + "/jobs.txt") << "\n";
    s << "      GNU parallel on this machine (--sshlogin for several)\n";
    s << "  sbatch --array=1-" << n << " " << shell_quoted(folder + "/slurm.sbatch") << "\n";
    s << "      Slurm, one array task a tile";
    // Slurm's MaxArraySize is 1001 unless the site raised it.
    if (n > 1000)
        s << " (beyond 1000 tasks: arrays of 1000, the next with --export=ALL,KESTRANOV_FIRST_LINE=1000, ...)";
    s << "\n";
    s << "  any runner that executes line N of " << shell_quoted(folder + "/jobs.txt") << " as job N\n";
    s << "then, once every job is done, the last step checks the tiles and sums the plan:\n";
    s << "  " << shell_quoted(program) << " --mosaic " << shell_quoted(folder) << "\n";
    return s.str();
}

// The records of an earlier plan's tiles: --mosaic would count them as this one's.
void remove_records(const fs::path& tiles)
{
    std::error_code ec;
    for (fs::directory_iterator it(tiles, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == record_extension) {
            std::error_code removed;
            fs::remove(it->path(), removed);
            if (removed) throw InputError(it->path().string() + ": an earlier plan's record cannot be removed");
        }
}

// What a job tells --mosaic of its tile.
struct TileRecord {
    long number = 0, of = 0;                            // --job
    std::int64_t col = 0, row = 0, cols = 0, rows = 0;  // --window
    long long gridded = 0, read = 0, files = 0;
    GridReport cells;  // with_points, filled, nodata
    double nodata_value = 0;
};

std::string record_text(const GridOptions& o, const GridReport& r)
{
    const auto& w = *o.window;
    std::ostringstream s;
    s << "job " << o.job->number << " " << o.job->of << "\n";
    s << "window " << w[0] << " " << w[1] << " " << w[2] << " " << w[3] << "\n";
    s << "points " << r.gridded << " " << r.read << " " << r.files << "\n";
    s << "cells " << r.with_points << " " << r.filled << " " << r.nodata << "\n";
    s << "nodata " << shortest(o.nodata) << "\n";
    return s.str();
}

// A record as its job wrote it; nothing when it is not one.
std::optional<TileRecord> read_record(const fs::path& path)
{
    std::ifstream in(path);
    TileRecord r;
    int fields = 0;
    for (std::string line; std::getline(in, line); ++fields) {
        std::istringstream words(line);
        std::string key, value;
        words >> key;
        if (key == "job")
            words >> r.number >> r.of;
        else if (key == "window")
            words >> r.col >> r.row >> r.cols >> r.rows;
        else if (key == "points")
            words >> r.gridded >> r.read >> r.files;
        else if (key == "cells")
            words >> r.cells.with_points >> r.cells.filled >> r.cells.nodata;
        else if (key == "nodata" && words >> value &&
                 std::from_chars(value.data(), value.data() + value.size(), r.nodata_value).ec != std::errc())
            return std::nullopt;
        if (words.fail()) return std::nullopt;
    }
    if (fields != 5) return std::nullopt;
    return r;
}

// Job numbers as a list a person can act on: the first ten, then how many more.
std::string listed(const std::vector<long>& numbers)
{
    std::string list;
    for (std::size_t k = 0; k < numbers.size() && k < 10; ++k) list += (k ? ", " : "") + std::to_string(numbers[k]);
    if (numbers.size() > 10) list += " and " + std::to_string(numbers.size() - 10) + " more";
    return list;
}

std::string mosaic_summary(const std::vector<std::optional<TileRecord>>& done, const std::string& folder)
{
    GridReport sum;
    std::int64_t cols = 0, rows = 0;
    for (std::size_t n = 1; n < done.size(); ++n) {
        const TileRecord& r = *done[n];
        sum.gridded += r.gridded, sum.read += r.read;
        sum.with_points += r.cells.with_points, sum.filled += r.cells.filled, sum.nodata += r.cells.nodata;
        cols = std::max(cols, r.col + r.cols), rows = std::max(rows, r.row + r.rows);
    }
    std::ostringstream s;
    s << "tiles: " << done.size() - 1 << " of " << done.size() - 1 << " done, " << cols << " x " << rows
      << " cells in all\n";
    s << "points: " << sum.gridded << " in the grid's cells (the tiles read " << sum.read
      << ": a file is read by each tile it reaches)\n";
    s << cells_line(sum, done[1]->nodata_value);
    s << "mosaic: " << folder << "/mosaic.vrt\n";
    return s.str();
}

}  // namespace

WrittenPlan write_tile_plan(const GridOptions& o, const std::vector<std::string>& files, std::ostream* progress,
                            const std::string& program)
{
    const TilePlan plan = make_tile_plan(o, files, progress);
    const std::string self = program.empty() ? this_program() : program;
    const fs::path folder = made_folder(fs::absolute(o.output).lexically_normal());
    std::string name = folder.string();
    if (name.size() > 1 && name.back() == '/') name.pop_back();
    remove_records(made_folder(folder / "tiles"));
    made_folder(folder / "logs");
    std::string jobs;
    for (const Tile& t : plan.tiles) jobs += job_line(o, plan, t, self, name);
    const auto bytes = [](const std::string& text) { return std::vector<unsigned char>(text.begin(), text.end()); };
    write_bytes(name + "/jobs.txt", bytes(jobs), {});
    write_bytes(name + "/slurm.sbatch", bytes(slurm_script(name)), {});
    write_bytes(name + "/mosaic.vrt", bytes(mosaic_vrt(o, plan)), {});
    return {plan_summary(o, plan, name, self), unreadable_warning(plan.system, "the tiles are written")};
}

std::string finish_tile_job(const GridOptions& o, const GridReport& r)
{
    const std::string text = record_text(o, r);
    write_bytes(o.output + record_extension, std::vector<unsigned char>(text.begin(), text.end()), {});
    const long long cells = r.with_points + r.filled + r.nodata;
    return "tile " + std::to_string(o.job->number) + "/" + std::to_string(o.job->of) + ": " +
           std::to_string(r.gridded) + (r.gridded == 1 ? " point, " : " points, ") + std::to_string(r.files) +
           (r.files == 1 ? " file, " : " files, ") + std::to_string(cells) + " cells (" + std::to_string(r.nodata) +
           " nodata) -> " + o.output + "\n";
}

std::string mosaic_step(const GridOptions& o)
{
    std::string folder = fs::absolute(*o.mosaic).lexically_normal().string();
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::ifstream jobs(folder + "/jobs.txt");
    if (!jobs) throw InputError(folder + ": no jobs.txt: not the folder of a plan (--tile-size writes one)");
    long lines = 0;
    for (std::string line; std::getline(jobs, line);) ++lines;
    if (lines == 0) throw InputError(folder + "/jobs.txt: no job at all");
    std::vector<std::optional<TileRecord>> done(static_cast<std::size_t>(lines) + 1);
    std::error_code ec;
    for (fs::directory_iterator it(folder + "/tiles", ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() != record_extension) continue;
        const std::optional<TileRecord> r = read_record(it->path());
        // A record of another plan, or one whose tile has gone, is no tile done.
        std::error_code gone;
        if (!r || r->of != lines || r->number < 1 || r->number > lines ||
            !fs::is_regular_file(fs::path(it->path()).replace_extension(), gone))
            continue;
        done[static_cast<std::size_t>(r->number)] = r;
    }
    std::vector<long> missing;
    for (long n = 1; n <= lines; ++n)
        if (!done[static_cast<std::size_t>(n)]) missing.push_back(n);
    if (!missing.empty())
        throw InputError(folder + ": " + std::to_string(missing.size()) + " of " + std::to_string(lines) +
                         " tiles are not done (" + (missing.size() == 1 ? "line " : "lines ") + listed(missing) +
                         " of jobs.txt): run " + (missing.size() == 1 ? "it" : "them") + " again, then --mosaic again");
    return mosaic_summary(done, folder);
}

}  // namespace kestranov::gridder
