#include "output/esri_asc.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "core/fatal.h"
#include "core/messages.h"
#include "core/shortest_text.h"

namespace kestranov {

namespace {

constexpr std::size_t chunk_size = 1 << 16;

void check_nodata(double nodata, const OutputTarget& asc)
{
    if (!std::isfinite(nodata)) fail(nodata_not_writable(nodata, asc.shown));
}

[[noreturn]] void not_finite(double value, std::int64_t row, std::int64_t col, const OutputTarget& asc)
{
    fail(cell_not_writable(value, row, col, asc.shown));
}

void write_grid(OutputFile& file, const OutputTarget& asc, const Lattice& l, const AscRow& row, double nodata)
{
    file.write(esri_asc_header(l, nodata));
    char nodata_text[shortest_max_chars];
    const std::size_t nodata_length = static_cast<std::size_t>(put_shortest(nodata_text, nodata) - nodata_text);
    std::unique_ptr<char[]> chunk(new char[chunk_size + shortest_max_chars + 1]);
    char* p = chunk.get();
    for (std::int64_t r = 0; r < l.rows; ++r) {
        const double* const values = row(r);
        for (std::int64_t c = 0; c < l.cols; ++c) {
            const double v = values[c];
            if (std::isnan(v)) {
                std::copy_n(nodata_text, nodata_length, p);
                p += nodata_length;
            } else {
                if (!std::isfinite(v)) not_finite(v, r, c, asc);
                p = put_shortest(p, v);
            }
            *p++ = c + 1 < l.cols ? ' ' : '\n';
            if (p - chunk.get() >= static_cast<std::ptrdiff_t>(chunk_size)) {
                file.write(chunk.get(), static_cast<std::size_t>(p - chunk.get()));
                p = chunk.get();
            }
        }
    }
    file.write(chunk.get(), static_cast<std::size_t>(p - chunk.get()));
}

}  // namespace

std::string esri_asc_header(const Lattice& lattice, double nodata)
{
    return "ncols " + std::to_string(lattice.cols) + "\nnrows " + std::to_string(lattice.rows) + "\nxllcorner " +
           shortest(lattice.xmin) + "\nyllcorner " + shortest(lattice.ymin) + "\ncellsize " + shortest(lattice.size) +
           "\nNODATA_value " + shortest(nodata) + "\n";
}

void write_esri_asc(const OutputTarget& asc, const LatticeGrid& grid, double nodata)
{
    write_esri_asc(
        asc, grid.lattice(), [&grid](std::int64_t r) { return grid.row(r); }, nodata);
}

void write_esri_asc(const OutputTarget& asc, const OutputTarget& prj, std::string_view prj_text,
                    const LatticeGrid& grid, double nodata)
{
    write_esri_asc(
        asc, prj, prj_text, grid.lattice(), [&grid](std::int64_t r) { return grid.row(r); }, nodata);
}

void write_esri_asc(const OutputTarget& asc, const Lattice& lattice, const AscRow& row, double nodata)
{
    check_nodata(nodata, asc);
    OutputFile file(asc.host, OutputFile::Mode::binary);
    require_created(file, asc);
    write_grid(file, asc, lattice, row, nodata);
    if (!file.finish()) write_failed(asc.shown);
    if (!file.commit()) place_failed(asc.shown);
}

void write_esri_asc(const OutputTarget& asc, const OutputTarget& prj, std::string_view prj_text, const Lattice& lattice,
                    const AscRow& row, double nodata)
{
    check_nodata(nodata, asc);
    OutputFile file(asc.host, OutputFile::Mode::binary);
    require_created(file, asc);
    OutputFile beside(prj.host, OutputFile::Mode::binary);
    require_created(beside, prj);
    if (file.same_target(beside)) fail(outputs_are_one_file(asc.shown, prj.shown, "the grid and its .prj need two"));

    write_grid(file, asc, lattice, row, nodata);
    if (!file.finish()) write_failed(asc.shown);
    beside.write(prj_text);
    if (!beside.finish()) write_failed(prj.shown);
    const int misplaced = commit_pair(file, beside);
    if (misplaced == 1) place_failed(asc.shown);
    if (misplaced == 2) place_failed(prj.shown);
}

OutputTarget prj_beside(const OutputTarget& asc)
{
    OutputTarget prj = asc;
    prj.host.replace_extension(".prj");
    prj.shown = std::filesystem::path(asc.shown).replace_extension(".prj").string();
    return prj;
}

}  // namespace kestranov
