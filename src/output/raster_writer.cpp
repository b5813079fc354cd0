#include "output/raster_writer.h"

#include <algorithm>
#include <climits>
#include <ostream>
#include <vector>

#include "output/lf_text.h"
#include "output/output_errors.h"
#include "output/scaled_value.h"
#include "platform/drive.h"
#include "run/console_input.h"
#include "run/run_state.h"

namespace {

constexpr const char* type_menu = "\n\ttype of DEM raster :\n\t\t0 ====> 16 bits\n\t\t1 ====> 32 bits\n\t\t";
constexpr const char* scale_menu =
    "\n\toutput hipsometric scale:\n\t\t0 ====> meters\n\t\t1 ====> decimeters"
    "\n\t\t2 ====> centimeters\n\t\t3 ====> millimeters\n\t\t";

double coef_of(int escala)
{
    double coef = 0.0;
    if (escala == 0) coef = 1.0;
    if (escala == 1) coef = 10.0;
    if (escala == 2) coef = 100.0;
    if (escala == 3) coef = 1000.0;
    return coef;
}

// The scaled range of everything the two files will carry: the cloud's
// extents (written into the descriptor) and the written cells (a mean can
// differ from the extremes in its last bit). Scaling is monotonic, so the
// extremes in metres give the extremes scaled.
void scaled_range(const RunState& st, std::int64_t& lo, std::int64_t& hi)
{
    // Four running extremes each, so that the comparisons do not wait on one another.
    double low[4], high[4];
    std::fill(low, low + 4, std::min(st.Zmin, st.Zmax));
    std::fill(high, high + 4, std::max(st.Zmin, st.Zmax));
    for (int i = 0; i < st.nb_lig; ++i) {
        const double* row = st.dtab[i];
        int j = 0;
        for (; j + 4 <= st.nb_col; j += 4)
            for (int k = 0; k < 4; ++k) {
                low[k] = std::min(low[k], row[j + k]);
                high[k] = std::max(high[k], row[j + k]);
            }
        for (; j < st.nb_col; ++j) {
            low[0] = std::min(low[0], row[j]);
            high[0] = std::max(high[0], row[j]);
        }
    }
    lo = scaled_value(*std::min_element(low, low + 4), st.coef);
    hi = scaled_value(*std::max_element(high, high + 4), st.coef);
}

// Empty when the choice keeps every elevation; otherwise what would be lost.
// A 16-bit cell holds its value modulo 65536, which a reader undoes with the
// descriptor's minimum as long as the span fits 16 bits; the descriptor
// itself holds the scaled extremes as 32-bit numbers for either type.
std::string range_problem(const RunState& st)
{
    std::int64_t lo = 0, hi = 0;
    scaled_range(st, lo, hi);
    const std::string range = std::to_string(lo) + " to " + std::to_string(hi);
    if (lo < INT32_MIN || hi > INT32_MAX)
        return "\n\n\tThe scaled elevations run from " + range + ", beyond the 32 bits of the raster descriptor: "
               "choose a coarser scale.";
    if (st.itype == 0 && hi - lo > 65535)
        return "\n\n\tThe scaled elevations run from " + range + ", a span of " + std::to_string(hi - lo) +
               ", more than the 65535 of a 16 bits raster: choose 32 bits or a coarser scale.";
    return {};
}

void ask_raster_choice(RunState& st)
{
    for (;;) {
        st.itype = ask_int(st, type_menu, [](long long v) { return v == 0 || v == 1; }, "\n\tPlease answer 0 or 1.");
        st.nomdescr4 = st.nomim4;
        st.escala = ask_int(st, scale_menu, [](long long v) { return v >= 0 && v <= 3; },
                            "\n\tPlease answer 0, 1, 2 or 3.");
        st.coef = coef_of(st.escala);
        const std::string problem = range_problem(st);
        if (problem.empty()) return;
        *st.out << problem;
    }
}

// Little-endian bytes of one cell, whatever the host (a single store on x86-64).
template <class Cell>
void put_le(unsigned char* out, std::int64_t value)
{
    const auto bits = static_cast<std::make_unsigned_t<Cell>>(value);
    for (std::size_t b = 0; b < sizeof(Cell); ++b) out[b] = static_cast<unsigned char>(bits >> (8 * b));
}

// The bytes of `n` scaled cells.
template <class Cell>
void put_scaled(unsigned char* out, const double* metres, int n, double coef)
{
    if (integer_scale(coef)) {
        const auto scale = static_cast<std::uint64_t>(coef);
        for (int j = 0; j < n; ++j) put_le<Cell>(out + j * sizeof(Cell), scaled_by_integer(metres[j], scale));
    } else {
        for (int j = 0; j < n; ++j) put_le<Cell>(out + j * sizeof(Cell), scaled_value_extended(metres[j], coef));
    }
}

// Scales the written cells a slice at a time and writes each slice: the
// image needs no second grid, so a raster run holds no more memory than an
// ASCII run, and a model without rows or columns simply writes nothing.
template <class Cell>
void write_image(const RunState& st, OutputFile& f4)
{
    constexpr int slice_cells = 1 << 16;
    std::vector<unsigned char> slice(slice_cells * sizeof(Cell));
    int used = 0;
    for (int i = 0; i < st.nb_lig; ++i)
        for (int j = 0; j < st.nb_col;) {
            const int n = std::min(st.nb_col - j, slice_cells - used);
            put_scaled<Cell>(slice.data() + static_cast<std::size_t>(used) * sizeof(Cell), st.dtab[i] + j, n, st.coef);
            used += n, j += n;
            if (used == slice_cells) f4.write(slice.data(), slice.size()), used = 0;
        }
    f4.write(slice.data(), static_cast<std::size_t>(used) * sizeof(Cell));
}

// The corners lie a fixed 2.5 m outside the cloud's extents, whatever the
// cell size; the sum is formed in extended precision and rounded to double.
double corner(double extent, long double offset) { return static_cast<double>(extent + offset); }

}  // namespace

std::string descriptor_text(const RunState& st)
{
    const int bytes = st.itype == 0 ? 2 : 4;
    std::string text = std::to_string(st.nb_lig) + "\n" + std::to_string(st.nb_col) + "\n" + std::to_string(bytes) +
                       "\n" + std::to_string(static_cast<std::int32_t>(scaled_value(st.Zmin, st.coef))) + "\n" +
                       std::to_string(static_cast<std::int32_t>(scaled_value(st.Zmax, st.coef))) + "\n" +
                       lf(st.pix_size) + "\n\n";
    text += "\n\n\tUTM Coordinates :";
    text += "\n\t\tX min : " + lf(corner(st.Xmin, -2.5L)) + " Y min : " + lf(corner(st.Ymin, -2.5L)) + " ";
    text += "\n\t\tX max : " + lf(corner(st.Xmax, 2.5L)) + " Y max : " + lf(corner(st.Ymax, 2.5L)) + " ";
    if (st.retorno == 0) text += "\n\n\tfirst return [MS generation] ";
    if (st.retorno == 1) text += "\n\n\tlast return [Provisional MT generation] ";
    text += "\n\n\t\t\t\tKestranov LIDAR DEM generator";
    return text;
}

void raster_branch(RunState& st)
{
    ask_raster_choice(st);
    st.nomim4 += st.itype == 0 ? "_lidar_m2.raw" : "_lidar_m4.raw";
    st.nomdescr4 += st.itype == 0 ? "_lidar_m2.txt" : "_lidar_m4.txt";

    OutputFile f4(host_path(st.drive_root, st.nomim4), OutputFile::Mode::binary);
    require_created(f4, st.nomim4);
    OutputFile f4d(host_path(st.drive_root, st.nomdescr4), OutputFile::Mode::text);
    require_created(f4d, st.nomdescr4);

    if (st.itype == 0)
        write_image<std::uint16_t>(st, f4);
    else
        write_image<std::int32_t>(st, f4);
    if (!f4.finish()) write_failed(st.nomim4);
    f4d.write(descriptor_text(st));
    if (!f4d.finish()) write_failed(st.nomdescr4);
    // The image and its descriptor describe each other: both take their
    // places, or the older pair stays as it was.
    const int misplaced = commit_pair(f4, f4d);
    if (misplaced == 1) place_failed(st.nomim4);
    if (misplaced == 2) place_failed(st.nomdescr4);
}
