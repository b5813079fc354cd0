#include "tin/triangulation.h"

namespace tin {

namespace {

std::uint32_t next_random(std::uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

}  // namespace

Location locate(const std::vector<Vertex>& vertices, const std::vector<Triangle>& triangles, std::int32_t start,
                Point2 p, std::uint32_t& random)
{
    std::int32_t t = start;
    if (triangles[t].ghost()) t = triangles[t].n[triangles[t].index_of(kInfinite)];
    std::int32_t came_from = -1;
    for (;;) {
        const Triangle& tri = triangles[t];
        if (tri.ghost()) return {t, Location::Kind::outside, 0};
        const std::array<Point2, 3> corner{vertices[tri.v[0]].xy(), vertices[tri.v[1]].xy(), vertices[tri.v[2]].xy()};
        std::array<int, 3> side{1, 1, 1};
        // 0, 1 or 2 from the high bits, by a multiplication: no division.
        const int first = static_cast<int>((std::uint64_t{next_random(random)} * 3) >> 32);
        bool moved = false;
        for (int k = 0; k < 3 && !moved; ++k) {
            const int e = (first + k) % 3;
            // The edge we came through has the point strictly on this side.
            if (tri.n[e] == came_from) continue;
            side[e] = orientation(corner[next(e)], corner[previous(e)], p);
            if (side[e] < 0) {
                came_from = t;
                t = tri.n[e];
                moved = true;
            }
        }
        if (moved) continue;
        const int zeros = (side[0] == 0) + (side[1] == 0) + (side[2] == 0);
        if (zeros == 0) return {t, Location::Kind::inside, 0};
        if (zeros == 1) return {t, Location::Kind::edge, side[0] == 0 ? 0 : (side[1] == 0 ? 1 : 2)};
        // On two edges' lines: the vertex they share, opposite the third.
        return {t, Location::Kind::vertex, side[0] != 0 ? 0 : (side[1] != 0 ? 1 : 2)};
    }
}

}  // namespace tin
