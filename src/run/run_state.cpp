#include "run/run_state.h"

#include "LIB/NRUTIL.h"

RunState::~RunState()
{
    if (dtab) frdmatrice(dtab, nb_lig + 2);
    if (tab_util) frucmatrice(tab_util, nb_lig + 2);
}

std::string point_file_path(const RunState& st, int m)
{
    return st.nomgen + st.files[static_cast<std::size_t>(m)].nombre + ".xyz";
}
