#include "preview/preview_app.h"

#include "core/model_files.h"
#include "models/companion_run.h"
#include "models/model_error.h"
#include "models/model_input.h"
#include "platform/memory.h"
#include "preview/geotiff_model.h"
#include "preview/png_writer.h"
#include "preview/prj_unit.h"
#include "preview/render.h"

namespace kestranov::preview {

using namespace kestranov::models;
namespace {

constexpr const char* kProgram = "kestranov-preview";

}  // namespace

std::string usage_text()
{
    return std::string("usage: ") + kProgram +
           " FILE [--scale m|dm|cm|mm] [-o OUT.png]\n"
           "  FILE         " +
           model_file_names() +
           ",\n"
           "               or a GeoTIFF (.tif) or VRT (.vrt, a tile plan's mosaic),\n"
           "               read through GDAL\n"
           "               (a .raw image needs its .txt descriptor beside it)\n"
           "  --scale U    unit of the integers in a .raw image: m, dm, cm or mm\n"
           "               (without it the legend shows stored units)\n"
           "  -o OUT.png   output picture (default: FILE with extension .png)\n";
}

std::filesystem::path default_output(const std::filesystem::path& input)
{
    Options opt;
    opt.input = input;
    return output_for(opt, ".png");
}

namespace {

// Shading needs metres so slopes match the cell size; the legend follows
// suit with as many decimals as the unit resolves. A raster image of unknown
// unit keeps its stored integers on the legend. A GeoTIFF's coordinate
// system names its unit, and a .prj beside an ESRI grid (kestranov-grid's)
// names the grid's: feet for data in feet, which the program's own models
// call metres. A GeoTIFF without a system says no unit.
LegendStyle legend_style(const Options& opt, const Model& model)
{
    if (model.own_unit) return {*model.own_unit, 2};
    if (!model.metres) return {"units", 0};
    const std::optional<exporter::LinearUnit> unit = unit_beside(opt.input);
    return {unit ? unit->code : "m",
            opt.scale && input_kind(opt.input) == InputKind::raw_image ? opt.scale->decimals : 2};
}

void draw_preview(const Options& opt, std::ostream& out, std::vector<std::string>& notices)
{
    const std::filesystem::path output = output_for(opt, ".png");
    const GeoTiffReader geotiff = [](const std::filesystem::path& file) {
        return read_geotiff_model(file, available_memory_bytes());
    };
    Model model = read_model(opt.input, opt.scale, output, geotiff);
    for (const std::string& w : model.warnings) notices.push_back("warning: " + w);
    const ElevationGrid& grid = model.grid;
    if (!elevation_range(grid).any)
        throw ModelError(opt.input.string(), "nothing to draw: every cell is empty (nodata)");
    const Rendered rendered = render_preview(grid, legend_style(opt, model));
    write_png(output, rendered.image);
    out << "wrote " << one_line(output.string()) << " (" << rendered.image.width() << "x" << rendered.image.height()
        << " pixels from " << grid.rows << "x" << grid.cols << " cells)\n";
}

}  // namespace

int run_preview(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    return run_companion(kProgram, usage_text(), false, args, out, err,
                         [](const Options& opt, std::ostream& out, std::vector<std::string>& notices) {
                             draw_preview(opt, out, notices);
                         });
}

}  // namespace kestranov::preview
