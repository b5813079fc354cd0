#include "models/model_input.h"

#include <algorithm>
#include <cctype>

#include "core/model_files.h"
#include "models/asc_reader.h"
#include "models/model_error.h"
#include "models/raw_reader.h"

namespace kestranov::models {
namespace {

void ignored_scale(const std::optional<ScaleUnit>& scale, const char* why, Model& model)
{
    if (scale && scale->name != "m") model.warnings.push_back("--scale " + scale->name + " ignored: " + why);
}

// GDAL would wait on a FIFO forever and tells a missing file in words of its own.
void require_regular_file(const std::filesystem::path& input)
{
    std::error_code ec;
    if (!std::filesystem::exists(input, ec)) throw ModelError(input.string(), "no such file");
    if (std::filesystem::is_directory(input, ec)) throw ModelError(input.string(), "is a directory, not a grid file");
    if (!std::filesystem::is_regular_file(input, ec)) throw ModelError(input.string(), "is not a regular file");
}

Model read_geotiff(const std::filesystem::path& input, const std::optional<ScaleUnit>& scale,
                   const std::filesystem::path& output, const GeoTiffReader& geotiff)
{
    if (same_file(output, input)) throw ModelError(output.string(), "would overwrite the input");
    require_regular_file(input);
    Model model = geotiff(input);
    ignored_scale(scale, "a GeoTIFF's or VRT's values are read as they are stored", model);
    return model;
}

}  // namespace

bool geotiff_name(const std::filesystem::path& input)
{
    std::string ext = input.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".tif" || ext == ".tiff" || ext == ".vrt";
}

Model read_model(const std::filesystem::path& input, const std::optional<ScaleUnit>& scale,
                 const std::filesystem::path& output, const GeoTiffReader& geotiff)
{
    if (geotiff && geotiff_name(input)) return read_geotiff(input, scale, output, geotiff);
    const auto kind = input_kind(input);
    if (!kind)
        throw ModelError(input.string(), "unrecognised file type (expected " + model_file_names() +
                                             (geotiff ? " or a GeoTIFF or VRT, .tif or .vrt)" : ")"));
    Model model;
    if (*kind == InputKind::ascii_grid) {
        ignored_scale(scale, "ASCII grid values are already in metres", model);
        if (same_file(output, input)) throw ModelError(output.string(), "would overwrite the input");
        model.grid = read_asc(input);
        return model;
    }
    const RawFiles files = raw_files_for(input);
    if (same_file(output, files.image) || same_file(output, files.descriptor))
        throw ModelError(output.string(), "would overwrite the input");
    RawGrid raw = read_raw(input);
    model.warnings = std::move(raw.warnings);
    model.grid = std::move(raw.grid);
    model.metres = scale.has_value();
    if (scale)
        for (double& v : model.grid.z) v /= scale->divisor;
    return model;
}

}  // namespace kestranov::models
