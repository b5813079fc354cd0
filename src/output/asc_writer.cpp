#include "output/asc_writer.h"

#include <memory>

#include "output/lf_text.h"
#include "output/output_errors.h"
#include "platform/drive.h"
#include "run/run_state.h"

namespace {
constexpr std::size_t chunk_size = 1 << 16;
}

std::string asc_header(const RunState& st)
{
    return "ncols " + std::to_string(st.nb_col) + "\nnrows " + std::to_string(st.nb_lig) + "\nxllcorner " +
           lf(st.Xmin) + "\nyllcorner " + lf(st.Ymin) + "\ncellsize " + lf(st.pix_size) +
           "\nnodata_value -9999.9999\n";
}

void write_asc(RunState& st)
{
    OutputFile f4(host_path(st.drive_root, st.nomim4), OutputFile::Mode::text);
    require_created(f4, st.nomim4);
    f4.write(asc_header(st));

    // The body has no line break, so it goes out untranslated, a chunk at a time.
    std::unique_ptr<char[]> chunk(new char[chunk_size + lf_max_chars + 1]);
    char* p = chunk.get();
    for (int i = 0; i < st.nb_lig; ++i) {
        const double* row = st.dtab[i];
        for (int j = 0; j < st.nb_col; ++j) {
            p = put_lf(p, row[j]);
            *p++ = '\t';
            if (p - chunk.get() >= static_cast<std::ptrdiff_t>(chunk_size)) {
                f4.write(chunk.get(), static_cast<std::size_t>(p - chunk.get()));
                p = chunk.get();
            }
        }
    }
    f4.write(chunk.get(), static_cast<std::size_t>(p - chunk.get()));
    if (!f4.finish()) write_failed(st.nomim4);
    if (!f4.commit()) place_failed(st.nomim4);
}
