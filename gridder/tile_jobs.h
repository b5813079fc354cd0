#pragma once
// The commands of a tiles plan: one kestranov-grid line a tile, which runs
// from any directory on any machine that sees the same files (every path
// absolute, every word quoted for the shell), and the Slurm array script
// that runs line $SLURM_ARRAY_TASK_ID of them.

#include <string>
#include <vector>

#include "gridder/grid_options.h"
#include "gridder/tile_plan.h"

namespace kestranov::gridder {

// `word` as one word of a POSIX shell line: as it is when it holds nothing
// the shell reads specially, else in single quotes.
std::string shell_quoted(const std::string& word);

// Where tile (col, row) is written inside the plan's folder.
std::string tile_name(const Tile& tile);

// The line that grids `tile`: `program` with the plan's options, the whole
// lattice as --bounds, the tile as --window, its line as --job, the plan's
// identity as --plan (empty: none), its files' sizes and times as --stamps,
// the plan's coordinate system as --srs, into `folder`/tiles/, then its
// files after "--" (none for a tile no file reaches: an all-nodata grid).
// `folder` is absolute.
std::string job_line(const GridOptions& options, const TilePlan& plan, const Tile& tile, const std::string& program,
                     const std::string& folder, const std::string& plan_id);

// Why a plan cannot name these paths (its folder, its input files, the
// program its jobs run), or empty: a line break would split a job's line
// and Slurm's directive, a backslash in the folder Slurm's log names, and
// one in an input's whole path the file a job reads.
std::string unplannable_path(const std::string& folder, const std::vector<std::string>& files,
                             const std::string& program);

// The Slurm array job script over `folder`/jobs.txt.
std::string slurm_script(const std::string& folder);

}  // namespace kestranov::gridder
