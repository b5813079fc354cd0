#include "models/companion_cli.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace kestranov::models {
namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// A positive EPSG code: digits only, as the registry numbers them.
int epsg_code(const std::string& v)
{
    int code = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), code);
    if (v.empty() || ec != std::errc() || end != v.data() + v.size() || code <= 0 || !std::isdigit(v.front()))
        throw UsageError("bad --epsg value '" + v + "' (a positive EPSG code such as 32642)");
    return code;
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

Options parse_arguments(const std::vector<std::string>& args, bool takes_epsg)
{
    Options opt;
    bool have_input = false;
    const auto set_scale = [&](const std::string& v) {
        opt.scale = scale_unit(v);
        if (!opt.scale) throw UsageError("bad --scale value '" + v + "' (use m, dm, cm or mm)");
    };
    const auto set_output = [&](const std::string& v) {
        if (v.empty()) throw UsageError("empty output file name");
        opt.output = v;
    };

    ArgumentScanner s(args);
    while (s.next()) {
        const std::string& a = s.name();
        if (s.is_option()) {
            // Only the options that take a value take it as --name=value.
            const bool takes_value = a == "--scale" || a == "--output" || (takes_epsg && a == "--epsg");
            if (s.attached() && !takes_value) throw UsageError("unknown option '" + s.word() + "'");
            if (a == "-h" || a == "--help")
                opt.help = true;
            else if (a == "--version")
                opt.version = true;
            else if (a == "--scale")
                set_scale(s.value());
            else if (a == "-o" || a == "--output")
                set_output(s.value());
            else if (takes_epsg && a == "--epsg")
                opt.epsg = epsg_code(s.value());
            else
                throw UsageError("unknown option '" + a + "'");
            continue;
        }
        if (have_input) throw UsageError("more than one input file ('" + opt.input.string() + "' and '" + a + "')");
        if (a.empty()) throw UsageError("empty input file name");
        opt.input = a;
        have_input = true;
    }
    if (!have_input && !opt.help && !opt.version) throw UsageError("no input file given");
    return opt;
}

std::optional<InputKind> input_kind(const std::filesystem::path& input)
{
    const std::string ext = lower(input.extension().string());
    if (ext == ".asc") return InputKind::ascii_grid;
    if (ext == ".raw" || ext == ".txt") return InputKind::raw_image;
    return std::nullopt;
}

std::filesystem::path output_for(const Options& opt, const char* extension)
{
    if (opt.output) return *opt.output;
    std::filesystem::path out = opt.input;
    out.replace_extension(extension);
    return out;
}

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code ec1, ec2;
    const auto ca = std::filesystem::weakly_canonical(a, ec1);
    const auto cb = std::filesystem::weakly_canonical(b, ec2);
    if (ec1 || ec2) return a.lexically_normal() == b.lexically_normal();
    return ca == cb;
}

}  // namespace kestranov::models
