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
// LAZ headers, for a grid too large for this machine or for the records:
// the points' own extents may be far less.
bool make_grids(RunState& st, const SeenFiles* headers)
{
    st.dtab = {}, st.tab_util = {};  // a grid made before goes first
    try {
        const GridSize size = size_grid(extents_of(st), st.pix_size, available_memory_bytes());
        if (headers && !fits_the_records(static_cast<double>(size.nb_lig) * size.nb_col, *headers)) return false;
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
// run; the second decodes them, checks the header and gathers the points'
// own extents. Where a header was wrong, the second reading runs again over
// those, silently: its lines are printed already, the same lines. Where it
// gave a grid too large, the first reading runs again, silently.
SeenFiles read_points(RunState& st)
{
    PointFiles files = point_files_of(st);
    files.reading.bounds_from_header = true;
    SeenFiles seen;
    set_extents(st, extent_pass(*st.out, files, seen));
    files.reading.bounds_from_header = false;
    const bool headers = bounds_from_headers(seen);
    std::ostream silent(nullptr);
    std::ostream* last_lines = st.out;  // where the last second reading prints
    if (!make_grids(st, headers ? &seen : nullptr)) {
        set_extents(st, extent_pass(silent, files, seen));
        make_grids(st, nullptr);
    } else {
        ExtentTally found;
        if (assignment_pass(*st.out, files, seen, extents_of(st), st.pix_size, st.retorno, grid_of(st),
                            headers ? &found : nullptr))
            return seen;
        // The points it read are now those of the first reading.
        for (SeenFile& f : seen) f.first.header_bounds.reset();
        set_extents(st, found.extents());
        make_grids(st, nullptr);
        last_lines = &silent;
    }
    assignment_pass(*last_lines, files, seen, extents_of(st), st.pix_size, st.retorno, grid_of(st));
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
