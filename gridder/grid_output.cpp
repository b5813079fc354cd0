#include "gridder/grid_output.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "export/geotiff.h"
#include "gridder/door_reading.h"
#include "gridder/gdal_module.h"
#include "gridder/point_inputs.h"
#include "output/esri_asc.h"
#include "platform/output_file.h"

namespace kestranov::gridder {
namespace {

void write_geotiff(const GridOptions& o, const Lattice& l, const LatticeGrid* grid, const GridReport& report,
                   const std::vector<KeptFile>& inputs, const std::vector<double>& tin,
                   const std::vector<exporter::BandCells>& gathered)
{
    models::ElevationGrid frame;
    frame.rows = static_cast<std::size_t>(l.rows), frame.cols = static_cast<std::size_t>(l.cols);
    frame.cellsize = l.size, frame.xll = l.xmin, frame.yll = l.ymin, frame.nodata = o.nodata;
    exporter::GeoTiffBand band;
    band.float64 = o.float64, band.always_nodata = true, band.program = "kestranov-grid", band.north = l.ymax;
    band.threads = reading_of(o).threads;
    if (const auto& crs = report.system.crs) band.srs_wkt = crs->wkt, band.unit = crs->unit_code;
    // A band for each statistic; described by its name when --output-type named them.
    std::vector<exporter::GridRows> bands;
    std::vector<std::string> descriptions;
    const bool described = !o.statistics.empty() || o.tin_band;
    for (std::size_t k = 0; grid && k < grid->statistics().size(); ++k) {
        bands.push_back([grid, k](std::size_t r) { return grid->row(k, static_cast<std::int64_t>(r)); });
        if (described) descriptions.emplace_back(name_of(grid->statistics()[k]));
        if (k < gathered.size()) band.gathered.emplace_back(gathered[k]);
    }
    if (o.tin_band) {
        const auto at = static_cast<std::ptrdiff_t>(*o.tin_band);
        bands.insert(bands.begin() + at, [&tin, &frame](std::size_t r) { return tin.data() + r * frame.cols; });
        descriptions.insert(descriptions.begin() + at, "tin");
        // The tin band's cells were not gathered: the encoder reads them.
        if (!band.gathered.empty()) band.gathered.insert(band.gathered.begin() + at, std::nullopt);
    }
    write_bytes(o.output, gdal().encode_geotiff_bands(frame, bands, descriptions, band, o.output), inputs);
}

namespace fs = std::filesystem;

// A .prj an older grid left beside this one: GDAL's ASCII grid reader
// tries the grid's stem with .prj, then with .PRJ.
struct StalePrj {
    fs::path host, aside;
    std::string shown;
};

// The .prj names beside the grid that hold a file, but with `keep_prj` not
// the .prj being written, nor that file under another case in a folder
// that ignores case.
std::vector<StalePrj> stale_prjs(const OutputTarget& prj, bool keep_prj)
{
    std::vector<StalePrj> stale;
    for (const char* extension : {".prj", ".PRJ"}) {
        StalePrj s{fs::path(prj.host).replace_extension(extension),
                   {},
                   fs::path(prj.shown).replace_extension(extension).string()};
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(s.host, ec);
        if (!fs::exists(status) || fs::is_directory(status)) continue;
        if (keep_prj && (s.host == prj.host || fs::equivalent(s.host, prj.host, ec))) continue;
        if (!stale.empty() && fs::equivalent(s.host, stale.front().host, ec)) continue;
        stale.push_back(s);
    }
    return stale;
}

void put_back(const std::vector<StalePrj>& stale)
{
    std::error_code ec;
    for (const StalePrj& s : stale)
        if (!s.aside.empty()) fs::rename(s.aside, s.host, ec);
}

// An ASCII grid and a .prj left by an older grid (or a link of that name)
// under a name GDAL reads beside it: without a system, it would give the
// grid that grid's; with one, the .PRJ would stand beside the new .prj
// for any reader to take. The .prj is set aside before the grid is
// written, put back if the writing fails, and removed once the grid is in
// place; one that cannot be set aside stops the run before anything is
// written. Returns the removed names, or "".
std::string write_ascii(const OutputTarget& asc, const OutputTarget& prj, const std::string& esri_wkt,
                        const Lattice& lattice, const AscRow& row, double nodata)
{
    std::vector<StalePrj> stale = stale_prjs(prj, !esri_wkt.empty());
    for (std::size_t k = 0; k < stale.size(); ++k) {
        // A short name of its own: the .prj's name may be as long as the folder allows.
        const fs::path aside =
            stale[k].host.parent_path() / (".kst-prj-" + std::to_string(getpid()) + "-" + std::to_string(k));
        std::error_code ec;
        fs::rename(stale[k].host, aside, ec);
        if (ec) {
            put_back(stale);
            throw InputError(stale[k].shown + ": this .prj of an older grid cannot be removed (" + ec.message() +
                             "), and it would give " + asc.shown +
                             (esri_wkt.empty() ? ", written without a coordinate system, that grid's: nothing was "
                                                 "written (remove it, or give --srs)"
                                               : " that grid's coordinate system: nothing was written (remove it)"));
        }
        stale[k].aside = aside;
    }
    try {
        if (esri_wkt.empty())
            write_esri_asc(asc, lattice, row, nodata);
        else
            write_esri_asc(asc, prj, esri_wkt, lattice, row, nodata);
    } catch (...) {
        put_back(stale);
        throw;
    }
    std::string removed;
    for (const StalePrj& s : stale) {
        std::error_code ec;
        fs::remove(s.aside, ec);
        removed += (removed.empty() ? "" : ", ") + s.shown;
    }
    return removed;
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

std::string write_lattice_grid(const GridOptions& o, const Lattice& l, const LatticeGrid* grid,
                               const GridReport& report, const std::vector<KeptFile>& inputs,
                               const std::vector<double>& tin, const std::vector<exporter::BandCells>& gathered)
{
    if (o.kind == OutputKind::geotiff) {
        write_geotiff(o, l, grid, report, inputs, tin, gathered);
        return "";
    }
    const OutputTarget asc{o.output, o.output, &inputs};
    const OutputTarget prj = prj_beside(asc);
    const auto& crs = report.system.crs;
    // An ASCII grid holds one band: the TIN's when asked, else the statistic's.
    const AscRow row = o.tin_band ? AscRow([&tin, &l](std::int64_t r) { return tin.data() + r * l.cols; })
                                  : AscRow([grid](std::int64_t r) { return grid->row(r); });
    return write_ascii(asc, prj, crs ? crs->esri_wkt : std::string(), l, row, o.nodata);
}

}  // namespace kestranov::gridder
