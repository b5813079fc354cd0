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
// The bounds assume no product underflows below the normal range by more
// than the small absolute margin added to each bound (coordinates of points
// on the ground are nowhere near 1e-150) and that no product overflows.
#pragma once

namespace tin {

struct Point2 {
    double x;
    double y;
};

// +1 when a, b, c turn counterclockwise, -1 clockwise, 0 on one line.
int orientation(Point2 a, Point2 b, Point2 c);

// +1 when d lies inside the circle through a, b, c (taken counterclockwise),
// -1 outside, 0 on it. With a, b, c clockwise the sign is reversed.
int in_circle(Point2 a, Point2 b, Point2 c, Point2 d);

// The orientation determinant (b - a) x (c - a) as a double within a relative
// 2^-40 of its exact value (exactly 0 when the points are on one line): what
// the barycentric weights of the sampling are made of.
double orientation_value(Point2 a, Point2 b, Point2 c);

// (x, y) lexicographic order: the ranks the tie rule of the triangulation uses.
inline bool lexicographically_before(Point2 a, Point2 b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }

// The in-circle test with the ties broken by a symbolic perturbation: every
// point's lifting x^2 + y^2 is raised by an infinitesimal that is larger the
// earlier the point comes in (x, y) order, each infinitely larger than the
// next. When d is exactly on the circle through a, b, c (counterclockwise,
// not on one line), the sign is that of the derivative of the determinant by
// the lifting of the earliest of the four points, which is plus or minus the
// orientation of the other three (never 0: three distinct points of a circle
// are never on one line). Never returns 0 for four distinct points.
int in_circle_perturbed(Point2 a, Point2 b, Point2 c, Point2 d);

}  // namespace tin
