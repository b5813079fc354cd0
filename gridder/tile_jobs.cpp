#include "gridder/tile_jobs.h"

#include <filesystem>
#include <initializer_list>
#include <string_view>

#include "core/shortest_text.h"
#include "gridder/point_inputs.h"
#include "gridder/tile_stamps.h"

namespace kestranov::gridder {
namespace {

// `words` after `line`, one by one: GCC 12 warns falsely about a string
// literal joined to a temporary string with +.
void append(std::string& line, std::initializer_list<std::string_view> words)
{
    for (const std::string_view w : words) line.append(w);
}

std::string classes_of(const PointFilter& filter)
{
    std::string list;
    for (std::size_t c = 0; c < filter.classes.size(); ++c)
        if (filter.classes.test(c)) {
            if (!list.empty()) list += ',';
            list += std::to_string(c);
        }
    return list;
}

// The options a tile shares with the single run, as typed again.
std::string shared_options(const GridOptions& o)
{
    std::string line = " --cell " + shortest(o.cell);
    if (o.keep == Keep::lowest) line += " --keep lowest";
    if (!o.statistics.empty() || o.tin_band) append(line, {" --output-type ", band_list(o)});
    if (o.max_edge) append(line, {" --max-edge ", shortest(*o.max_edge)});
    if (o.buffer) append(line, {" --buffer ", std::to_string(*o.buffer)});
    if (o.filter.by_class) append(line, {" --class ", classes_of(o.filter)});
    constexpr const char* returns[] = {"any", "first", "last", "only"};
    if (o.filter.returns != PointFilter::Returns::any)
        line += std::string(" --return ") + returns[static_cast<int>(o.filter.returns)];
    if (!o.fill) line += " --fill none";
    if (o.gaps_fail) line += " --gaps fail";
    if (o.nodata != -9999) append(line, {" --nodata ", shell_quoted(shortest(o.nodata))});
    if (o.float64) line += " --type float64";
    if (o.threads > 0) append(line, {" --threads ", std::to_string(o.threads)});
    if (o.quiet) line += " -q";
    return line;
}

}  // namespace

std::string shell_quoted(const std::string& word)
{
    bool plain = !word.empty();
    for (const char c : word)
        plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          std::string("/._-+,:=@%").find(c) != std::string::npos);
    if (plain) return word;
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string tile_name(const Tile& t) { return "tiles/" + std::to_string(t.col) + "_" + std::to_string(t.row) + ".tif"; }

std::string job_line(const GridOptions& o, const TilePlan& plan, const Tile& t, const std::string& program,
                     const std::string& folder, const std::string& plan_id)
{
    const Lattice& l = plan.lattice;
    std::string line = shell_quoted(program) + shared_options(o);
    line += " --bounds";
    for (const double v : {l.xmin, l.ymin, l.xmax, l.ymax}) append(line, {" ", shell_quoted(shortest(v))});
    line += " --window";
    for (const std::int64_t v : {t.first_col, t.first_row, t.cols, t.rows}) append(line, {" ", std::to_string(v)});
    // Line n of jobs.txt is tile n, north first.
    append(line,
           {" --job ", std::to_string(t.row * plan.tile_cols + t.col + 1), "/", std::to_string(plan.tiles.size())});
    if (!plan_id.empty()) append(line, {" --plan ", plan_id});
    std::vector<FileStamp> stamps;
    for (const std::size_t k : t.files) stamps.push_back(plan.files[k].stamp);
    if (!stamps.empty()) append(line, {" --stamps ", stamps_text(stamps)});
    // The resolved system, so that a tile whose files hold none has it too.
    // As WKT, also when typed: a typed file name or PROJ string may not
    // mean the same from another directory or node.
    if (const auto& crs = plan.system.crs) append(line, {" --srs ", shell_quoted(crs->wkt)});
    append(line, {" -o ", shell_quoted(folder + "/" + tile_name(t)), " --"});
    for (const std::size_t k : t.files) append(line, {" ", shell_quoted(plan.files[k].path)});
    return line + "\n";
}

std::string unplannable_path(const std::string& folder, const std::vector<std::string>& files,
                             const std::string& program)
{
    const auto broken = [](const std::string& path) { return path.find_first_of("\n\r") != std::string::npos; };
    if (broken(folder))
        return folder +
               ": a folder whose name holds a line break cannot be written in jobs.txt (a line a job) nor "
               "in slurm.sbatch: plan into another folder";
    for (const std::string& f : files) {
        if (broken(f))
            return f +
                   ": a file whose name holds a line break cannot be written in jobs.txt (a line a job): "
                   "rename it";
    }
    if (broken(program)) return program + ": this program's path holds a line break: jobs.txt cannot name it";
    // sbatch takes a backslash in a quoted directive as an escape, and in
    // the log's name as "no %a here": every task would write one file with
    // the backslash gone.
    if (folder.find('\\') != std::string::npos)
        return folder +
               ": Slurm cannot name the tiles' logs in a folder whose path holds a backslash: plan into "
               "another folder";
    return "";
}

std::string slurm_script(const std::string& folder)
{
    const std::string jobs = shell_quoted(folder + "/jobs.txt");
    // Slurm reads its own directives: the path in double quotes, a " in it
    // escaped, and a % doubled so that it is not taken for one of its
    // patterns (unplannable_path refuses what else it cannot carry).
    std::string logs;
    for (const char c : folder + "/logs/tile-")
        logs += c == '%' ? std::string("%%") : c == '"' ? std::string("\\\"") : std::string(1, c);
    return "#!/bin/sh\n"
           "# kestranov-grid's tiles as a Slurm array job, one task a tile:\n"
           "#   sbatch --array=1-N " +
           shell_quoted(folder + "/slurm.sbatch") +
           "\n"
           "# Task n runs line KESTRANOV_FIRST_LINE + n of jobs.txt (KESTRANOV_FIRST_LINE\n"
           "# is 0 unless exported: a cluster whose MaxArraySize is below the number of\n"
           "# tiles takes the plan in several arrays, e.g. --export=ALL,KESTRANOV_FIRST_LINE=1000).\n"
           "# Its output goes to logs/ beside it.\n"
           "#SBATCH --job-name=kestranov-tiles\n"
           "#SBATCH --output=\"" +
           logs +
           "%a.out\"\n"
           "n=$(( ${KESTRANOV_FIRST_LINE:-0} + ${SLURM_ARRAY_TASK_ID:?not an array task} ))\n"
           "line=$(sed -n \"${n}p\" " +
           jobs +
           ")\n"
           "if [ -z \"$line\" ]; then echo \"no line $n in \"" +
           jobs +
           " >&2; exit 1; fi\n"
           "# Through standard input: a tile of many files makes a line longer than\n"
           "# one argument may be.\n"
           "printf '%s\\n' \"$line\" | exec /bin/sh\n";
}

}  // namespace kestranov::gridder
