#include "run/output_dialogue.h"

#include <climits>
#include <ostream>
#include <string>

#include "core/model_files.h"
#include "core/run_state.h"
#include "output/asc_writer.h"
#include "output/raster_pair.h"
#include "output/raw_image.h"
#include "platform/drive.h"
#include "run/console_input.h"

namespace kestranov {

namespace {

// The unit of the stored integers, by the answer to the scale menu.
constexpr double coef_by_escala[] = {1.0, 10.0, 100.0, 1000.0};

OutputTarget target(const RunState& st, const std::string& windows_path, const std::vector<KeptFile>& inputs)
{
    return {host_path(st.drive_root, windows_path), windows_path, &inputs};
}

// Empty when the choice keeps every elevation; otherwise what would be lost.
// A 16-bit cell holds its value modulo 65536, which a reader undoes with the
// descriptor's minimum as long as the span fits 16 bits; the descriptor
// itself holds the scaled extremes as 32-bit numbers for either type.
std::string range_problem(const RunState& st)
{
    const auto [lo, hi] = scaled_range(grid_of(st), extents_of(st), st.coef);
    const std::string range = std::to_string(lo) + " to " + std::to_string(hi);
    if (lo < INT32_MIN || hi > INT32_MAX)
        return "\n\n\tThe scaled elevations run from " + range +
               ", beyond the 32 bits of the raster descriptor: "
               "choose a coarser scale.";
    if (st.itype == 0 && hi - lo > 65535)
        return "\n\n\tThe scaled elevations run from " + range + ", a span of " + std::to_string(hi - lo) +
               ", more than the 65535 of a 16 bits raster: choose 32 bits or a coarser scale.";
    return {};
}

// Type and scale, asked again while the choice would lose elevations.
void ask_raster_choice(const Console& con, RunState& st)
{
    for (;;) {
        st.itype = ask_menu(con, "\n\ttype of DEM raster :", {"16 bits", "32 bits"});
        st.nomdescr4 = st.nomim4;
        st.escala =
            ask_menu(con, "\n\toutput hipsometric scale:", {"meters", "decimeters", "centimeters", "millimeters"});
        st.coef = coef_by_escala[st.escala];
        const std::string problem = range_problem(st);
        if (problem.empty()) return;
        con.out << problem;
    }
}

void raster_branch(const Console& con, RunState& st, const std::vector<KeptFile>& inputs)
{
    ask_raster_choice(con, st);
    st.nomim4 += image_suffix(st.itype);
    st.nomdescr4 += descriptor_suffix(st.itype);
    write_raster(target(st, st.nomim4, inputs), target(st, st.nomdescr4, inputs), grid_of(st),
                 {st.nb_lig, st.nb_col, st.itype, st.coef, st.pix_size, extents_of(st), st.retorno});
}

}  // namespace

void saving(RunState& st, const std::vector<KeptFile>& inputs)
{
    const Console con = console_of(st);
    st.nomfic1 = ask_word(con, "\n\n\tName of the resulting DEM (without any extension) ? ");
    st.nomim4 += st.nomfic1;
    st.format = ask_menu(con, "\n\tFormat Type :", {"ascii", "raster"});
    if (st.format == 1) {
        raster_branch(con, st, inputs);
        return;
    }
    st.nomim4 += asc_suffix();
    con.out << "\n\nOutput name " << st.nomim4 << " ";
    con.out.flush();
    write_asc(target(st, st.nomim4, inputs), grid_of(st), extents_of(st), st.pix_size, st.reading.threads);
}

}  // namespace kestranov
