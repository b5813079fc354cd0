#include "gridder/grid_output.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "export/geotiff.h"
#include "gridder/gdal_module.h"
#include "gridder/point_inputs.h"
#include "output/esri_asc.h"
#include "platform/output_file.h"

namespace kestranov::gridder {
namespace {

void write_geotiff(const GridOptions& o, const LatticeGrid& grid, const GridReport& report,
                   const std::vector<KeptFile>& inputs)
{
    const Lattice& l = grid.lattice();
    models::ElevationGrid frame;
    frame.rows = static_cast<std::size_t>(l.rows), frame.cols = static_cast<std::size_t>(l.cols);
    frame.cellsize = l.size, frame.xll = l.xmin, frame.yll = l.ymin, frame.nodata = o.nodata;
    exporter::GeoTiffBand band;
    band.float64 = o.float64, band.always_nodata = true, band.program = "kestranov-grid", band.north = l.ymax;
    if (const auto& crs = report.system.crs) band.srs_wkt = crs->wkt, band.unit = crs->unit_code;
    const exporter::GridRows rows = [&](std::size_t r, double* values) {
        const double* row = grid.row(static_cast<std::int64_t>(r));
        std::copy(row, row + frame.cols, values);
    };
    write_bytes(o.output, gdal().encode_geotiff(frame, rows, band, o.output), inputs);
}

// An ASCII grid without a coordinate system, and a .prj of the same name
// left by an older grid (or a link of that name), which would give it that
// grid's system. The .prj is set aside before the grid is written, put
// back if the writing fails, and removed once the grid is in place; one
// that cannot be set aside stops the run before anything is written.
std::string write_without_crs(const OutputTarget& asc, const OutputTarget& prj, const LatticeGrid& grid, double nodata)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status stale = fs::symlink_status(prj.host, ec);
    if (!fs::exists(stale) || fs::is_directory(stale)) {
        write_esri_asc(asc, grid, nodata);
        return "";
    }
    // A short name of its own: the .prj's name may be as long as the folder allows.
    const fs::path aside = fs::path(prj.host).parent_path() / (".kst-prj-" + std::to_string(getpid()));
    fs::rename(prj.host, aside, ec);
    if (ec)
        throw InputError(prj.shown + ": this .prj of an older grid cannot be removed (" + ec.message() +
                         "), and it would give " + asc.shown +
                         ", written without a coordinate system, that grid's: nothing was written (remove it, or "
                         "give --srs)");
    try {
        write_esri_asc(asc, grid, nodata);
    } catch (...) {
        fs::rename(aside, prj.host, ec);
        throw;
    }
    fs::remove(aside, ec);
    return prj.shown;
}

}  // namespace

void write_bytes(const std::string& path, const std::vector<unsigned char>& bytes, const std::vector<KeptFile>& inputs)
{
    const OutputTarget target{path, path, &inputs};
    OutputFile file(target.host, OutputFile::Mode::binary);
    require_created(file, target);
    file.write(bytes.data(), bytes.size());
    if (!file.finish()) write_failed(path);
    if (!file.commit()) place_failed(path);
}

void require_output_folder(const std::string& output)
{
    const std::filesystem::path folder = std::filesystem::path(output).parent_path();
    if (folder.empty()) return;
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(folder, ec);
    if (!std::filesystem::exists(status))
        throw InputError("-o " + output + ": the folder " + folder.string() + " does not exist (create it first)");
    if (!std::filesystem::is_directory(status))
        throw InputError("-o " + output + ": " + folder.string() + " is not a folder");
}

std::string write_lattice_grid(const GridOptions& o, const LatticeGrid& grid, const GridReport& report,
                               const std::vector<KeptFile>& inputs)
{
    if (o.kind == OutputKind::geotiff) {
        write_geotiff(o, grid, report, inputs);
        return "";
    }
    const OutputTarget asc{o.output, o.output, &inputs};
    const OutputTarget prj = prj_beside(asc);
    if (const auto& crs = report.system.crs; crs && !crs->esri_wkt.empty()) {
        write_esri_asc(asc, prj, crs->esri_wkt, grid, o.nodata);
        return "";
    }
    return write_without_crs(asc, prj, grid, o.nodata);
}

}  // namespace kestranov::gridder
