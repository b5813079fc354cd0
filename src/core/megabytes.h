// Memory told in a refusal, in megabytes of a million bytes: what is
// needed rounds up and what is available rounds down, so a refusal never
// reads as needing no more than there is.
#pragma once

#include <cmath>
#include <string>

namespace kestranov {

inline std::string megabytes_up(double bytes) { return std::to_string(static_cast<long long>(std::ceil(bytes / 1e6))); }
inline std::string megabytes_down(double bytes) { return std::to_string(static_cast<long long>(bytes / 1e6)); }

}  // namespace kestranov
