#include "run/treatment.h"

#include <ostream>

#include "core/lf_text.h"
#include "core/run_state.h"
#include "grid/assignment.h"
#include "grid/elim_pit.h"
#include "grid/grid_size.h"
#include "platform/memory.h"
#include "points/extent_pass.h"
#include "run/output_dialogue.h"

namespace kestranov {

namespace {

void report_extents(RunState& st)
{
    *st.out << "\n\n\tEnd of initial treatment\n\n\tXmin " << lf(st.Xmin) << " Xmax " << lf(st.Xmax) << " Ymin "
            << lf(st.Ymin) << " Ymax " << lf(st.Ymax) << " \n ";
}

}  // namespace

void treatment(RunState& st)
{
    const PointFiles files = point_files_of(st);
    SeenFiles seen;
    set_extents(st, extent_pass(*st.out, files, seen));

    const GridSize size = size_grid(extents_of(st), st.pix_size, available_memory_bytes());
    st.nb_lig = size.nb_lig, st.nb_col = size.nb_col;
    CellGrids grids = allocate_grids(size, st.pix_size);
    st.dtab = std::move(grids.dtab);
    st.tab_util = std::move(grids.tab_util);

    assignment_pass(*st.out, files, seen, extents_of(st), st.pix_size, st.retorno, grid_of(st));
    report_extents(st);
    const long long pits = count_pits(grid_of(st));
    *st.out << "\n\tTotal number of pits (empty pixels) at the end of the first treatment = " << pits << " \n";
    if (pits > 0) {
        elim_pit(grid_of(st));
        *st.out << "\n\tElimination of local pits";
    }
    check_density(grid_of(st), st.pix_size);
    std::vector<KeptFile> inputs;
    for (int m = 1; m <= files.count; ++m)
        inputs.push_back({*seen[static_cast<std::size_t>(m)].identity, seen[static_cast<std::size_t>(m)].path});
    saving(st, inputs);
}

}  // namespace kestranov
