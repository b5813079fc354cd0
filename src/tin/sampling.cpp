#include "tin/sampling.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/memory.h"
#include "platform/threads.h"

namespace tin {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A walk toward one centre, advanced a triangle at a time.
struct Walk {
    enum class State { walking, inside, outside, unproven };
    Point2 p;
    std::int32_t t;
    std::int32_t came_from = -1;
    std::size_t steps = 0;
    State state = State::walking;
};

class Sampler {
public:
    // What the value inside a triangle takes from the triangle alone, kept
    // while the next centres fall in the same one.
    struct Setup {
        std::int32_t t = -1;
        int first = 0;
        double area = 0;
        bool kept = true;
    };

    Sampler(const Triangulation& tin, double max_edge)
        : tin_(tin), max_edge_(max_edge), limited_(std::isfinite(max_edge))
    {
    }

    void step(Walk& w) const;
    // The value at the end of a walk, its triangle left in `t`.
    double value(const Walk& w, std::int32_t& t, Setup& setup);

private:
    const Vertex& vertex(std::int32_t v) const { return tin_.vertices[v]; }
    bool long_edge(std::int32_t a, std::int32_t b) const
    {
        if (a == kInfinite || b == kInfinite) return true;
        const double dx = vertex(a).x - vertex(b).x, dy = vertex(a).y - vertex(b).y;
        return dx * dx + dy * dy > max_edge_ * max_edge_;
    }
    bool short_triangle(std::int32_t t) const
    {
        const Triangle& tri = tin_.triangles[t];
        return !long_edge(tri.v[0], tri.v[1]) && !long_edge(tri.v[1], tri.v[2]) && !long_edge(tri.v[2], tri.v[0]);
    }
    int side(const Triangle& tri, int e, Point2 p) const
    {
        return filtered_orientation_sign(vertex(tri.v[next(e)]).xy(), vertex(tri.v[previous(e)]).xy(), p);
    }
    bool vertex_kept(std::int32_t t, int index) const;
    double inside(std::int32_t t, Point2 p, Setup& setup) const;
    double on_edge(std::int32_t a, std::int32_t b, Point2 p) const;

    const Triangulation& tin_;
    double max_edge_;
    bool limited_;
    std::uint32_t random_ = 2463534242U;
};

// One step of the walk to w.p: across an edge that the floating-point
// filter proves p strictly beyond, or the end, in a triangle whose edges it
// proves p strictly within (or beyond a hull edge: outside). Consecutive
// centres are close, so a walk is most often a step or a few, with no exact
// arithmetic. Where a sign is left unproven (p on an edge's line or too near
// it), the exact walk takes over from there (value()). Either way the place
// is the one the exact walk finds: strictly inside a triangle there is one,
// and on an edge or a vertex the value does not depend on which triangle
// around it was reached.
void Sampler::step(Walk& w) const
{
    // A bound the walk never reaches in a Delaunay triangulation: a guard.
    if (++w.steps > tin_.triangles.size()) {
        w.state = Walk::State::unproven;
        return;
    }
    const Triangle& tri = tin_.triangles[w.t];
    int across = -1;
    if (tri.ghost()) {
        // Strictly beyond a hull edge is outside; short of it, back in.
        const int k = tri.index_of(kInfinite);
        const int beyond = side(tri, k, w.p);
        if (beyond > 0) w.state = Walk::State::outside;
        if (beyond == 0) w.state = Walk::State::unproven;
        if (beyond < 0) across = k;
    } else {
        int unproven = 0;
        for (int e = 0; e < 3 && across < 0; ++e) {
            // The edge just crossed has p strictly on this side.
            if (tri.n[e] == w.came_from) continue;
            const int s = side(tri, e, w.p);
            if (s < 0) across = e;
            unproven += s == 0;
        }
        if (across < 0) w.state = unproven == 0 ? Walk::State::inside : Walk::State::unproven;
    }
    if (across >= 0) {
        w.came_from = w.t;
        w.t = tri.n[across];
        // Read by this walk's next step, after the other walks' steps.
        __builtin_prefetch(&tin_.triangles[w.t]);
    }
}

double Sampler::value(const Walk& w, std::int32_t& t, Setup& setup)
{
    Location where{w.t, Location::Kind::inside, 0};
    if (w.state == Walk::State::outside) where.kind = Location::Kind::outside;
    if (w.state == Walk::State::unproven) where = locate(tin_.vertices, tin_.triangles, w.t, w.p, random_);
    t = where.t;
    const Triangle& tri = tin_.triangles[t];
    switch (where.kind) {
        case Location::Kind::outside:
            return kNaN;
        case Location::Kind::vertex:
            if (limited_ && !vertex_kept(t, where.index)) return kNaN;
            return vertex(tri.v[where.index]).z;
        case Location::Kind::edge: {
            const std::int32_t a = tri.v[next(where.index)], b = tri.v[previous(where.index)];
            if (limited_ && (long_edge(a, b) || (!short_triangle(t) && !short_triangle(tri.n[where.index])))) {
                return kNaN;
            }
            return on_edge(a, b, w.p);
        }
        default:
            return inside(t, w.p, setup);
    }
}

// Whether one of the triangles around the vertex has no long edge: turning
// around it across the edges that leave it.
bool Sampler::vertex_kept(std::int32_t t, int index) const
{
    const std::int32_t v = tin_.triangles[t].v[index];
    std::int32_t around = t;
    do {
        if (short_triangle(around)) return true;
        const Triangle& tri = tin_.triangles[around];
        around = tri.n[previous(tri.index_of(v))];
    } while (around != t);
    return false;
}

double Sampler::inside(std::int32_t t, Point2 p, Setup& setup) const
{
    const Triangle& tri = tin_.triangles[t];
    if (setup.t != t) {
        // From the earliest vertex, counterclockwise: the same arithmetic for
        // the same triangle whichever rotation the construction left it in.
        int first = 0;
        for (int i = 1; i < 3; ++i) {
            if (lexicographically_before(vertex(tri.v[i]).xy(), vertex(tri.v[first]).xy())) first = i;
        }
        const Point2 a = vertex(tri.v[first]).xy(), b = vertex(tri.v[next(first)]).xy(),
                     c = vertex(tri.v[previous(first)]).xy();
        setup = {t, first, orientation_value(a, b, c), !limited_ || short_triangle(t)};
    }
    if (!setup.kept) return kNaN;
    const Vertex& a = vertex(tri.v[setup.first]);
    const Vertex& b = vertex(tri.v[next(setup.first)]);
    const Vertex& c = vertex(tri.v[previous(setup.first)]);
    const double area = setup.area;
    const double wb = orientation_value(a.xy(), p, c.xy()) / area;
    const double wc = orientation_value(a.xy(), b.xy(), p) / area;
    const double z = a.z + (wb * (b.z - a.z) + wc * (c.z - a.z));
    if (std::isfinite(z)) return z;
    // Elevations of both signs near the largest double: their differences
    // overflow though the value between them cannot. Made again where the
    // exponent reaches further; every other cell keeps the arithmetic above.
    using Wide = long double;
    return static_cast<double>(Wide{a.z} + (Wide{wb} * (Wide{b.z} - Wide{a.z}) + Wide{wc} * (Wide{c.z} - Wide{a.z})));
}

double Sampler::on_edge(std::int32_t a, std::int32_t b, Point2 p) const
{
    if (lexicographically_before(vertex(b).xy(), vertex(a).xy())) std::swap(a, b);
    const Vertex& from = vertex(a);
    const Vertex& to = vertex(b);
    // Along the axis the edge spans more of.
    const double dx = to.x - from.x, dy = to.y - from.y;
    const double share = std::fabs(dx) >= std::fabs(dy) ? (p.x - from.x) / dx : (p.y - from.y) / dy;
    const double z = from.z + share * (to.z - from.z);
    if (std::isfinite(z)) return z;
    using Wide = long double;  // as inside a triangle
    return static_cast<double>(Wide{from.z} + Wide{share} * (Wide{to.z} - Wide{from.z}));
}

// Rows walked at once: their walks are independent, and taken a step each
// in turn they keep several cache misses in flight where one walk alone
// waits for each triangle in turn.
constexpr std::size_t kRowsAtOnce = 8;

// Rows [from, to) of the lattice into `values`, kRowsAtOnce at a time, each
// group starting from the triangle of the first centre of the row above.
void sample_rows(const Triangulation& tin, const CellLattice& lattice, double max_edge, std::size_t from,
                 std::size_t to, double* values)
{
    Sampler sampler(tin, max_edge);
    const auto centre = [&](std::size_t r, std::size_t c) {
        return Point2{lattice.x_min + (static_cast<double>(lattice.first_column + c) + 0.5) * lattice.size,
                      lattice.y_max - (static_cast<double>(lattice.first_row + r) + 0.5) * lattice.size};
    };
    std::int32_t row_start = 0;
    for (std::size_t r = from; r < to; r += kRowsAtOnce) {
        const std::size_t rows = std::min(kRowsAtOnce, to - r);
        std::array<std::int32_t, kRowsAtOnce> t{};
        t.fill(row_start);
        std::array<Sampler::Setup, kRowsAtOnce> setup{};
        for (std::size_t c = 0; c < lattice.columns; ++c) {
            std::array<Walk, kRowsAtOnce> walks{};
            for (std::size_t i = 0; i < kRowsAtOnce; ++i) {
                walks[i] = i < rows ? Walk{centre(r + i, c), t[i]} : Walk{{}, 0, -1, 0, Walk::State::inside};
            }
            for (bool walking = true; walking;) {
                walking = false;
                for (Walk& w : walks) {
                    if (w.state != Walk::State::walking) continue;
                    sampler.step(w);
                    walking = walking || w.state == Walk::State::walking;
                }
            }
            for (std::size_t i = 0; i < rows; ++i) {
                values[(r + i) * lattice.columns + c] = sampler.value(walks[i], t[i], setup[i]);
            }
            if (c == 0) row_start = t[rows - 1];
        }
    }
}

}  // namespace

std::vector<double> sample(const Triangulation& tin, const CellLattice& lattice, double max_edge, int threads)
{
    // Fresh pages given memory by both threads before they are filled.
    const std::size_t cells = lattice.rows * lattice.columns;
    std::vector<double> values;
    values.reserve(cells);
    kestranov::populate_for_writing(values.data(), cells * sizeof(double), threads > 1);
    values.assign(cells, kNaN);
    if (tin.empty()) return values;
    // A value does not depend on where the walk to it came from: on two
    // threads, each takes a band of rows.
    const std::size_t split = threads > 1 ? lattice.rows / 2 : lattice.rows;
    {
        const kestranov::Beside south(split < lattice.rows,
                                      [&] { sample_rows(tin, lattice, max_edge, split, lattice.rows, values.data()); });
        sample_rows(tin, lattice, max_edge, 0, split, values.data());
    }
    return values;
}

}  // namespace tin
