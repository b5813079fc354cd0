// Arbitrary bytes as a model file that the companions read: an ASCII grid,
// or a raster image and its descriptor.
//
// The first byte chooses the form: an ASCII grid (<name>_lidar.asc), or an
// image named for 16 or 32 bits, or one named by its descriptor. For an
// image the next two bytes give the descriptor's length; the descriptor's
// text follows, then the image's bytes.
//
// Whatever the bytes, reading ends with a model or with the reader's error,
// never a crash or undefined behaviour (the target runs under ASan and
// UBSan); a model read has one value per cell, every value a finite number
// or (in an ASCII grid, for its nodata value exactly) empty, a finite corner
// when it has one, and in a 16-bit image every value within the 65536 units
// from the descriptor's minimum.
#include <cmath>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "models/model_error.h"
#include "models/model_input.h"
#include "models/raw_reader.h"

namespace {

using namespace kestranov::models;

void check_model(const Model& m, const std::filesystem::path& input, bool sixteen_bits)
{
    const ElevationGrid& g = m.grid;
    fuzz::check(g.rows > 0 && g.cols > 0 && g.z.size() == g.rows * g.cols, "a model without one value per cell");
    fuzz::check(g.cellsize > 0 && std::isfinite(g.cellsize), "a cell size that is not a positive number");
    fuzz::check(!g.xll || std::isfinite(*g.xll), "a corner that is not finite");
    fuzz::check(!g.yll || std::isfinite(*g.yll), "a corner that is not finite");
    for (double v : g.z) fuzz::check(std::isfinite(v) || (std::isnan(v) && g.nodata), "a value that is not finite");
    if (!sixteen_bits) return;
    std::ifstream in(raw_files_for(input).descriptor, std::ios::binary);
    const RawDescriptor d = parse_descriptor(in, "descriptor");
    for (double v : g.z)
        fuzz::check(v >= static_cast<double>(d.zmin) && v <= static_cast<double>(d.zmin) + 65535,
                    "a 16-bit value outside the 65536 units above the minimum");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const std::filesystem::path folder = fuzz::drive() / "m";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const int form = data[0] % 4;
    std::filesystem::path input;
    if (form == 0) {
        input = folder / "g_lidar.asc";
        write_file(input, bytes);
    } else {
        const std::size_t length = bytes.size() < 2
                                       ? 0
                                       : (static_cast<unsigned char>(bytes[0]) |
                                          static_cast<std::size_t>(static_cast<unsigned char>(bytes[1])) << 8);
        const std::string rest = bytes.size() < 2 ? std::string() : bytes.substr(2);
        const std::string stem = form == 2 ? "i_lidar_m4" : "i_lidar_m2";
        write_file(folder / (stem + ".txt"), rest.substr(0, std::min(length, rest.size())));
        write_file(folder / (stem + ".raw"), length < rest.size() ? rest.substr(length) : std::string());
        input = folder / (stem + (form == 3 ? ".txt" : ".raw"));
    }
    try {
        const Model m = read_model(input, std::nullopt, folder / "out.tif");
        check_model(
            m, input,
            form == 1 || (form == 3 && m.grid.z.size() * 2 == std::filesystem::file_size(folder / "i_lidar_m2.raw")));
    } catch (const ModelError&) {
        // A refusal, naming the file and the fault.
    }
    return 0;
}
