#include "platform/cpu_features.h"

#include <cstdlib>
#include <cstring>

namespace kestranov {

namespace {

constexpr VectorPath all_paths[] = {VectorPath::avx512, VectorPath::avx2, VectorPath::scalar};

// The widest path, or the one KESTRANOV_SIMD names when the processor has it.
VectorPath chosen_path()
{
    VectorPath path = VectorPath::scalar;
    for (VectorPath p : {VectorPath::avx2, VectorPath::avx512})
        if (vector_path_available(p)) path = p;
    if (const char* name = std::getenv("KESTRANOV_SIMD"))
        for (VectorPath p : all_paths)
            if (std::strcmp(name, vector_path_name(p)) == 0 && vector_path_available(p)) path = p;
    return path;
}

}  // namespace

bool vector_path_available(VectorPath path)
{
#if defined(__x86_64__)
    switch (path) {
        case VectorPath::avx512:
            return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
        case VectorPath::avx2:
            return __builtin_cpu_supports("avx2");
        default:
            return true;
    }
#else
    return path == VectorPath::scalar;
#endif
}

VectorPath vector_path(std::optional<VectorPath> wanted)
{
    static const VectorPath chosen = chosen_path();
    return wanted && vector_path_available(*wanted) ? *wanted : chosen;
}

const char* vector_path_name(VectorPath path)
{
    switch (path) {
        case VectorPath::avx512:
            return "avx512";
        case VectorPath::avx2:
            return "avx2";
        default:
            return "scalar";
    }
}

}  // namespace kestranov
