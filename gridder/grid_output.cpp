#include "gridder/grid_output.h"

#include <algorithm>
#include <filesystem>
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
    write_esri_asc(asc, grid, o.nodata);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(prj.host, ec))) return "";
    return std::filesystem::remove(prj.host, ec) ? prj.shown : "";
}

}  // namespace kestranov::gridder
