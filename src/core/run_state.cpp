#include "core/run_state.h"

namespace kestranov {

PointFiles point_files_of(const RunState& st)
{
    PointFiles files{st.drive_root, st.nomgen, {}, st.reading, st.seams};
    for (int m = 1; m <= st.numlay; ++m) files.names.push_back(st.files[static_cast<std::size_t>(m)].nombre);
    return files;
}

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
