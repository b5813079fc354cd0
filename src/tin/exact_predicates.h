// Orientation and in-circle tests on doubles whose sign is never wrong.
//
// Each test first evaluates its determinant in plain double arithmetic and
// bounds the rounding error of that evaluation from the magnitudes of the
// terms it summed (a forward error analysis: every difference, product and
// sum adds at most one relative unit roundoff u = 2^-53 to what it is built
// from). When the value clears the bound its sign is the exact one. Otherwise
// the determinant is recomputed exactly as an expansion: a sum of doubles
// whose components do not overlap, built with the error-free transformations
// (a + b = s + e and a * b = p + e exactly, from Knuth's two-sum and Dekker's
// split product), and its sign is that of its largest component.
//
// Both stages assume that no product of coordinate differences overflows or
// falls out of the normal range (Dekker's split product is exact only there):
// tin/delaunay.h takes coordinates of magnitude 2^-100 to 2^200, or 0.
#pragma once

#include <cmath>

namespace tin {

struct Point2 {
    double x;
    double y;
};

// The exact signs, for when the filters below cannot tell.
int exact_orientation_sign(Point2 a, Point2 b, Point2 c);
int exact_in_circle_sign(Point2 a, Point2 b, Point2 c, Point2 d);

// The unit roundoff of a double.
constexpr double kUnit = 0x1p-53;
// Covers the absolute error of a few products rounded in the subnormal range,
// where the relative bounds below do not hold.
constexpr double kUnderflowMargin = 0x1p-1000;
// Orientation: each difference and product adds a relative u (3u for a
// product of two differences), the last difference u of its result: at most
// 4u + O(u^2) of |left| + |right|; 5u covers the O(u^2) and the rounding of
// the bound itself.
constexpr double kOrientationBound = 5.0 * kUnit;
// In-circle: a lifting carries 4u, a cross difference 4u of its permanent,
// their product 9u, the two final sums 2u more: 11u + O(u^2) of the
// permanent; 12u covers the rest.
constexpr double kInCircleBound = 12.0 * kUnit;

// The sign of orientation() below when the double arithmetic alone proves
// it, else 0 (the points on one line, or too near it to tell): a walk that
// can go on from any proven sign tries this first.
inline int filtered_orientation_sign(Point2 a, Point2 b, Point2 c)
{
    const double left = (a.x - c.x) * (b.y - c.y);
    const double right = (a.y - c.y) * (b.x - c.x);
    const double det = left - right;
    const double bound = kOrientationBound * (std::fabs(left) + std::fabs(right)) + kUnderflowMargin;
    if (det > bound) return 1;
    if (-det > bound) return -1;
    return 0;
}

// +1 when a, b, c turn counterclockwise, -1 clockwise, 0 on one line. Inline:
// the walks call it for every step.
inline int orientation(Point2 a, Point2 b, Point2 c)
{
    const int filtered = filtered_orientation_sign(a, b, c);
    return filtered != 0 ? filtered : exact_orientation_sign(a, b, c);
}

// +1 when d lies inside the circle through a, b, c (taken counterclockwise),
// -1 outside, 0 on it. With a, b, c clockwise the sign is reversed.
inline int in_circle(Point2 a, Point2 b, Point2 c, Point2 d)
{
    const double adx = a.x - d.x, ady = a.y - d.y;
    const double bdx = b.x - d.x, bdy = b.y - d.y;
    const double cdx = c.x - d.x, cdy = c.y - d.y;
    const double bdxcdy = bdx * cdy, cdxbdy = cdx * bdy;
    const double cdxady = cdx * ady, adxcdy = adx * cdy;
    const double adxbdy = adx * bdy, bdxady = bdx * ady;
    const double alift = adx * adx + ady * ady;
    const double blift = bdx * bdx + bdy * bdy;
    const double clift = cdx * cdx + cdy * cdy;
    const double det = alift * (bdxcdy - cdxbdy) + blift * (cdxady - adxcdy) + clift * (adxbdy - bdxady);
    const double permanent = (std::fabs(bdxcdy) + std::fabs(cdxbdy)) * alift +
                             (std::fabs(cdxady) + std::fabs(adxcdy)) * blift +
                             (std::fabs(adxbdy) + std::fabs(bdxady)) * clift;
    const double bound = kInCircleBound * permanent + kUnderflowMargin;
    if (det > bound) return 1;
    if (-det > bound) return -1;
    return exact_in_circle_sign(a, b, c, d);
}

// The orientation determinant (b - a) x (c - a) as a double within a relative
// 2^-40 of its exact value (exactly 0 when the points are on one line): what
// the barycentric weights of the sampling are made of.
double orientation_value(Point2 a, Point2 b, Point2 c);

// (x, y) lexicographic order: the ranks the tie rule of the triangulation uses.
inline bool lexicographically_before(Point2 a, Point2 b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }

// The sign an exact tie of in_circle(a, b, c, d) takes under the perturbation below.
int perturbed_tie(Point2 a, Point2 b, Point2 c, Point2 d);

// The in-circle test with the ties broken by a symbolic perturbation: every
// point's lifting x^2 + y^2 is raised by an infinitesimal that is larger the
// earlier the point comes in (x, y) order, each infinitely larger than the
// next. When d is exactly on the circle through a, b, c (counterclockwise,
// not on one line), the sign is that of the derivative of the determinant by
// the lifting of the earliest of the four points, which is plus or minus the
// orientation of the other three (never 0: three distinct points of a circle
// are never on one line). Never returns 0 for four distinct points.
inline int in_circle_perturbed(Point2 a, Point2 b, Point2 c, Point2 d)
{
    const int exact = in_circle(a, b, c, d);
    return exact != 0 ? exact : perturbed_tie(a, b, c, d);
}

}  // namespace tin
