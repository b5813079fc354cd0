#include "export_app.h"

#include <new>

#include "geotiff.h"
#include "models/model_error.h"
#include "models/model_input.h"
#include "models/raw_reader.h"
#include "platform/output_file.h"

namespace kestranov::exporter {
namespace {

using namespace kestranov::models;

constexpr const char* kProgram = "kestranov-export";

// A message kept to its one line: a file name may hold a line feed.
std::string one_line(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return text;
}

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

void export_model(const Options& opt, std::ostream& out, std::ostream& err)
{
    const std::filesystem::path output = opt.output ? *opt.output : default_output(opt.input);
    if (input_kind(opt.input) == InputKind::raw_image && !opt.scale)
        throw ModelError(opt.input.string(),
                         "a raster image needs --scale m, dm, cm or mm: its unit is in neither of its files");
    Model model = read_model(opt.input, opt.scale, output);
    for (const std::string& w : model.warnings) err << kProgram << ": warning: " << one_line(w) << "\n";
    if (!model.grid.xll || !model.grid.yll) {
        if (input_kind(opt.input) == InputKind::ascii_grid)
            throw ModelError(opt.input.string(),
                             "the header has no xllcorner or no yllcorner: nothing to georeference");
        throw ModelError(raw_files_for(opt.input).descriptor.string(),
                         "has no \"X min : ... Y min : ...\" line: nothing to georeference");
    }
    write_bytes(output, encode_geotiff(model.grid, opt.epsg, output.string()));
    out << "wrote " << output.string() << " (" << model.grid.cols << "x" << model.grid.rows << " cells, Float32 metres";
    if (opt.epsg) out << ", EPSG:" << *opt.epsg;
    out << ")\n";
    if (!opt.epsg)
        err << kProgram << ": note: " << one_line(output.string())
            << " has no coordinate system: the model files hold none (give --epsg CODE to write one)\n";
}

}  // namespace

std::string usage_text()
{
    return std::string("usage: ") + kProgram +
           " FILE [--scale m|dm|cm|mm] [--epsg CODE] [-o OUT.tif]\n"
           "  FILE         <name>_lidar.asc, <name>_lidar_m2.raw or <name>_lidar_m4.raw\n"
           "               (a .raw image needs its .txt descriptor beside it)\n"
           "  --scale U    unit of the integers in a .raw image: m, dm, cm or mm (required)\n"
           "  --epsg CODE  coordinate system to record, e.g. 32642 for UTM zone 42 north\n"
           "  -o OUT.tif   output GeoTIFF (default: FILE with extension .tif)\n";
}

std::filesystem::path default_output(const std::filesystem::path& input)
{
    std::filesystem::path out = input;
    out.replace_extension(".tif");
    return out;
}

int run_export(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    Options opt;
    try {
        opt = parse_arguments(args, true);
    } catch (const UsageError& e) {
        err << kProgram << ": " << one_line(e.what()) << " (" << kProgram << " --help shows the usage)\n";
        return 1;
    }
    if (opt.help) {
        out << usage_text();
        return 0;
    }
    const std::string input_name = opt.input.string();
    try {
        export_model(opt, out, err);
        return 0;
    } catch (const ModelError& e) {
        err << kProgram << ": " << one_line(e.what()) << "\n";
    } catch (const std::bad_alloc&) {
        err << kProgram << ": " << one_line(input_name) << ": grid too large to hold in memory\n";
    } catch (const std::exception& e) {
        err << kProgram << ": " << one_line(input_name + ": " + e.what()) << "\n";
    }
    return 1;
}

}  // namespace kestranov::exporter
