#include "preview_app.h"

#include <algorithm>
#include <cctype>
#include <new>

#include "asc_reader.h"
#include "png_writer.h"
#include "preview_error.h"
#include "raw_reader.h"
#include "render.h"

namespace kestranov::preview {
namespace {

constexpr const char* kProgram = "kestranov-preview";

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code ec1, ec2;
    const auto ca = std::filesystem::weakly_canonical(a, ec1);
    const auto cb = std::filesystem::weakly_canonical(b, ec2);
    if (ec1 || ec2) return a.lexically_normal() == b.lexically_normal();
    return ca == cb;
}

}  // namespace

std::optional<ScaleUnit> scale_unit(const std::string& name)
{
    if (name == "m") return ScaleUnit{"m", 1.0, 0};
    if (name == "dm") return ScaleUnit{"dm", 10.0, 1};
    if (name == "cm") return ScaleUnit{"cm", 100.0, 2};
    if (name == "mm") return ScaleUnit{"mm", 1000.0, 3};
    return std::nullopt;
}

std::string usage_text()
{
    return std::string("usage: ") + kProgram +
           " FILE [--scale m|dm|cm|mm] [-o OUT.png]\n"
           "  FILE         <name>_lidar.asc, <name>_lidar_m2.raw or <name>_lidar_m4.raw\n"
           "               (a .raw image needs its .txt descriptor beside it)\n"
           "  --scale U    unit of the integers in a .raw image: m, dm, cm or mm\n"
           "               (without it the legend shows stored units)\n"
           "  -o OUT.png   output picture (default: FILE with extension .png)\n";
}

Options parse_arguments(const std::vector<std::string>& args)
{
    Options opt;
    bool have_input = false;
    bool options_done = false;
    const auto take_value = [&](std::size_t& i, const std::string& flag) -> std::string {
        if (i + 1 >= args.size()) throw UsageError(flag + " needs a value");
        return args[++i];
    };
    const auto set_scale = [&](const std::string& v) {
        opt.scale = scale_unit(v);
        if (!opt.scale) throw UsageError("bad --scale value '" + v + "' (use m, dm, cm or mm)");
    };
    const auto set_output = [&](const std::string& v) {
        if (v.empty()) throw UsageError("empty output file name");
        opt.output = v;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!options_done && a.size() > 1 && a[0] == '-') {
            if (a == "--")
                options_done = true;
            else if (a == "-h" || a == "--help")
                opt.help = true;
            else if (a == "--scale")
                set_scale(take_value(i, a));
            else if (a.rfind("--scale=", 0) == 0)
                set_scale(a.substr(8));
            else if (a == "-o" || a == "--output")
                set_output(take_value(i, a));
            else if (a.rfind("--output=", 0) == 0)
                set_output(a.substr(9));
            else
                throw UsageError("unknown option '" + a + "'");
            continue;
        }
        if (have_input) throw UsageError("more than one input file ('" + opt.input.string() + "' and '" + a + "')");
        if (a.empty()) throw UsageError("empty input file name");
        opt.input = a;
        have_input = true;
    }
    if (!have_input && !opt.help) throw UsageError("no input file given");
    return opt;
}

std::optional<InputKind> input_kind(const std::filesystem::path& input)
{
    const std::string ext = lower(input.extension().string());
    if (ext == ".asc") return InputKind::ascii_grid;
    if (ext == ".raw" || ext == ".txt") return InputKind::raw_image;
    return std::nullopt;
}

std::filesystem::path default_output(const std::filesystem::path& input)
{
    std::filesystem::path out = input;
    out.replace_extension(".png");
    return out;
}

int run_preview(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    Options opt;
    try {
        opt = parse_arguments(args);
    } catch (const UsageError& e) {
        err << kProgram << ": " << e.what() << "\n" << usage_text();
        return 1;
    }
    if (opt.help) {
        out << usage_text();
        return 0;
    }

    const std::string input_name = opt.input.string();
    try {
        const auto kind = input_kind(opt.input);
        if (!kind)
            throw PreviewError(input_name,
                               "unrecognised file type (expected <name>_lidar.asc, <name>_lidar_m2.raw or "
                               "<name>_lidar_m4.raw)");
        const std::filesystem::path output = opt.output ? *opt.output : default_output(opt.input);

        ElevationGrid grid;
        LegendStyle style;
        if (*kind == InputKind::ascii_grid) {
            if (opt.scale && opt.scale->name != "m")
                err << kProgram << ": warning: --scale " << opt.scale->name
                    << " ignored: ASCII grid values are already in metres\n";
            if (same_file(output, opt.input)) throw PreviewError(output.string(), "would overwrite the input");
            grid = read_asc(opt.input);
            style = {"m", 2};
        } else {
            const RawFiles files = raw_files_for(opt.input);
            if (same_file(output, files.image) || same_file(output, files.descriptor))
                throw PreviewError(output.string(), "would overwrite the input");
            RawGrid raw = read_raw(opt.input);
            for (const std::string& w : raw.warnings) err << kProgram << ": warning: " << w << "\n";
            grid = std::move(raw.grid);
            if (opt.scale) {
                // Shading needs metres so slopes match the cell size; the legend
                // follows suit with as many decimals as the unit resolves.
                for (double& v : grid.z) v /= opt.scale->divisor;
                style = {"m", opt.scale->decimals};
            } else {
                // Unit unknown: keep stored integers on the legend, shade as if metres.
                style = {"units", 0};
            }
        }

        if (!elevation_range(grid).any) throw PreviewError(input_name, "nothing to draw: every cell is empty (nodata)");
        const Rendered rendered = render_preview(grid, style);
        write_png(output, rendered.image);
        out << "wrote " << output.string() << " (" << rendered.image.width() << "x" << rendered.image.height()
            << " pixels from " << grid.rows << "x" << grid.cols << " cells)\n";
        return 0;
    } catch (const PreviewError& e) {
        err << kProgram << ": " << e.what() << "\n";
    } catch (const std::bad_alloc&) {
        err << kProgram << ": " << input_name << ": grid too large to hold in memory\n";
    } catch (const std::exception& e) {
        err << kProgram << ": " << input_name << ": " << e.what() << "\n";
    }
    return 1;
}

}  // namespace kestranov::preview
