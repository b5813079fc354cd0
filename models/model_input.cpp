#include "models/model_input.h"

#include "core/model_files.h"
#include "models/asc_reader.h"
#include "models/model_error.h"
#include "models/raw_reader.h"

namespace kestranov::models {

Model read_model(const std::filesystem::path& input, const std::optional<ScaleUnit>& scale,
                 const std::filesystem::path& output)
{
    const auto kind = input_kind(input);
    if (!kind) throw ModelError(input.string(), "unrecognised file type (expected " + model_file_names() + ")");
    Model model;
    if (*kind == InputKind::ascii_grid) {
        if (scale && scale->name != "m")
            model.warnings.push_back("--scale " + scale->name + " ignored: ASCII grid values are already in metres");
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
