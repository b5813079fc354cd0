#include "output/saving.h"

#include <ostream>

#include "output/asc_writer.h"
#include "output/raster_writer.h"
#include "run/console_input.h"
#include "run/run_state.h"

void saving(RunState& st)
{
    st.nomfic1 = ask_word(st, "\n\n\tName of the resulting DEM (without any extension) ? ");
    st.nomim4 += st.nomfic1;
    st.format = ask_int(st, "\n\tFormat Type :\n\t\t0 ====> ascii\n\t\t1 ====> raster\n\t\t",
                        [](long long v) { return v == 0 || v == 1; }, "\n\tPlease answer 0 or 1.");
    if (st.format == 1) {
        raster_branch(st);
        return;
    }
    st.nomim4 += "_lidar.asc";
    *st.out << "\n\nOutput name " << st.nomim4 << " ";
    st.out->flush();
    write_asc(st);
}
