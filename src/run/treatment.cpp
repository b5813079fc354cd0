#include "run/treatment.h"

#include <ostream>

#include "core/fatal.h"
#include "core/lf_text.h"
#include "core/messages.h"
#include "core/run_state.h"
#include "grid/assignment.h"
#include "grid/elim_pit.h"
#include "grid/grid_size.h"
#include "platform/memory.h"
#include "points/two_readings.h"
#include "run/console_reading.h"
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

// The two readings into the grid (points/two_readings.h), with the
// console's lines. Where a header was wrong, the second reading runs again
// silently: its lines are printed already, the same lines. Where it gave a
// grid too large, the first reading runs again, silently.
SeenFiles read_points(RunState& st)
{
    const ConsoleFiles names = console_files(st);
    const PointFiles& files = names.files;
    SeenFiles seen;
    ConsoleReading shown(*st.out, names);
    ReadingEvents silent;
    ReadingSteps steps;
    steps.events = [&](ReadingStep step) -> ReadingEvents& {
        return step == ReadingStep::first || step == ReadingStep::second ? shown : silent;
    };
    steps.range_read = [&](const ExtentReading& found, ReadingStep step) {
        if (step == ReadingStep::first) show_first_total(*st.out, found.records);
        if (!found.range.any()) fail(no_point_at_all());
        set_extents(st, found.range.extents());
    };
    steps.make_grid = [&](bool from_headers) { return make_grids(st, from_headers ? &seen : nullptr); };
    steps.read_into_grid = [&](ReadingEvents& events, ExtentTally* gathered) {
        return assignment_pass(events, files, seen, extents_of(st), st.pix_size, st.retorno, grid_of(st), gathered);
    };
    steps.range_gathered = [&](const ExtentTally& gathered) { set_extents(st, gathered.extents()); };
    read_twice(files, seen, steps);
    return seen;
}

}  // namespace

void treatment(RunState& st)
{
    const SeenFiles seen = read_points(st);
    report_extents(st);
    const long long pits = count_pits(grid_of(st));
    *st.out << "\n\tTotal number of pits (empty pixels) at the end of the first treatment = " << pits << " \n";
    if (pits > 0) {
        elim_pit(grid_of(st));
        *st.out << "\n\tElimination of local pits";
    }
    check_density(grid_of(st), st.pix_size);
    const ConsoleFiles names = console_files(st);
    std::vector<KeptFile> inputs;
    for (int k = 0; k < names.files.count(); ++k) {
        const SeenFile& f = seen[static_cast<std::size_t>(k)];
        inputs.push_back({*f.identity, console_name(names, k, f.path)});
    }
    saving(st, inputs);
}

}  // namespace kestranov
