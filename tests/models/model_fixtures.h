#pragma once
// Model files written as the program writes them, for the tests of the
// readers and of the companions that use them.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestranov::models::testing {

namespace fs = std::filesystem;

// The lower left corner of every fixture model.
constexpr double fixture_xll = 512000.0;
constexpr double fixture_yll = 5401000.0;

// The ASCII grid as the program writes it: CR LF header, every value "%lf"
// plus a TAB, all on one line. NaN cells are written as the nodata value.
std::string asc_text(std::size_t rows, std::size_t cols, double cellsize, const std::vector<double>& z);
void write_asc(const fs::path& file, std::size_t rows, std::size_t cols, double cellsize, const std::vector<double>& z);

// The .txt descriptor, notes and corners included.
std::string descriptor_text(std::int64_t rows, std::int64_t cols, int bytes, std::int64_t zmin, std::int64_t zmax,
                            double cellsize);

// Writes image + descriptor; `scaled` holds the integer elevations. The 16-bit
// variant stores each value modulo 65536; the descriptor's min/max are computed.
void write_raw16(const fs::path& raw, std::size_t rows, std::size_t cols, double cellsize,
                 const std::vector<std::int64_t>& scaled);
void write_raw32(const fs::path& raw, std::size_t rows, std::size_t cols, double cellsize,
                 const std::vector<std::int64_t>& scaled);

}  // namespace kestranov::models::testing
