#include "gridder/tile_run.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>

#include "core/shortest_text.h"
#include "gridder/grid_output.h"
#include "gridder/mosaic_vrt.h"
#include "gridder/point_inputs.h"
#include "gridder/tile_jobs.h"
#include "gridder/tile_plan.h"
#include "gridder/tile_stamps.h"
#include "gridder/tin_band.h"

namespace kestranov::gridder {
namespace {

namespace fs = std::filesystem;

// A job's record of its tile: the tile's own name and this.
constexpr const char* record_extension = ".done";
// The plan's own record, written last: its identity and its tiles' layout.
constexpr const char* plan_record = "plan.txt";
// What a plan writes in its folder, its record first: the first to go when
// the plan is replaced, so that a folder half emptied is no plan.
constexpr const char* plan_files[] = {plan_record, "jobs.txt", "slurm.sbatch", "mosaic.vrt"};
constexpr const char* plan_folders[] = {"tiles", "logs"};

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

std::string folder_name(const std::string& path)
{
    std::string name = fs::absolute(path).lexically_normal().string();
    if (name.size() > 1 && name.back() == '/') name.pop_back();
    return name;
}

bool empty_folder(const fs::path& p)
{
    std::error_code ec;
    return fs::is_directory(p, ec) && fs::is_empty(p, ec) && !ec;
}

// A plan owns its folder: another plan's tiles would stand in the mosaic
// for this one's until each job had run again, and whatever else is there
// is not ours to empty. Refused before any point is read, unless the user
// says to replace it.
void refuse_taken_folder(const std::string& folder, bool overwrite)
{
    std::error_code ec;
    if (overwrite || !fs::is_directory(folder, ec)) return;
    std::string other;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name == plan_record || name == "jobs.txt")
            throw InputError(folder +
                             ": holds another plan: plan into a new or empty folder, or give --overwrite to replace "
                             "it (its tiles are removed)");
        const bool ours = std::find(std::begin(plan_folders), std::end(plan_folders), name) != std::end(plan_folders);
        if (other.empty() && !(ours && empty_folder(it->path()))) other = name;
    }
    if (!other.empty())
        throw InputError(folder + ": not empty (it holds " + other +
                         ") and no plan's: plan into a new or empty folder, or give --overwrite");
}

// The folder's earlier plan gone (its files, its tiles and logs), before
// this one is written; what else the folder holds is left.
void clear_folder(const fs::path& folder)
{
    std::error_code ec;
    const auto gone = [&](const fs::path& p) {
        fs::remove_all(p, ec);
        if (ec) throw InputError(p.string() + ": an earlier plan's file cannot be removed (" + ec.message() + ")");
    };
    for (const char* f : plan_files) gone(folder / f);
    for (const char* d : plan_folders)
        for (fs::directory_iterator it(folder / d, ec), end; !ec && it != end; it.increment(ec)) gone(it->path());
}

// The plan's identity: a hash of its jobs and mosaic, so that the same plan
// made again is the same plan, and a tile made for another is told apart.
std::string identity_of(const std::string& text)
{
    std::uint64_t h = 14695981039346656037ULL;  // FNV-1a
    for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return hex;
}

struct PlanRecord {
    std::string id;
    std::int64_t tile_cols = 0, tile_rows = 0;
};

PlanRecord read_plan_record(const std::string& folder)
{
    std::ifstream in(folder + "/" + plan_record);
    PlanRecord p;
    std::string plan, tiles;
    if (!(in >> plan >> p.id >> tiles >> p.tile_cols >> p.tile_rows) || plan != "plan" || tiles != "tiles" ||
        p.tile_cols < 1 || p.tile_rows < 1)
        throw InputError(folder + "/" + plan_record +
                         ": missing or not a plan's record (a plan of an older kestranov-grid?): plan again with "
                         "--overwrite and run its jobs");
    return p;
}

// What a job tells --mosaic of its tile.
struct TileRecord {
    std::string plan;                                   // --plan
    long number = 0, of = 0;                            // --job
    std::int64_t col = 0, row = 0, cols = 0, rows = 0;  // --window
    long long gridded = 0, read = 0, files = 0;
    GridReport cells;         // with_points, filled, nodata, and the tin band's
    bool statistics = false;  // a cells line: the statistics' bands were written
    double nodata_value = 0;
    FileStamp tile;  // the tile as its job wrote it
};

std::string record_text(const GridOptions& o, const GridReport& r, const FileStamp& tile)
{
    const auto& w = *o.window;
    std::ostringstream s;
    s << "plan " << o.plan.value_or("none") << "\n";
    s << "job " << o.job->number << " " << o.job->of << "\n";
    s << "window " << w[0] << " " << w[1] << " " << w[2] << " " << w[3] << "\n";
    s << "points " << r.gridded << " " << r.read << " " << r.files << "\n";
    if (statistics_written(o)) s << "cells " << r.with_points << " " << r.filled << " " << r.nodata << "\n";
    if (r.tin) {
        s << "tin " << r.tin->with_value << " " << r.tin->nodata << "\n";
        if (!r.tin->note.empty()) s << "tin-note " << r.tin->note << "\n";
    }
    s << "nodata " << shortest(o.nodata) << "\n";
    s << "tile " << tile.size << " " << tile.mtime_ns << "\n";
    return s.str();
}

// A record as its job wrote it; nothing when it is not one.
std::optional<TileRecord> read_record(const fs::path& path)
{
    std::ifstream in(path);
    TileRecord r;
    int fields = 0;  // of the six every record has, besides its cells or its tin band's
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string key, value;
        words >> key;
        fields +=
            key == "plan" || key == "job" || key == "window" || key == "points" || key == "nodata" || key == "tile";
        if (key == "plan")
            words >> r.plan;
        else if (key == "job")
            words >> r.number >> r.of;
        else if (key == "window")
            words >> r.col >> r.row >> r.cols >> r.rows;
        else if (key == "points")
            words >> r.gridded >> r.read >> r.files;
        else if (key == "cells") {
            words >> r.cells.with_points >> r.cells.filled >> r.cells.nodata;
            r.statistics = true;
        } else if (key == "tin")
            words >> r.cells.tin.emplace().with_value >> r.cells.tin->nodata;
        else if (key == "tin-note" && r.cells.tin)
            std::getline(words >> std::ws, r.cells.tin->note);
        else if (key == "tile")
            words >> r.tile.size >> r.tile.mtime_ns;
        else if (key == "nodata" && words >> value &&
                 std::from_chars(value.data(), value.data() + value.size(), r.nodata_value).ec != std::errc())
            return std::nullopt;
        if (words.fail()) return std::nullopt;
    }
    if (fields != 6 || (!r.statistics && !r.cells.tin)) return std::nullopt;
    return r;
}

// A list a person can act on: the first ten, then how many more.
std::string listed(const std::vector<std::string>& items)
{
    std::string list;
    for (std::size_t k = 0; k < items.size() && k < 10; ++k) list += (k ? ", " : "") + items[k];
    if (items.size() > 10) list += " and " + std::to_string(items.size() - 10) + " more";
    return list;
}

// Lines of jobs.txt, as "line 3" or "lines 3, 7".
std::string lines_listed(const std::vector<long>& lines)
{
    std::vector<std::string> numbers;
    numbers.reserve(lines.size());
    for (const long n : lines) numbers.push_back(std::to_string(n));
    return (lines.size() == 1 ? "line " : "lines ") + listed(numbers);
}

// Line n of jobs.txt's tile, north first.
std::string tile_of_line(const PlanRecord& plan, long n)
{
    Tile t;
    t.col = (n - 1) % plan.tile_cols, t.row = (n - 1) / plan.tile_cols;
    return tile_name(t);
}

// The line of jobs.txt of the tile whose record this is (tiles/C_R.tif.done), or 0.
long line_of_record(const PlanRecord& plan, const fs::path& record)
{
    const std::string name = fs::path(record).replace_extension().stem().string();
    const std::size_t bar = name.find('_');
    std::int64_t col = -1, row = -1;
    const char* end = name.data() + name.size();
    if (bar == std::string::npos || std::from_chars(name.data(), name.data() + bar, col).ptr != name.data() + bar ||
        std::from_chars(name.data() + bar + 1, end, row).ptr != end || col < 0 || row < 0 || col >= plan.tile_cols ||
        row >= plan.tile_rows)
        return 0;
    return static_cast<long>(row * plan.tile_cols + col + 1);
}

// Tiles whose records name another plan: made for a plan this folder held
// before, or brought in from another folder. GDAL would read them in the
// mosaic as this plan's.
void refuse_foreign(const std::string& folder, const PlanRecord& plan,
                    std::vector<std::pair<long, std::string>> foreign)
{
    if (foreign.empty()) return;
    std::sort(foreign.begin(), foreign.end());
    std::vector<long> lines;
    lines.reserve(foreign.size());
    for (const auto& f : foreign) lines.push_back(f.first);
    const std::size_t n = foreign.size();
    throw InputError(
        folder + "/" + tile_of_line(plan, foreign[0].first) +
        (n == 1 ? " is a tile of another plan" : " and " + std::to_string(n - 1) + " more tiles are another plan's") +
        " (plan " + foreign[0].second + ", not this folder's " + plan.id + "): run " + lines_listed(lines) +
        " of jobs.txt again, then --mosaic again");
}

// Tiles that are not as their jobs wrote them (another plan's copied over
// one, or one cut short): told by size and time alone, so that --mosaic
// stays a look at the folder, not a read of every tile.
void refuse_changed(const std::string& folder, const PlanRecord& plan, std::vector<long> changed)
{
    if (changed.empty()) return;
    std::sort(changed.begin(), changed.end());
    const std::size_t n = changed.size();
    throw InputError(folder + "/" + tile_of_line(plan, changed[0]) +
                     (n == 1 ? " is not the tile its job wrote (its size or modification time is not its record's)"
                             : " and " + std::to_string(n - 1) +
                                   " more tiles are not the ones their jobs wrote (their sizes or modification times "
                                   "are not their records')") +
                     ": run " + lines_listed(changed) + " of jobs.txt again, then --mosaic again");
}

// The tiles whose tin band is all nodata, their points spanning no
// triangle: the first one's note, and the lines of the others.
std::string tin_notes(const PlanRecord& plan, const std::vector<std::optional<TileRecord>>& done)
{
    std::vector<long> lines;
    for (std::size_t n = 1; n < done.size(); ++n)
        if (done[n]->cells.tin && !done[n]->cells.tin->note.empty()) lines.push_back(static_cast<long>(n));
    if (lines.empty()) return "";
    const auto first = static_cast<std::size_t>(lines.front());
    std::string notes = "note: " + tile_of_line(plan, lines.front()) + ": " + done[first]->cells.tin->note + "\n";
    if (lines.size() > 1) {
        lines.erase(lines.begin());
        notes += "note: and " + std::to_string(lines.size()) + " more tiles' tin bands, all nodata (" +
                 lines_listed(lines) + " of jobs.txt)\n";
    }
    return notes;
}

// The plan's summary, told as the single run tells its own: the
// statistics' cells when they were written, the tin band's when it was.
std::string mosaic_summary(const PlanRecord& plan, const std::vector<std::optional<TileRecord>>& done,
                           const std::string& folder)
{
    GridReport sum;
    std::int64_t cols = 0, rows = 0;
    for (std::size_t n = 1; n < done.size(); ++n) {
        const TileRecord& r = *done[n];
        sum.gridded += r.gridded, sum.read += r.read;
        sum.with_points += r.cells.with_points, sum.filled += r.cells.filled, sum.nodata += r.cells.nodata;
        if (r.cells.tin) {
            TinFigures& tin = sum.tin ? *sum.tin : sum.tin.emplace();
            tin.with_value += r.cells.tin->with_value, tin.nodata += r.cells.tin->nodata;
        }
        cols = std::max(cols, r.col + r.cols), rows = std::max(rows, r.row + r.rows);
    }
    std::ostringstream s;
    s << "tiles: " << done.size() - 1 << " of " << done.size() - 1 << " done, " << cols << " x " << rows
      << " cells in all\n";
    s << "points: " << sum.gridded << " in the grid's cells (the tiles read " << sum.read
      << ": a file is read by each tile it reaches)\n";
    if (done[1]->statistics) s << cells_line(sum, done[1]->nodata_value);
    if (sum.tin) s << tin_lines(*sum.tin, done[1]->nodata_value) << tin_notes(plan, done);
    s << "mosaic: " << folder << "/mosaic.vrt\n";
    return s.str();
}

}  // namespace

WrittenPlan write_tile_plan(const GridOptions& o, const std::vector<std::string>& files, std::ostream* progress,
                            const std::string& program)
{
    const std::string self = program.empty() ? this_program() : program;
    const std::string name = folder_name(o.output);
    // Known before a point is read.
    if (const std::string why = unplannable_path(name, files, self); !why.empty()) throw InputError(why);
    refuse_taken_folder(name, o.overwrite);
    const TilePlan plan = make_tile_plan(o, files, progress);
    const std::string vrt = mosaic_vrt(o, plan);
    std::string unnamed, jobs;
    for (const Tile& t : plan.tiles) unnamed += job_line(o, plan, t, self, name, "");
    const std::string id = identity_of(unnamed + vrt);
    for (const Tile& t : plan.tiles) jobs += job_line(o, plan, t, self, name, id);
    const fs::path folder = made_folder(name);
    clear_folder(folder);
    made_folder(folder / "tiles");
    made_folder(folder / "logs");
    const auto bytes = [](const std::string& text) { return std::vector<unsigned char>(text.begin(), text.end()); };
    write_bytes(name + "/jobs.txt", bytes(jobs), {});
    write_bytes(name + "/slurm.sbatch", bytes(slurm_script(name)), {});
    write_bytes(name + "/mosaic.vrt", bytes(vrt), {});
    write_bytes(
        name + "/" + plan_record,
        bytes("plan " + id + "\ntiles " + std::to_string(plan.tile_cols) + " " + std::to_string(plan.tile_rows) + "\n"),
        {});
    return {plan_summary(o, plan, name, self), unreadable_warning(plan.system, "the tiles are written")};
}

std::string finish_tile_job(const GridOptions& o, const GridReport& r)
{
    // A file changed while the job read it: its tile is no tile of the plan.
    try {
        check_planned_files(o);
    } catch (const InputError&) {
        std::error_code ec;
        fs::remove(o.output, ec);
        throw;
    }
    // The tile as written, for --mosaic to tell it from one put in its place.
    const std::optional<FileStamp> tile = stamp_of(o.output);
    if (!tile)
        throw InputError(o.output + ": the tile cannot be read once written (" +
                         std::generic_category().message(errno) + ")");
    const std::string text = record_text(o, r, *tile);
    write_bytes(o.output + record_extension, std::vector<unsigned char>(text.begin(), text.end()), {});
    const long long cells = r.cols * r.rows;
    std::string nodata = statistics_written(o) ? std::to_string(r.nodata) + " nodata" : "";
    if (r.tin)
        nodata += (nodata.empty() ? std::to_string(r.tin->nodata) + " nodata in the tin band"
                                  : ", " + std::to_string(r.tin->nodata) + " in the tin band");
    return "tile " + std::to_string(o.job->number) + "/" + std::to_string(o.job->of) + ": " +
           std::to_string(r.gridded) + (r.gridded == 1 ? " point, " : " points, ") + std::to_string(r.files) +
           (r.files == 1 ? " file, " : " files, ") + std::to_string(cells) + " cells (" + nodata + ") -> " + o.output +
           "\n";
}

std::string mosaic_step(const GridOptions& o)
{
    const std::string folder = folder_name(*o.mosaic);
    std::ifstream jobs(folder + "/jobs.txt");
    if (!jobs) throw InputError(folder + ": no jobs.txt: not the folder of a plan (--tile-size writes one)");
    long lines = 0;
    for (std::string line; std::getline(jobs, line);) ++lines;
    if (lines == 0) throw InputError(folder + "/jobs.txt: no job at all");
    const PlanRecord plan = read_plan_record(folder);
    if (plan.tile_cols * plan.tile_rows != lines)
        throw InputError(folder + "/jobs.txt: " + std::to_string(lines) + " lines, not the " +
                         std::to_string(plan.tile_cols * plan.tile_rows) + " tiles of " + plan_record +
                         ": plan again with --overwrite");
    std::vector<std::optional<TileRecord>> done(static_cast<std::size_t>(lines) + 1);
    std::vector<std::pair<long, std::string>> foreign;
    std::vector<long> changed;
    std::error_code ec;
    for (fs::directory_iterator it(folder + "/tiles", ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() != record_extension) continue;
        const std::optional<TileRecord> r = read_record(it->path());
        // A record whose tile has gone is no tile done.
        std::error_code gone;
        if (!r || !fs::is_regular_file(fs::path(it->path()).replace_extension(), gone)) continue;
        if (r->plan != plan.id) {
            if (const long line = line_of_record(plan, it->path())) foreign.emplace_back(line, r->plan);
            continue;
        }
        if (r->of != lines || r->number < 1 || r->number > lines) continue;
        const std::optional<FileStamp> now = stamp_of(fs::path(it->path()).replace_extension().string());
        if (!now || now->size != r->tile.size || now->mtime_ns != r->tile.mtime_ns) {
            changed.push_back(r->number);
            continue;
        }
        done[static_cast<std::size_t>(r->number)] = r;
    }
    refuse_foreign(folder, plan, foreign);
    refuse_changed(folder, plan, changed);
    std::vector<long> missing;
    std::vector<std::string> tiles;
    for (long n = 1; n <= lines; ++n)
        if (!done[static_cast<std::size_t>(n)]) missing.push_back(n), tiles.push_back(tile_of_line(plan, n));
    if (!missing.empty())
        throw InputError(folder + ": " + std::to_string(missing.size()) + " of " + std::to_string(lines) +
                         " tiles are not done (" + lines_listed(missing) + " of jobs.txt: " + listed(tiles) +
                         "): run " + (missing.size() == 1 ? "it" : "them") + " again, then --mosaic again");
    return mosaic_summary(plan, done, folder);
}

}  // namespace kestranov::gridder
