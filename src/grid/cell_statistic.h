// The statistics a cell of kestranov-grid's grid can give, one raster each,
// named as GIS tools name them.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace kestranov {

enum class Statistic { min, max, mean, count, stdev };

constexpr std::array<const char*, 5> statistic_names = {"min", "max", "mean", "count", "stdev"};

inline const char* name_of(Statistic s) { return statistic_names[static_cast<std::size_t>(s)]; }

// Whether a statistic is summed exactly (grid/exact_sums.h) rather than kept as a double.
inline bool summed(Statistic s) { return s == Statistic::mean || s == Statistic::count || s == Statistic::stdev; }

}  // namespace kestranov
