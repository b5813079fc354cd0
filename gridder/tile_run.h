#pragma once
// kestranov-grid --tile-size: the plan made and written into its folder
// (jobs.txt, slurm.sbatch, mosaic.vrt, and the empty tiles/ and logs/ the
// jobs write into), each file complete or not at all; the summary tells
// how to run it.

#include <ostream>
#include <string>
#include <vector>

#include "gridder/grid_options.h"

namespace kestranov::gridder {

struct WrittenPlan {
    std::string summary;  // for standard output
    std::string warning;  // for standard error, or empty: files whose systems cannot be read
};

// `program`: the kestranov-grid the jobs run (empty: this one).
WrittenPlan write_tile_plan(const GridOptions& options, const std::vector<std::string>& files, std::ostream* progress,
                            const std::string& program = "");

}  // namespace kestranov::gridder
