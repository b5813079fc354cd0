#include "grid/treatment.h"

#include <ostream>

#include "grid/assignment.h"
#include "grid/elim_pit.h"
#include "grid/grid_size.h"
#include "output/lf_text.h"
#include "output/saving.h"
#include "points/extent_pass.h"
#include "run/fatal.h"
#include "run/run_state.h"

namespace {

void report_extents(RunState& st)
{
    *st.out << "\n\n\tEnd of initial treatment\n\n\tXmin " << lf(st.Xmin) << " Xmax " << lf(st.Xmax) << " Ymin "
            << lf(st.Ymin) << " Ymax " << lf(st.Ymax) << " \n ";
}

void density_check(RunState& st)
{
    if (count_pits(st) == 0) return;
    fail("\n\n\tDespite an attempt to eliminate the pits, the density "
         "\n\tof the point cloud is not enough to generate an MDE with "
         "\n\ta pixel size of " +
         lf(st.pix_size) + " meter ");
}

}  // namespace

void treatment(RunState& st)
{
    extent_pass(st);
    size_grid(st);
    allocate_grids(st);
    assignment_pass(st);
    report_extents(st);
    const long long pits = count_pits(st);
    *st.out << "\n\tTotal number of pits (empty pixels) at the end of the first treatment = " << pits << " \n";
    if (pits > 0) elim_pit(st);
    density_check(st);
    saving(st);
}
