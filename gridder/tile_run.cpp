#include "gridder/tile_run.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
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

std::string plan_summary(const GridOptions& o, const TilePlan& plan, const std::string& folder)
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
    made_folder(folder / "tiles");
    made_folder(folder / "logs");
    std::string jobs;
    for (const Tile& t : plan.tiles) jobs += job_line(o, plan, t, self, name);
    const auto bytes = [](const std::string& text) { return std::vector<unsigned char>(text.begin(), text.end()); };
    write_bytes(name + "/jobs.txt", bytes(jobs), {});
    write_bytes(name + "/slurm.sbatch", bytes(slurm_script(name)), {});
    write_bytes(name + "/mosaic.vrt", bytes(mosaic_vrt(o, plan)), {});
    return {plan_summary(o, plan, name), unreadable_warning(plan.system, "the tiles are written")};
}

}  // namespace kestranov::gridder
