// The one accumulator of the range of points: the smallest and largest X, Y
// and Z of the points added, from the first one on (never from fixed
// guesses, so that negative coordinates, negative elevations and eastings
// beyond any guess get their true values). Every reading that gathers a
// range, the console's and the commands', adds its batches here.
#pragma once

#include <cstddef>

#include "core/extents.h"
#include "points/record_batch.h"

namespace kestranov {

class ExtentTally {
public:
    // X, Y and Z.
    void add(const Point* p, std::size_t n) { join<true>(p, n); }
    // X and Y alone, for a grid that needs no elevation range: Z stays that
    // of the first point.
    void add_plane(const Point* p, std::size_t n) { join<false>(p, n); }

    bool any() const { return any_; }
    const Extents& extents() const { return e_; }

private:
    // The first point starts the range once per batch, not tested per
    // point; X and Y side by side as one pair of lanes (GCC's and Clang's
    // vector types), a minimum and a maximum instruction per point.
    template <bool with_z>
    void join(const Point* p, std::size_t n)
    {
        using Pair = double __attribute__((vector_size(16)));
        if (n == 0) return;
        if (!any_) {
            e_.Xmin = e_.Xmax = p[0].x, e_.Ymin = e_.Ymax = p[0].y, e_.Zmin = e_.Zmax = p[0].z;
            any_ = true;
        }
        Pair low = {e_.Xmin, e_.Ymin}, high = {e_.Xmax, e_.Ymax};
        double zmin = e_.Zmin, zmax = e_.Zmax;
        for (std::size_t k = 0; k < n; ++k) {
            const Pair v = {p[k].x, p[k].y};
            low = v < low ? v : low;
            high = v > high ? v : high;
            if constexpr (with_z) {
                const double z = p[k].z;
                zmin = z < zmin ? z : zmin;
                zmax = z > zmax ? z : zmax;
            }
        }
        e_.Xmin = low[0], e_.Ymin = low[1], e_.Xmax = high[0], e_.Ymax = high[1];
        e_.Zmin = zmin, e_.Zmax = zmax;
    }

    Extents e_;
    bool any_ = false;
};

}  // namespace kestranov
