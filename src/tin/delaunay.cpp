#include "tin/delaunay.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <utility>

#include "platform/memory.h"
#include "platform/threads.h"
#include "tin/insertion_order.h"

namespace tin {

namespace {

class Builder {
public:
    Builder(Triangulation& tin, KeepZ keep) : tin_(tin), keep_(keep) {}

    // The first triangle and its three ghosts, made of vertices 0, 1 and 2
    // (two of them found further on and swapped there); false when every
    // vertex is on one line.
    bool start();
    void insert(std::int32_t p);

private:
    Point2 at(std::int32_t v) const { return tin_.vertices[v].xy(); }
    std::int32_t add(std::int32_t a, std::int32_t b, std::int32_t c)
    {
        tin_.triangles.push_back({{a, b, c}, {-1, -1, -1}});
        return static_cast<std::int32_t>(tin_.triangles.size() - 1);
    }
    void set(std::int32_t t, std::array<std::int32_t, 3> v, std::array<std::int32_t, 3> n)
    {
        tin_.triangles[t] = {v, n};
    }
    // The neighbour `of` that pointed at `was` points at `now`.
    void repoint(std::int32_t of, std::int32_t was, std::int32_t now)
    {
        Triangle& t = tin_.triangles[of];
        t.n[t.side_towards(was)] = now;
    }
    void merge(std::int32_t kept, std::int32_t p);
    void split_triangle(std::int32_t t, std::int32_t p);
    void split_edge(std::int32_t t, int side, std::int32_t p);
    bool conflicts(std::int32_t t, std::int32_t p) const;
    void legalize(std::int32_t p);
    void flip(std::int32_t t, int i, std::int32_t o, int j);

    Triangulation& tin_;
    KeepZ keep_;
    std::int32_t last_ = 0;
    std::uint32_t random_ = 2463534242U;
    std::vector<std::int32_t> pending_;
};

bool Builder::start()
{
    std::vector<Vertex>& v = tin_.vertices;
    const auto same_place = [](const Vertex& p, const Vertex& q) { return p.x == q.x && p.y == q.y; };
    std::size_t second = 1;
    while (second < v.size() && same_place(v[second], v[0])) ++second;
    if (second >= v.size()) return false;
    std::size_t third = second + 1;
    int turn = 0;
    while (third < v.size() && (turn = orientation(v[0].xy(), v[second].xy(), v[third].xy())) == 0) ++third;
    if (third >= v.size()) return false;
    // The three go first; the points skipped over are inserted with the rest.
    std::swap(v[1], v[second]);
    std::swap(v[2], v[third]);
    std::int32_t p0 = 0, p1 = 1, p2 = 2;
    if (turn < 0) std::swap(p1, p2);
    // Triangle 0 and the ghosts of its edges p1 -> p0, p2 -> p1, p0 -> p2.
    set(add(p0, p1, p2), {p0, p1, p2}, {2, 3, 1});
    set(add(p1, p0, kInfinite), {p1, p0, kInfinite}, {3, 2, 0});
    set(add(p2, p1, kInfinite), {p2, p1, kInfinite}, {1, 3, 0});
    set(add(p0, p2, kInfinite), {p0, p2, kInfinite}, {2, 1, 0});
    return true;
}

void Builder::merge(std::int32_t kept, std::int32_t p)
{
    double& z = tin_.vertices[kept].z;
    const double other = tin_.vertices[p].z;
    z = keep_ == KeepZ::highest ? std::max(z, other) : std::min(z, other);
}

void Builder::insert(std::int32_t p)
{
    const Location where = locate(tin_.vertices, tin_.triangles, last_, at(p), random_);
    switch (where.kind) {
        case Location::Kind::vertex:
            merge(tin_.triangles[where.t].v[where.index], p);
            return;
        case Location::Kind::edge:
            split_edge(where.t, where.index, p);
            break;
        default:  // inside a triangle, or beyond a hull edge: inside its ghost
            split_triangle(where.t, p);
            break;
    }
    legalize(p);
}

// (a, b, c) -> (a, b, p), (b, c, p), (c, a, p).
void Builder::split_triangle(std::int32_t t, std::int32_t p)
{
    const Triangle old = tin_.triangles[t];
    const auto [a, b, c] = old.v;
    const auto [na, nb, nc] = old.n;
    const std::int32_t t1 = add(b, c, p);
    const std::int32_t t2 = add(c, a, p);
    set(t, {a, b, p}, {t1, t2, nc});
    set(t1, {b, c, p}, {t2, t, na});
    set(t2, {c, a, p}, {t, t1, nb});
    repoint(na, t, t1);
    repoint(nb, t, t2);
    pending_.insert(pending_.end(), {t, t1, t2});
}

// p on the edge a -> b of t = (a, b, c), opposite c; u = (b, a, d) beyond it
// (d may be kInfinite: then the edge is on the hull and its halves get ghosts).
void Builder::split_edge(std::int32_t t, int side, std::int32_t p)
{
    const Triangle old_t = tin_.triangles[t];
    const std::int32_t c = old_t.v[side], a = old_t.v[next(side)], b = old_t.v[previous(side)];
    const std::int32_t ta = old_t.n[next(side)], tb = old_t.n[previous(side)];
    const std::int32_t u = old_t.n[side];
    const Triangle old_u = tin_.triangles[u];
    const int j = old_u.side_towards(t);
    const std::int32_t d = old_u.v[j];
    const std::int32_t ub = old_u.n[next(j)], ua = old_u.n[previous(j)];
    const std::int32_t t2 = add(p, b, c);
    const std::int32_t t4 = add(p, a, d);
    set(t, {a, p, c}, {t2, tb, t4});
    set(t2, {p, b, c}, {ta, t, u});
    set(u, {b, p, d}, {t4, ua, t2});
    set(t4, {p, a, d}, {ub, u, t});
    repoint(ta, t, t2);
    repoint(ub, u, t4);
    pending_.insert(pending_.end(), {t, t2, u, t4});
}

// Whether p lies inside the circle of t: for a ghost, strictly beyond its hull
// edge or on the open edge itself.
bool Builder::conflicts(std::int32_t t, std::int32_t p) const
{
    const Triangle& tri = tin_.triangles[t];
    if (!tri.ghost()) return in_circle_perturbed(at(tri.v[0]), at(tri.v[1]), at(tri.v[2]), at(p)) > 0;
    const int k = tri.index_of(kInfinite);
    const Point2 a = at(tri.v[next(k)]), b = at(tri.v[previous(k)]), q = at(p);
    const int side = orientation(a, b, q);
    if (side != 0) return side > 0;
    return lexicographically_before(a, b) ? (lexicographically_before(a, q) && lexicographically_before(q, b))
                                          : (lexicographically_before(b, q) && lexicographically_before(q, a));
}

void Builder::legalize(std::int32_t p)
{
    while (!pending_.empty()) {
        const std::int32_t t = pending_.back();
        pending_.pop_back();
        const Triangle& tri = tin_.triangles[t];
        const int i = tri.index_of(p);
        const std::int32_t o = tri.n[i];
        if (conflicts(o, p)) {
            flip(t, i, o, tin_.triangles[o].side_towards(t));
        } else {
            last_ = t;
        }
    }
}

// t = (p, a, b) and o = (q, b, a) -> t = (p, a, q), o = (p, q, b).
void Builder::flip(std::int32_t t, int i, std::int32_t o, int j)
{
    const Triangle old_t = tin_.triangles[t], old_o = tin_.triangles[o];
    const std::int32_t p = old_t.v[i], a = old_t.v[next(i)], b = old_t.v[previous(i)];
    const std::int32_t q = old_o.v[j];
    const std::int32_t t_a = old_t.n[next(i)], t_b = old_t.n[previous(i)];
    const std::int32_t o_b = old_o.n[next(j)], o_a = old_o.n[previous(j)];
    set(t, {p, a, q}, {o_b, o, t_b});
    set(o, {p, q, b}, {o_a, t_a, t});
    repoint(o_b, o, t);
    repoint(t_a, t, o);
    pending_.push_back(t);
    pending_.push_back(o);
}

// The vertices in `order`, gathered into a new array: each read is
// independent of the others, so the processor keeps many of them in flight
// (following the permutation's cycles in place chains one cache miss to the
// next, and took several times as long). On two threads, each gathers half,
// the array's fresh pages given memory by both before.
std::vector<Vertex> gathered(const std::vector<Vertex>& vertices, const std::vector<std::uint32_t>& order, int threads)
{
    const std::size_t n = order.size();
    std::vector<Vertex> out;
    out.reserve(n);
    kestranov::prefer_large_pages(out.data(), n * sizeof(Vertex));
    kestranov::populate_for_writing(out.data(), n * sizeof(Vertex), threads > 1);
    out.resize(n);
    const auto gather = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k) out[k] = vertices[order[k]];
    };
    const std::size_t split = threads > 1 ? n / 2 : n;
    {
        const kestranov::Beside second(split < n, [&] { gather(split, n); });
        gather(0, split);
    }
    return out;
}

}  // namespace

bool coordinate_in_range(double v)
{
    const double magnitude = std::fabs(v);
    return v == 0.0 || (magnitude >= 0x1p-100 && magnitude <= 0x1p200);
}

Triangulation triangulate(std::vector<Vertex> points, KeepZ keep, int threads)
{
    if (points.size() > kMaxPoints) throw std::length_error("too many points for one triangulation");
    for (const Vertex& v : points) {
        if (!coordinate_in_range(v.x) || !coordinate_in_range(v.y)) {
            throw std::invalid_argument("a point's x or y is out of the triangulation's range");
        }
    }
    Triangulation tin;
    tin.vertices = std::move(points);
    if (tin.vertices.size() < 3) return tin;
    // The vertices themselves in the order of insertion: the walks and the
    // in-circle tests then read memory close to what they read last.
    std::vector<std::uint32_t> order = insertion_order(tin.vertices, threads);
    tin.construction_bytes = tin.vertices.capacity() * sizeof(Vertex) + order.size() * kOrderingBytesPerPoint;
    std::vector<Vertex> in_order = gathered(tin.vertices, order, threads);
    tin.construction_bytes =
        std::max(tin.construction_bytes, (tin.vertices.capacity() + in_order.capacity()) * sizeof(Vertex) +
                                             order.capacity() * sizeof(std::uint32_t));
    order = {};
    tin.vertices = std::move(in_order);
    // A triangulation of n vertices and its ghosts has 2n - 2 triangles.
    tin.triangles.reserve(2 * tin.vertices.size());
    // The walks and flips go everywhere in them: large pages spare the
    // address translation most of its misses (and the first touch its faults).
    kestranov::prefer_large_pages(tin.triangles.data(), tin.triangles.capacity() * sizeof(Triangle));
    tin.construction_bytes = std::max(
        tin.construction_bytes, tin.vertices.capacity() * sizeof(Vertex) + tin.triangles.capacity() * sizeof(Triangle));
    // The triangles are written from the front as the points go in: a
    // second thread has the system give their pages memory ahead of that,
    // so the zeroing of fresh pages is not on the inserting thread.
    std::optional<kestranov::Beside> faulting;
    if (threads > 1) {
        faulting.emplace(true, [data = tin.triangles.data(), bytes = tin.triangles.capacity() * sizeof(Triangle)] {
            kestranov::populate_for_writing(data, bytes);
        });
    }
    Builder builder(tin, keep);
    if (!builder.start()) {
        tin.triangles.clear();
        return tin;
    }
    for (std::size_t k = 3; k < tin.vertices.size(); ++k) builder.insert(static_cast<std::int32_t>(k));
    return tin;
}

}  // namespace tin
