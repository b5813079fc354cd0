// What the model files are, for the program that writes them and for the
// companions that read them back: the names they take after the DEM's
// name, the ASCII grid's nodata value, how far the raster descriptor's
// corners lie outside the cloud, and the bytes of a raster cell. Both
// sides take these from here, so that a format changes in one place and a
// reader cannot drift away from its writer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestranov {

// After the DEM's name: <name>_lidar.asc for the ASCII grid; for a raster,
// <name>_lidar_m2 (16-bit cells) or <name>_lidar_m4 (32-bit cells), with
// .raw for the image and .txt for its descriptor.
inline constexpr std::string_view model_tag = "_lidar";
inline constexpr std::string_view asc_extension = ".asc";
inline constexpr std::string_view image_extension = ".raw";
inline constexpr std::string_view descriptor_extension = ".txt";

// Bytes per cell of each raster type: 16-bit unsigned (itype 0) or 32-bit
// signed (itype 1). The number is also the descriptor's third line and the
// digit of the name's "_m2" or "_m4".
inline constexpr int raster16_bytes = 2;
inline constexpr int raster32_bytes = 4;
constexpr int raster_bytes(int itype) { return itype == 0 ? raster16_bytes : raster32_bytes; }

// "_m2" or "_m4": how a raster's name tells its bytes per cell.
inline std::string raster_name_tag(int bytes) { return "_m" + std::to_string(bytes); }

// The suffixes the program appends to the DEM's name.
inline std::string asc_suffix() { return std::string(model_tag) + std::string(asc_extension); }
inline std::string image_suffix(int itype)
{
    return std::string(model_tag) + raster_name_tag(raster_bytes(itype)) + std::string(image_extension);
}
inline std::string descriptor_suffix(int itype)
{
    return std::string(model_tag) + raster_name_tag(raster_bytes(itype)) + std::string(descriptor_extension);
}

// The names a companion takes, as its help and its complaints show them.
inline std::string model_file_names()
{
    return "<name>" + asc_suffix() + ", <name>" + image_suffix(0) + " or <name>" + image_suffix(1);
}

// The ASCII grid's nodata value, as its header writes it (the text itself,
// not "%lf" of a double, which would add two zeros).
inline constexpr std::string_view asc_nodata_text = "-9999.9999";

// The raster descriptor's corners lie this many metres outside the cloud's
// extents, whatever the cell size; a reader narrows them back by as much.
inline constexpr double descriptor_margin = 2.5;
// The same in millionths of a metre, the last digit the descriptor writes.
inline constexpr std::int64_t descriptor_margin_micro = static_cast<std::int64_t>(descriptor_margin * 1000000);

}  // namespace kestranov
