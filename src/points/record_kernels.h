// The record path's kernels, one per vector unit: each checks records
// against the cached shapes and converts the ones that fit. Used by
// record_path.cpp only.
#pragma once

#include <cstddef>
#include "points/record_path.h"

namespace kestranov {

std::size_t read_records_scalar(ShapeCache& cache, const char*& p, const char* end, double* out, std::size_t max);
std::size_t read_records_avx2(ShapeCache& cache, const char*& p, const char* end, double* out, std::size_t max);
std::size_t read_records_avx512(ShapeCache& cache, const char*& p, const char* end, double* out, std::size_t max);

bool fits_scalar(const RecordShape& s, const char* p);
void convert_scalar(const RecordShape& s, const char* p, double* out);

// The cached shape that fits the record at `p` wholly before `end`, or -1.
template <class Fits>
int shape_at(const ShapeCache& cache, const char* p, const char* end, Fits fits)
{
    for (int k = 0; k < cache.count; ++k) {
        const RecordShape& s = cache.shapes[k];
        if (p + s.length <= end && fits(s, p)) return k;
    }
    return -1;
}

}  // namespace kestranov
