#include "output/asc_writer.h"

#include <memory>

#include "core/lf_text.h"
#include "core/model_files.h"

namespace kestranov {

namespace {
constexpr std::size_t chunk_size = 1 << 16;
}

std::string asc_header(GridView grid, const Extents& e, double pix_size)
{
    return "ncols " + std::to_string(grid.nb_col) + "\nnrows " + std::to_string(grid.nb_lig) + "\nxllcorner " +
           lf(e.Xmin) + "\nyllcorner " + lf(e.Ymin) + "\ncellsize " + lf(pix_size) + "\nnodata_value " +
           std::string(asc_nodata_text) + "\n";
}

void write_asc(const OutputTarget& target, GridView grid, const Extents& e, double pix_size)
{
    OutputFile f4(target.host, OutputFile::Mode::text);
    require_created(f4, target);
    f4.write(asc_header(grid, e, pix_size));

    // The body has no line break, so it goes out untranslated, a chunk at a time.
    std::unique_ptr<char[]> chunk(new char[chunk_size + lf_max_chars + 1]);
    char* p = chunk.get();
    for (int i = 0; i < grid.nb_lig; ++i) {
        const double* row = grid.dtab[i];
        for (int j = 0; j < grid.nb_col; ++j) {
            p = put_lf(p, row[j]);
            *p++ = '\t';
            if (p - chunk.get() >= static_cast<std::ptrdiff_t>(chunk_size)) {
                f4.write(chunk.get(), static_cast<std::size_t>(p - chunk.get()));
                p = chunk.get();
            }
        }
    }
    f4.write(chunk.get(), static_cast<std::size_t>(p - chunk.get()));
    if (!f4.finish()) write_failed(target.shown);
    if (!f4.commit()) place_failed(target.shown);
}

}  // namespace kestranov
