#pragma once
// kestranov-grid --tile-size: the plan made and written into its folder
// (jobs.txt, slurm.sbatch, mosaic.vrt, and the empty tiles/ and logs/ the
// jobs write into), each file complete or not at all; the summary tells
// how to run it. Then each job's record of its tile, and the last step
// that checks them all and sums the plan.

#include <ostream>
#include <string>
#include <vector>

#include "gridder/grid_options.h"
#include "gridder/grid_run.h"

namespace kestranov::gridder {

struct WrittenPlan {
    std::string summary;  // for standard output
    std::string warning;  // for standard error, or empty: files whose systems cannot be read
};

// `program`: the kestranov-grid the jobs run (empty: this one). The folder
// must be new, empty or, with --overwrite, emptied of its plan and tiles:
// a plan owns its folder. plan.txt, written last, holds the plan's
// identity, which each job's line and each tile's record carry.
WrittenPlan write_tile_plan(const GridOptions& options, const std::vector<std::string>& files, std::ostream* progress,
                            const std::string& program = "");

// A job of the plan (--job) once its tile is written: its record beside the
// tile (the tile's name and ".done"), for --mosaic, and its one line for the
// runner's log.
std::string finish_tile_job(const GridOptions& options, const GridReport& report);

// --mosaic FOLDER, the plan's last step: every tile of jobs.txt done, by
// this plan, or an InputError naming the tiles and the jobs to run again;
// returns the plan's summary.
std::string mosaic_step(const GridOptions& options);

}  // namespace kestranov::gridder
