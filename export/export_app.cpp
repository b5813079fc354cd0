#include "export/export_app.h"

#include <optional>

#include "core/model_files.h"
#include "export/geotiff.h"
#include "models/companion_run.h"
#include "models/model_error.h"
#include "models/model_input.h"
#include "models/raw_reader.h"
#include "platform/output_file.h"

namespace kestranov::exporter {
namespace {

using namespace kestranov::models;

constexpr const char* kProgram = "kestranov-export";

// Encoded whole in memory first, then written through the program's own
// output file: it appears only when complete, a link is written through, and
// a signal or a file-size limit leaves nothing behind.
void write_bytes(const std::filesystem::path& out, const std::vector<unsigned char>& bytes)
{
    const std::string name = out.string();
    OutputFile file(out, OutputFile::Mode::binary);
    if (!file.opened()) throw ModelError(name, "cannot be created");
    file.write(bytes.data(), bytes.size());
    if (!file.finish()) throw ModelError(name, "write failed; nothing was kept");
    if (!file.commit()) throw ModelError(name, "written but could not take its place; nothing was kept");
}

// The summary's band: its unit only where the coordinate system says it.
// The model's numbers are in the unit of the points' coordinates, so a
// projected system's linear unit is theirs (feet for a Lambert conformal
// conic in feet); a geographic system's cells are degrees and say nothing
// of the heights, and without a system the file records no unit.
std::string band_summary(const std::optional<EpsgSystem>& system)
{
    if (!system) return "Float32";
    return std::string("Float32") + (system->unit ? " " + system->unit->many : "") +
           ", EPSG:" + std::to_string(system->code);
}

void export_model(const Options& opt, std::ostream& out, std::vector<std::string>& notices)
{
    // The code is checked before any model file is read.
    const std::optional<EpsgSystem> system = opt.epsg ? std::optional(epsg_system(*opt.epsg)) : std::nullopt;
    const std::filesystem::path output = output_for(opt, ".tif");
    if (input_kind(opt.input) == InputKind::raw_image && !opt.scale)
        throw ModelError(opt.input.string(),
                         "a raster image needs --scale m, dm, cm or mm: its unit is in neither of its files");
    Model model = read_model(opt.input, opt.scale, output);
    for (const std::string& w : model.warnings) notices.push_back("warning: " + w);
    if (!model.grid.xll || !model.grid.yll) {
        if (input_kind(opt.input) == InputKind::ascii_grid)
            throw ModelError(opt.input.string(),
                             "the header has no xllcorner or no yllcorner: nothing to georeference");
        throw ModelError(raw_files_for(opt.input).descriptor.string(),
                         "has no \"X min : ... Y min : ...\" line with two numbers: nothing to georeference");
    }
    write_bytes(output, encode_geotiff(model.grid, system, opt.input.string()));
    out << "wrote " << one_line(output.string()) << " (" << model.grid.cols << "x" << model.grid.rows << " cells, "
        << band_summary(system) << ")\n";
    if (!system)
        notices.push_back("note: " + output.string() +
                          " has no coordinate system: the model files hold none (give --epsg CODE to write one)");
}

}  // namespace

std::string usage_text()
{
    return std::string("usage: ") + kProgram +
           " FILE [--scale m|dm|cm|mm] [--epsg CODE] [-o OUT.tif]\n"
           "  FILE         " +
           model_file_names() +
           "\n"
           "               (a .raw image needs its .txt descriptor beside it)\n"
           "  --scale U    unit of the integers in a .raw image: m, dm, cm or mm (required)\n"
           "  --epsg CODE  coordinate system to record, e.g. 32642 for UTM zone 42 north\n"
           "  -o OUT.tif   output GeoTIFF (default: FILE with extension .tif)\n";
}

int run_export(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    return run_companion(kProgram, usage_text(), true, args, out, err, export_model);
}

}  // namespace kestranov::exporter
