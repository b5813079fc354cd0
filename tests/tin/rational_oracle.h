// Exact arithmetic on doubles for the surface tests, independent of the code
// under test: a double is m * 2^e with a whole m, so sums, differences and
// products of doubles are held exactly as a signed big integer and a power
// of two. Slow and plain: schoolbook limbs of 32 bits.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "tin/triangulation.h"

namespace rational_oracle {

class Exact {
public:
    Exact() = default;
    explicit Exact(double v)
    {
        if (v == 0.0) return;
        int e = 0;
        const double f = std::frexp(v, &e);
        auto m = static_cast<std::int64_t>(std::ldexp(f, 53));
        negative_ = m < 0;
        std::uint64_t u = negative_ ? static_cast<std::uint64_t>(-m) : static_cast<std::uint64_t>(m);
        limbs_ = {static_cast<std::uint32_t>(u), static_cast<std::uint32_t>(u >> 32)};
        exponent_ = e - 53;
        trim();
    }

    int sign() const { return limbs_.empty() ? 0 : (negative_ ? -1 : 1); }

    friend Exact operator-(Exact a)
    {
        a.negative_ = !a.negative_;
        return a;
    }
    friend Exact operator+(Exact a, Exact b)
    {
        if (a.sign() == 0) return b;
        if (b.sign() == 0) return a;
        const int e = std::min(a.exponent_, b.exponent_);
        a.shift_to(e);
        b.shift_to(e);
        Exact r;
        r.exponent_ = e;
        if (a.negative_ == b.negative_) {
            r.limbs_ = add(a.limbs_, b.limbs_);
            r.negative_ = a.negative_;
        } else if (compare(a.limbs_, b.limbs_) >= 0) {
            r.limbs_ = subtract(a.limbs_, b.limbs_);
            r.negative_ = a.negative_;
        } else {
            r.limbs_ = subtract(b.limbs_, a.limbs_);
            r.negative_ = b.negative_;
        }
        r.trim();
        return r;
    }
    friend Exact operator-(const Exact& a, const Exact& b) { return a + (-b); }
    friend Exact operator*(const Exact& a, const Exact& b)
    {
        Exact r;
        if (a.sign() == 0 || b.sign() == 0) return r;
        std::vector<std::uint64_t> wide(a.limbs_.size() + b.limbs_.size() + 1, 0);
        for (std::size_t i = 0; i < a.limbs_.size(); ++i) {
            std::uint64_t carry = 0;
            for (std::size_t j = 0; j < b.limbs_.size(); ++j) {
                const std::uint64_t t = wide[i + j] + static_cast<std::uint64_t>(a.limbs_[i]) * b.limbs_[j] + carry;
                wide[i + j] = t & 0xFFFFFFFFU;
                carry = t >> 32;
            }
            wide[i + b.limbs_.size()] += carry;
        }
        r.limbs_.assign(wide.begin(), wide.end());
        r.negative_ = a.negative_ != b.negative_;
        r.exponent_ = a.exponent_ + b.exponent_;
        r.trim();
        return r;
    }
    friend bool operator<(const Exact& a, const Exact& b) { return (a - b).sign() < 0; }

private:
    using Limbs = std::vector<std::uint32_t>;

    void trim()
    {
        while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
    }
    // The same value with a lower exponent.
    void shift_to(int e)
    {
        const int by = exponent_ - e;
        Limbs r(static_cast<std::size_t>(by / 32), 0);
        std::uint32_t carry = 0;
        const int bits = by % 32;
        for (std::uint32_t limb : limbs_) {
            r.push_back(bits == 0 ? limb : ((limb << bits) | carry));
            carry = bits == 0 ? 0 : limb >> (32 - bits);
        }
        r.push_back(carry);
        limbs_ = r;
        exponent_ = e;
        trim();
    }
    static int compare(const Limbs& a, const Limbs& b)
    {
        if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
        for (std::size_t i = a.size(); i-- > 0;) {
            if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
        }
        return 0;
    }
    static Limbs add(const Limbs& a, const Limbs& b)
    {
        Limbs r(std::max(a.size(), b.size()) + 1, 0);
        std::uint64_t carry = 0;
        for (std::size_t i = 0; i < r.size(); ++i) {
            const std::uint64_t t = carry + (i < a.size() ? a[i] : 0) + (i < b.size() ? b[i] : 0);
            r[i] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        return r;
    }
    static Limbs subtract(const Limbs& a, const Limbs& b)  // a >= b
    {
        Limbs r(a.size(), 0);
        std::int64_t borrow = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            std::int64_t t = static_cast<std::int64_t>(a[i]) - (i < b.size() ? b[i] : 0) - borrow;
            borrow = t < 0 ? 1 : 0;
            if (t < 0) t += std::int64_t{1} << 32;
            r[i] = static_cast<std::uint32_t>(t);
        }
        return r;
    }

    Limbs limbs_;
    bool negative_ = false;
    int exponent_ = 0;
};

inline Exact exact_orientation(tin::Point2 a, tin::Point2 b, tin::Point2 c)
{
    const Exact bax = Exact(b.x) - Exact(a.x), bay = Exact(b.y) - Exact(a.y);
    const Exact cax = Exact(c.x) - Exact(a.x), cay = Exact(c.y) - Exact(a.y);
    return bax * cay - bay * cax;
}

// The 4x4 determinant of rows (x, y, x^2 + y^2, 1), expanded along the
// lifting column: positive when d is inside the circle of counterclockwise
// a, b, c.
inline Exact exact_in_circle(tin::Point2 a, tin::Point2 b, tin::Point2 c, tin::Point2 d)
{
    const auto lift = [](tin::Point2 p) { return Exact(p.x) * Exact(p.x) + Exact(p.y) * Exact(p.y); };
    return lift(a) * exact_orientation(b, c, d) - lift(b) * exact_orientation(a, c, d) +
           lift(c) * exact_orientation(a, b, d) - lift(d) * exact_orientation(a, b, c);
}

// The tie rule, restated: the earliest point in (x, y) order has its lifting
// raised the most, so an exact tie takes the sign of its lifting's cofactor.
inline int exact_in_circle_perturbed(tin::Point2 a, tin::Point2 b, tin::Point2 c, tin::Point2 d)
{
    const int exact = exact_in_circle(a, b, c, d).sign();
    if (exact != 0) return exact;
    const std::array<tin::Point2, 4> p{a, b, c, d};
    const auto earliest =
        std::min_element(p.begin(), p.end(),
                         [](tin::Point2 u, tin::Point2 v) { return u.x < v.x || (u.x == v.x && u.y < v.y); }) -
        p.begin();
    const std::array<int, 4> cofactor_sign{1, -1, 1, -1};
    std::array<tin::Point2, 3> others{};
    for (int i = 0, k = 0; i < 4; ++i) {
        if (i != earliest) others[k++] = p[i];
    }
    return cofactor_sign[earliest] * exact_orientation(others[0], others[1], others[2]).sign();
}

// A triangle as its three corners, rotated to start from the earliest in
// (x, y) order, counterclockwise: one spelling per triangle.
using Corners = std::array<std::array<double, 3>, 3>;

inline Corners canonical(std::array<tin::Vertex, 3> t)
{
    const auto before = [](const tin::Vertex& u, const tin::Vertex& v) {
        return u.x < v.x || (u.x == v.x && u.y < v.y);
    };
    std::rotate(t.begin(), std::min_element(t.begin(), t.end(), before), t.end());
    Corners c{};
    for (int i = 0; i < 3; ++i) c[i] = {t[i].x, t[i].y, t[i].z};
    return c;
}

// Every counterclockwise triangle of distinct points with no point inside its
// (perturbed) circle, sorted: the Delaunay triangulation by its definition.
inline std::vector<Corners> brute_force_delaunay(const std::vector<tin::Vertex>& points)
{
    std::vector<Corners> triangles;
    const std::size_t n = points.size();
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            for (std::size_t k = j + 1; k < n; ++k) {
                tin::Point2 a = points[i].xy(), b = points[j].xy(), c = points[k].xy();
                const int turn = exact_orientation(a, b, c).sign();
                if (turn == 0) continue;
                std::array<tin::Vertex, 3> t{points[i], points[j], points[k]};
                if (turn < 0) {
                    std::swap(b, c);
                    std::swap(t[1], t[2]);
                }
                bool empty = true;
                for (std::size_t l = 0; l < n && empty; ++l) {
                    if (l != i && l != j && l != k) empty = exact_in_circle_perturbed(a, b, c, points[l].xy()) < 0;
                }
                if (empty) triangles.push_back(canonical(t));
            }
        }
    }
    std::sort(triangles.begin(), triangles.end());
    return triangles;
}

// The triangles of a triangulation (ghosts left out), spelt and sorted as
// the brute force's.
inline std::vector<Corners> triangles_of(const tin::Triangulation& tin)
{
    std::vector<Corners> triangles;
    for (const tin::Triangle& t : tin.triangles) {
        if (!t.ghost())
            triangles.push_back(canonical({tin.vertices[t.v[0]], tin.vertices[t.v[1]], tin.vertices[t.v[2]]}));
    }
    std::sort(triangles.begin(), triangles.end());
    return triangles;
}

}  // namespace rational_oracle
