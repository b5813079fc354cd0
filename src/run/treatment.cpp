#include "run/treatment.h"

#include <ostream>

#include "core/fatal.h"
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

// The grids for the extents in `st`. False, where the extents came from
// LAZ headers, for a grid too large: the points' own extents may be less.
bool make_grids(RunState& st, bool headers)
{
    st.dtab = {}, st.tab_util = {};  // a grid made before goes first
    try {
        const GridSize size = size_grid(extents_of(st), st.pix_size, available_memory_bytes());
        CellGrids grids = allocate_grids(size, st.pix_size);
        st.nb_lig = size.nb_lig, st.nb_col = size.nb_col;
        st.dtab = std::move(grids.dtab);
        st.tab_util = std::move(grids.tab_util);
        return true;
    } catch (const Fatal&) {
        if (!headers) throw;
        return false;
    }
}

// The two readings into the grid. The first takes the range of a LAZ file
// from its header instead of decoding every point, which halves such a
// run; the second decodes them and checks the header. Where a header was
// wrong, or gave a grid too large, the readings run again without headers,
// silently where their lines are printed already (the same lines).
SeenFiles read_points(RunState& st)
{
    PointFiles files = point_files_of(st);
    files.reading.bounds_from_header = true;
    SeenFiles seen;
    set_extents(st, extent_pass(*st.out, files, seen));
    files.reading.bounds_from_header = false;
    const bool sized = make_grids(st, bounds_from_headers(seen));
    if (sized && assignment_pass(*st.out, files, seen, extents_of(st), st.pix_size, st.retorno, grid_of(st)))
        return seen;
    std::ostream silent(nullptr);
    set_extents(st, extent_pass(silent, files, seen));
    make_grids(st, false);
    assignment_pass(sized ? silent : *st.out, files, seen, extents_of(st), st.pix_size, st.retorno, grid_of(st));
    return seen;
}

}  // namespace

void treatment(RunState& st)
{
    const PointFiles files = point_files_of(st);
    const SeenFiles seen = read_points(st);
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
