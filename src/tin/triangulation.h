// A triangulation as flat arrays, and the walk that finds the triangle
// holding a point.
//
// Triangles are three vertex indices, counterclockwise, and the three
// neighbours across their edges: n[i] is across the edge opposite v[i]. The
// outside of the convex hull is covered by ghost triangles, one per hull
// edge, whose third vertex is kInfinite: the hull edge a -> b (outside on its
// left) is the ghost (a, b, kInfinite) in any rotation. Every triangle then
// has three neighbours, and insertion outside the hull is insertion into a
// ghost. 24 bytes a triangle, about two triangles a vertex.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tin/vertex.h"

namespace tin {

constexpr std::int32_t kInfinite = -1;

struct Triangle {
    std::array<std::int32_t, 3> v;
    std::array<std::int32_t, 3> n;

    bool ghost() const { return v[0] == kInfinite || v[1] == kInfinite || v[2] == kInfinite; }
    int index_of(std::int32_t vertex) const { return v[0] == vertex ? 0 : (v[1] == vertex ? 1 : 2); }
    int side_towards(std::int32_t triangle) const { return n[0] == triangle ? 0 : (n[1] == triangle ? 1 : 2); }
};

inline int next(int i) { return i == 2 ? 0 : i + 1; }
inline int previous(int i) { return i == 0 ? 2 : i - 1; }

struct Triangulation {
    // Every input point, in the order of insertion (not that of the input);
    // of points sharing (x, y) one is a vertex of the triangles, carrying the
    // kept z.
    std::vector<Vertex> vertices;
    // The triangles and the ghosts; empty when the points do not span a plane.
    std::vector<Triangle> triangles;
    // The most bytes the construction held at once (the vertices, their
    // copy in insertion order, that order, the triangles), counted from the
    // capacities.
    std::size_t construction_bytes = 0;

    bool empty() const { return triangles.empty(); }
};

// Where a walk stopped: inside triangle t, on its edge opposite v[index], on
// its vertex v[index], or outside the hull (t the ghost of a hull edge that
// the point lies strictly beyond).
struct Location {
    enum class Kind { inside, edge, vertex, outside };
    std::int32_t t;
    Kind kind;
    int index;
};

// The visibility walk from triangle `start`: across an edge the point lies
// strictly beyond, the edge tried first chosen by `random` (a walk that tries
// edges in a fixed order can circle forever in some triangulations).
Location locate(const std::vector<Vertex>& vertices, const std::vector<Triangle>& triangles, std::int32_t start,
                Point2 p, std::uint32_t& random);

}  // namespace tin
