#include "core/run_state.h"

namespace kestranov {

std::string point_file_path(const RunState& st, int m)
{
    return st.nomgen + st.files[static_cast<std::size_t>(m)].nombre + ".xyz";
}

Extents extents_of(const RunState& st) { return {st.Xmin, st.Xmax, st.Ymin, st.Ymax, st.Zmin, st.Zmax}; }

void set_extents(RunState& st, const Extents& e)
{
    st.Xmin = e.Xmin, st.Xmax = e.Xmax, st.Ymin = e.Ymin, st.Ymax = e.Ymax, st.Zmin = e.Zmin, st.Zmax = e.Zmax;
}

GridView grid_of(const RunState& st) { return {st.dtab.rows(), st.tab_util.rows(), st.nb_lig, st.nb_col}; }

}  // namespace kestranov
