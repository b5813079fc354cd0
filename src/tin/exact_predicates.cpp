#include "tin/exact_predicates.h"

#include <array>
#include <cmath>

namespace tin {

namespace {

// An exact sum of up to N doubles: non-overlapping components in increasing
// magnitude, zeros left out, so that n == 0 is exactly zero and the last
// component carries the sign.
template <int N>
struct Expansion {
    std::array<double, N> c;  // only the first n are ever read
    int n = 0;

    int sign() const { return n == 0 ? 0 : (c[n - 1] > 0 ? 1 : -1); }
    // The components summed from the smallest: within a few units of the
    // last place of the exact value.
    double approximate() const
    {
        double s = 0.0;
        for (int i = 0; i < n; ++i) s += c[i];
        return s;
    }
    void push(double v)
    {
        if (v != 0.0) c[n++] = v;
    }
};

// a + b == s + e exactly (Knuth).
inline void two_sum(double a, double b, double& s, double& e)
{
    s = a + b;
    const double b_part = s - a;
    const double a_part = s - b_part;
    e = (a - a_part) + (b - b_part);
}

// The same when |a| >= |b| (Dekker): fewer operations.
inline void fast_two_sum(double a, double b, double& s, double& e)
{
    s = a + b;
    e = b - (s - a);
}

// a == high + low with each half of at most 26 significant bits (Dekker).
inline void split(double a, double& high, double& low)
{
    constexpr double kSplitter = 0x1p27 + 1.0;
    const double c = kSplitter * a;
    const double big = c - a;
    high = c - big;
    low = a - high;
}

// a * b == p + e exactly: the halves' products are exact.
inline void two_product(double a, double b, double& p, double& e)
{
    p = a * b;
    double a_high = 0, a_low = 0, b_high = 0, b_low = 0;
    split(a, a_high, a_low);
    split(b, b_high, b_low);
    const double err1 = p - a_high * b_high;
    const double err2 = err1 - a_low * b_high;
    const double err3 = err2 - a_high * b_low;
    e = a_low * b_low - err3;
}

inline Expansion<2> difference(double a, double b)
{
    double s = 0, e = 0;
    two_sum(a, -b, s, e);
    Expansion<2> r;
    r.push(e);
    r.push(s);
    return r;
}

// h += b in place; h has room for one more component. Each two-sum carries
// the running total up past the component it absorbs, so the order and the
// non-overlap of the components are kept (Shewchuk's growing of an expansion).
template <int N>
void grow(Expansion<N>& h, double b)
{
    double q = b;
    int k = 0;
    for (int i = 0; i < h.n; ++i) {
        double s = 0, e = 0;
        two_sum(q, h.c[i], s, e);
        q = s;
        if (e != 0.0) h.c[k++] = e;
    }
    h.n = k;
    h.push(q);
}

template <int N, int M>
Expansion<N + M> add(const Expansion<N>& e, const Expansion<M>& f)
{
    Expansion<N + M> h;
    for (int i = 0; i < e.n; ++i) h.c[i] = e.c[i];
    h.n = e.n;
    for (int i = 0; i < f.n; ++i) grow(h, f.c[i]);
    return h;
}

template <int N>
Expansion<N> negated(Expansion<N> e)
{
    for (int i = 0; i < e.n; ++i) e.c[i] = -e.c[i];
    return e;
}

// e * b: each component's product split in two, the running carry kept
// above the pieces already written.
template <int N>
Expansion<2 * N> scale(const Expansion<N>& e, double b)
{
    Expansion<2 * N> h;
    if (e.n == 0 || b == 0.0) return h;
    double q = 0, low = 0;
    two_product(e.c[0], b, q, low);
    h.push(low);
    for (int i = 1; i < e.n; ++i) {
        double p = 0, p_low = 0, s = 0, s_low = 0;
        two_product(e.c[i], b, p, p_low);
        two_sum(q, p_low, s, s_low);
        h.push(s_low);
        fast_two_sum(p, s, q, s_low);
        h.push(s_low);
    }
    h.push(q);
    return h;
}

template <int N, int M>
Expansion<2 * N * M> multiply(const Expansion<N>& e, const Expansion<M>& f)
{
    Expansion<2 * N * M> h;
    for (int j = 0; j < f.n; ++j) {
        const Expansion<2 * N> part = scale(e, f.c[j]);
        for (int i = 0; i < part.n; ++i) grow(h, part.c[i]);
    }
    return h;
}

template <int N, int M, int K, int L>
Expansion<2 * N * M + 2 * K * L> cross(const Expansion<N>& a, const Expansion<M>& b, const Expansion<K>& c,
                                       const Expansion<L>& d)
{
    return add(multiply(a, b), negated(multiply(c, d)));
}

Expansion<16> exact_orientation(Point2 a, Point2 b, Point2 c)
{
    const auto acx = difference(a.x, c.x), acy = difference(a.y, c.y);
    const auto bcx = difference(b.x, c.x), bcy = difference(b.y, c.y);
    return cross(acx, bcy, acy, bcx);
}

int exact_in_circle(Point2 a, Point2 b, Point2 c, Point2 d)
{
    const auto adx = difference(a.x, d.x), ady = difference(a.y, d.y);
    const auto bdx = difference(b.x, d.x), bdy = difference(b.y, d.y);
    const auto cdx = difference(c.x, d.x), cdy = difference(c.y, d.y);
    const auto alift = add(multiply(adx, adx), multiply(ady, ady));
    const auto blift = add(multiply(bdx, bdx), multiply(bdy, bdy));
    const auto clift = add(multiply(cdx, cdx), multiply(cdy, cdy));
    const auto bc = cross(bdx, cdy, cdx, bdy);
    const auto ca = cross(cdx, ady, adx, cdy);
    const auto ab = cross(adx, bdy, bdx, ady);
    return add(add(multiply(alift, bc), multiply(blift, ca)), multiply(clift, ab)).sign();
}

struct Filtered {
    double value;
    double bound;
};

inline Filtered filtered_orientation(Point2 a, Point2 b, Point2 c)
{
    const double left = (a.x - c.x) * (b.y - c.y);
    const double right = (a.y - c.y) * (b.x - c.x);
    return {left - right, kOrientationBound * (std::fabs(left) + std::fabs(right)) + kUnderflowMargin};
}

}  // namespace

int exact_orientation_sign(Point2 a, Point2 b, Point2 c) { return exact_orientation(a, b, c).sign(); }

int exact_in_circle_sign(Point2 a, Point2 b, Point2 c, Point2 d) { return exact_in_circle(a, b, c, d); }

double orientation_value(Point2 a, Point2 b, Point2 c)
{
    // The determinant of b - a and c - a, computed about c as orientation()
    // does: the same value, the same sign.
    const Filtered f = filtered_orientation(b, c, a);
    if (std::fabs(f.value) * 0x1p-40 > f.bound) return f.value;
    return exact_orientation(b, c, a).approximate();
}

int perturbed_tie(Point2 a, Point2 b, Point2 c, Point2 d)
{
    // The derivative of the lifted 4x4 determinant (rows x, y, x^2 + y^2, 1
    // of a, b, c, d) by each row's lifting is that row's cofactor: +-the
    // orientation of the other three rows, signs alternating.
    Point2 earliest = a;
    int row = 0;
    const std::array<Point2, 3> rest{b, c, d};
    for (int i = 0; i < 3; ++i) {
        if (lexicographically_before(rest[i], earliest)) {
            earliest = rest[i];
            row = i + 1;
        }
    }
    switch (row) {
        case 0:
            return orientation(b, c, d);
        case 1:
            return -orientation(a, c, d);
        case 2:
            return orientation(a, b, d);
        default:
            return -orientation(a, b, c);
    }
}

}  // namespace tin
