#include "cloud_model.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace cloudgen {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double two_pi = 2.0 * pi;

// Stream keys are derived from the seed with fixed tags so that the layout,
// the jitter and the shuffle never share random bits.
constexpr std::uint64_t layout_tag = 0x6C61796F75742121ULL;
constexpr std::uint64_t sample_tag = 0x73616D706C657321ULL;
constexpr std::uint64_t shuffle_tag = 0x73687566666C6521ULL;

constexpr std::uint64_t derive_key(std::uint64_t seed, std::uint64_t tag, std::uint64_t n)
{
    return mix64(mix64(seed ^ tag) + 0x9E3779B97F4A7C15ULL * (n + 1));
}

double det_cos(double x) { return det_sin(x + pi / 2); }

}  // namespace

double det_exp(double x)
{
    if (x < -700.0) return 0.0;
    if (x > 700.0) x = 700.0;
    // exp(x) = 2^k * exp(r) with |r| <= ln2/2. ln2 is split in two so that
    // k*ln2_hi is exact and the reduction keeps full precision.
    constexpr double inv_ln2 = 1.4426950408889634;
    constexpr double ln2_hi = 6.93147180369123816490e-01;
    constexpr double ln2_lo = 1.90821492927058770002e-10;
    const double k = std::floor(x * inv_ln2 + 0.5);
    const double r = (x - k * ln2_hi) - k * ln2_lo;
    // Taylor series to r^13; the remainder is below 1e-17 for |r| <= 0.35.
    constexpr double coeff[] = {1.0 / 6227020800.0,
                                1.0 / 479001600.0,
                                1.0 / 39916800.0,
                                1.0 / 3628800.0,
                                1.0 / 362880.0,
                                1.0 / 40320.0,
                                1.0 / 5040.0,
                                1.0 / 720.0,
                                1.0 / 120.0,
                                1.0 / 24.0,
                                1.0 / 6.0,
                                0.5,
                                1.0,
                                1.0};
    double p = 0.0;
    for (double c : coeff) p = p * r + c;
    return std::ldexp(p, static_cast<int>(k));
}

double det_sin(double x)
{
    // Reduce to [-pi, pi], then fold to [-pi/2, pi/2] where the series is short.
    const double n = std::floor(x / two_pi + 0.5);
    double r = x - n * two_pi;
    if (r > pi / 2) r = pi - r;
    if (r < -pi / 2) r = -pi - r;
    const double r2 = r * r;
    // Odd Taylor series to r^21, highest term first; the remainder is about
    // 1e-18 at pi/2.
    constexpr double coeff[] = {1.0 / 51090942171709440000.0,
                                -1.0 / 121645100408832000.0,
                                1.0 / 355687428096000.0,
                                -1.0 / 1307674368000.0,
                                1.0 / 6227020800.0,
                                -1.0 / 39916800.0,
                                1.0 / 362880.0,
                                -1.0 / 5040.0,
                                1.0 / 120.0,
                                -1.0 / 6.0,
                                1.0};
    double p = 0.0;
    for (double c : coeff) p = p * r2 + c;
    return p * r;
}

double det_tanh(double x)
{
    const double e = det_exp(-2.0 * std::fabs(x));
    const double t = (1.0 - e) / (1.0 + e);
    return x < 0 ? -t : t;
}

// ---------------------------------------------------------------------------
// Scene

namespace {

// Land use is decided per quadrant of roughly 50 m. Features stay inside
// their own quadrant, so they never overlap and a point only ever has to look
// at the quadrant it falls in.
constexpr double building_share = 0.30;
constexpr double trees_share = 0.26;
constexpr double building_margin = 3.0;
constexpr double min_building_side = 10.0;
constexpr double crown_margin = 1.0;
constexpr double min_patch_quadrant = 12.0;

constexpr double base_elevation = 262.0;
constexpr double relief = 52.0;

}  // namespace

Scene::Scene(std::uint64_t seed, double size) : size_(size)
{
    if (!(size > 0.0) || !std::isfinite(size)) throw std::invalid_argument("scene size must be positive");

    Rng layout(derive_key(seed, layout_tag, 0));

    // Rolling hills: a few plane waves (wavelengths of a few hundred metres, so
    // a 300 m square shows more than a tilt; slopes stay mostly under 20 %)
    // plus some broad mounds and hollows.
    for (int i = 0; i < 3; ++i) {
        const double angle = layout.uniform(0.0, two_pi);
        const double wavelength = layout.uniform(220.0, 650.0);
        Wave w{};
        w.kx = two_pi * det_cos(angle) / wavelength;
        w.ky = two_pi * det_sin(angle) / wavelength;
        w.phase = layout.uniform(0.0, two_pi);
        w.amplitude = layout.uniform(4.0, 9.0);
        waves_.push_back(w);
    }
    const double area = size * size;
    const int bump_count = static_cast<int>(std::clamp(std::floor(area / 12000.0 + 0.5), 3.0, 48.0));
    for (int i = 0; i < bump_count; ++i) {
        Bump b{};
        b.cx = layout.uniform(-0.1 * size, 1.1 * size);
        b.cy = layout.uniform(-0.1 * size, 1.1 * size);
        const double sigma = layout.uniform(30.0, 80.0);
        b.inv_two_sigma2 = 1.0 / (2.0 * sigma * sigma);
        // Past 5 sigma a mound contributes well under a millimetre.
        b.cutoff2 = 25.0 * sigma * sigma;
        b.amplitude = layout.uniform(-9.0, 13.0);
        bumps_.push_back(b);
    }

    const int tiles = std::max(1, static_cast<int>(std::floor(size / 100.0 + 0.5)));
    quads_per_side_ = 2 * tiles;
    quad_side_ = size / quads_per_side_;
    const int quad_count = quads_per_side_ * quads_per_side_;
    quads_.resize(static_cast<std::size_t>(quad_count));

    std::vector<Rng> quad_rngs;
    quad_rngs.reserve(quads_.size());
    for (int q = 0; q < quad_count; ++q) {
        Rng rng(derive_key(seed, layout_tag, static_cast<std::uint64_t>(q) + 1));
        const double u = rng.uniform(0.0, 1.0);
        quads_[q].kind = u < building_share                 ? Kind::building
                         : u < building_share + trees_share ? Kind::trees
                                                            : Kind::open;
        quad_rngs.push_back(rng);
    }

    // Small squares could come out without a building or without trees; both
    // are wanted in every cloud, so promote a quadrant if needed.
    const bool fits_building = quad_side_ - 2 * building_margin >= min_building_side;
    const bool fits_trees = quad_side_ >= min_patch_quadrant;
    auto promote = [&](Kind wanted, Kind keep) {
        if (std::any_of(quads_.begin(), quads_.end(), [&](const Quadrant& q) { return q.kind == wanted; })) return;
        auto q = static_cast<int>(layout.next() % static_cast<std::uint64_t>(quad_count));
        for (int tries = 0; tries < quad_count && quads_[q].kind == keep; ++tries) q = (q + 1) % quad_count;
        quads_[q].kind = wanted;
    };
    if (fits_building) promote(Kind::building, Kind::trees);
    if (fits_trees) promote(Kind::trees, Kind::building);

    for (int q = 0; q < quad_count; ++q) {
        const double qx0 = (q % quads_per_side_) * quad_side_;
        const int row = q / quads_per_side_;
        const double qy0 = row * quad_side_;
        Quadrant& quad = quads_[q];
        if (quad.kind == Kind::building) {
            if (fits_building)
                place_building(quad, quad_rngs[q], qx0, qy0);
            else
                quad.kind = Kind::open;
        } else if (quad.kind == Kind::trees) {
            if (fits_trees)
                place_trees(quad, quad_rngs[q], qx0, qy0);
            else
                quad.kind = Kind::open;
        }
    }
}

void Scene::place_building(Quadrant& quad, Rng& rng, double qx0, double qy0)
{
    const double room = quad_side_ - 2 * building_margin;
    Building b{};
    const double w = rng.uniform(min_building_side, std::min(28.0, room));
    const double d = rng.uniform(std::min(8.0, room), std::min(22.0, room));
    b.x0 = qx0 + building_margin + rng.uniform(0.0, room - w);
    b.y0 = qy0 + building_margin + rng.uniform(0.0, room - d);
    b.x1 = b.x0 + w;
    b.y1 = b.y0 + d;
    // Flat roof a fixed height above the highest ground under the footprint,
    // so it clears the terrain everywhere even on a slope.
    double highest = -1e300;
    for (int j = 0; j <= 4; ++j)
        for (int i = 0; i <= 4; ++i) highest = std::max(highest, ground(b.x0 + w * i / 4.0, b.y0 + d * j / 4.0));
    b.height = rng.uniform(6.0, 15.0);
    b.roof = highest + b.height;
    quad.building = static_cast<int>(buildings_.size());
    buildings_.push_back(b);
}

void Scene::place_trees(Quadrant& quad, Rng& rng, double qx0, double qy0)
{
    // An irregular (rotated elliptical) stand of trees on a jittered grid, with
    // a few gaps left as clearings.
    const double cx = qx0 + quad_side_ * (0.5 + rng.uniform(-0.08, 0.08));
    const double cy = qy0 + quad_side_ * (0.5 + rng.uniform(-0.08, 0.08));
    const double a = quad_side_ * rng.uniform(0.30, 0.46);
    const double b = quad_side_ * rng.uniform(0.30, 0.46);
    const double angle = rng.uniform(0.0, pi);
    const double ca = det_cos(angle), sa = det_sin(angle);

    const int slots = static_cast<int>(std::ceil(quad_side_ / tree_spacing));
    quad.tree_first = static_cast<std::uint32_t>(trees_.size());
    quad.tree_slots = slots;
    for (int j = 0; j < slots; ++j) {
        for (int i = 0; i < slots; ++i) {
            Tree t;
            t.cx = qx0 + (i + rng.uniform(0.2, 0.8)) * tree_spacing;
            t.cy = qy0 + (j + rng.uniform(0.2, 0.8)) * tree_spacing;
            t.radius = rng.uniform(1.8, max_crown_radius);
            t.height = rng.uniform(8.0, 18.0);
            const double keep = rng.uniform(0.0, 1.0);
            const double u = ((t.cx - cx) * ca + (t.cy - cy) * sa) / a;
            const double v = (-(t.cx - cx) * sa + (t.cy - cy) * ca) / b;
            const bool inside_stand = u * u + v * v <= 1.0;
            const bool inside_quadrant =
                t.cx - t.radius >= qx0 + crown_margin && t.cx + t.radius <= qx0 + quad_side_ - crown_margin &&
                t.cy - t.radius >= qy0 + crown_margin && t.cy + t.radius <= qy0 + quad_side_ - crown_margin;
            t.present = inside_stand && inside_quadrant && keep < 0.93;
            if (t.present) t.base = ground(t.cx, t.cy);
            trees_.push_back(t);
        }
    }
}

double Scene::ground(double x, double y) const
{
    double raw = 0.0;
    for (const Wave& w : waves_) raw += w.amplitude * det_sin(w.kx * x + w.ky * y + w.phase);
    for (const Bump& b : bumps_) {
        const double dx = x - b.cx, dy = y - b.cy;
        const double d2 = dx * dx + dy * dy;
        if (d2 < b.cutoff2) raw += b.amplitude * det_exp(-d2 * b.inv_two_sigma2);
    }
    // A soft limit keeps the worst pile-up of waves and mounds inside the
    // intended 210-314 m band without a visible crease.
    return base_elevation + relief * det_tanh(raw / relief);
}

const Scene::Quadrant& Scene::quadrant_at(double x, double y, double& qx0, double& qy0) const
{
    const int last = quads_per_side_ - 1;
    const int qi = std::clamp(static_cast<int>(std::floor(x / quad_side_)), 0, last);
    const int qj = std::clamp(static_cast<int>(std::floor(y / quad_side_)), 0, last);
    qx0 = qi * quad_side_;
    qy0 = qj * quad_side_;
    return quads_[static_cast<std::size_t>(qj) * quads_per_side_ + qi];
}

const Building* Scene::building_at(double x, double y) const
{
    double qx0, qy0;
    const Quadrant& quad = quadrant_at(x, y, qx0, qy0);
    if (quad.kind != Kind::building) return nullptr;
    const Building& b = buildings_[static_cast<std::size_t>(quad.building)];
    return x >= b.x0 && x <= b.x1 && y >= b.y0 && y <= b.y1 ? &b : nullptr;
}

bool Scene::canopy_top(double x, double y, double& top) const
{
    double qx0, qy0;
    const Quadrant& quad = quadrant_at(x, y, qx0, qy0);
    if (quad.kind != Kind::trees) return false;
    const int si = static_cast<int>(std::floor((x - qx0) / tree_spacing));
    const int sj = static_cast<int>(std::floor((y - qy0) / tree_spacing));
    bool found = false;
    for (int j = std::max(0, sj - 1); j <= std::min(quad.tree_slots - 1, sj + 1); ++j) {
        for (int i = std::max(0, si - 1); i <= std::min(quad.tree_slots - 1, si + 1); ++i) {
            const Tree& t = trees_[quad.tree_first + static_cast<std::size_t>(j * quad.tree_slots + i)];
            if (!t.present) continue;
            const double dx = x - t.cx, dy = y - t.cy;
            const double q = (dx * dx + dy * dy) / (t.radius * t.radius);
            if (q >= 1.0) continue;
            // Rounded crown: highest at the trunk, about a third lower at the rim.
            const double z = t.base + t.height * (1.0 - 0.35 * q);
            if (!found || z > top) top = z;
            found = true;
        }
    }
    return found;
}

// ---------------------------------------------------------------------------
// Sampler

Sampler::Sampler(const Scene& scene, std::uint64_t seed, std::uint64_t points) : scene_(scene), points_(points)
{
    if (points < 4) throw std::invalid_argument("need at least 4 points to pin the corners");
    if (points > max_points) throw std::invalid_argument("too many points");
    // Square slots: as many rows as pulses per row. At least 2 pulses per row
    // holds for every count >= 4, so each row has two distinct ends.
    rows_ = static_cast<std::uint64_t>(std::llround(std::sqrt(static_cast<double>(points))));
    size_cm_ = std::llround(scene.size() * 100.0);
    for (int s = 0; s < 6; ++s) keys_[s] = derive_key(seed, sample_tag, static_cast<std::uint64_t>(s));
}

std::uint64_t Sampler::row_start(std::uint64_t row) const
{
    // ceil(row * points / rows); both factors are below 2^40 and 2^21.
    return (row * points_ + rows_ - 1) / rows_;
}

std::uint64_t Sampler::hash(std::uint64_t index, int stream) const
{
    return mix64(keys_[stream] + 0x9E3779B97F4A7C15ULL * index);
}

Sampler::Slot Sampler::slot(std::uint64_t index) const
{
    // Row r holds indices [ceil(r*N/R), ceil((r+1)*N/R)), so floor(i*R/N) is
    // the row of i.
    const std::uint64_t row = index * rows_ / points_;
    const std::uint64_t first = row_start(row);
    return {row, index - first, row_start(row + 1) - first};
}

Record Sampler::record(std::uint64_t index) const
{
    const auto [row, col, count] = slot(index);

    const double span = static_cast<double>(size_cm_);
    const double u = unit_interval(hash(index, 0));
    const double v = unit_interval(hash(index, 1));
    Record rec{};
    rec.x_cm = std::clamp<std::int64_t>(
        std::llround((static_cast<double>(col) + u) * span / static_cast<double>(count)), 0, size_cm_);
    rec.y_cm = std::clamp<std::int64_t>(
        std::llround((static_cast<double>(row) + v) * span / static_cast<double>(rows_)), 0, size_cm_);
    // Pin the corners: the first and last pulse of the first and last row.
    const bool first_row = row == 0, last_row = row == rows_ - 1;
    const bool row_begin = col == 0, row_end = col == count - 1;
    if ((first_row || last_row) && (row_begin || row_end)) {
        rec.x_cm = row_begin ? 0 : size_cm_;
        rec.y_cm = first_row ? 0 : size_cm_;
    }

    // Heights are taken at the printed (centimetre) position, so anyone can
    // recompute the expected surface from the record alone.
    const double x = static_cast<double>(rec.x_cm) / 100.0;
    const double y = static_cast<double>(rec.y_cm) / 100.0;
    double z;
    double top;
    if (const Building* b = scene_.building_at(x, y)) {
        z = b->roof;
        rec.surface = Surface::roof;
    } else if ((row + col) % 2 == 0 && scene_.canopy_top(x, y, top)) {
        // Under a crown, alternate pulses (a checkerboard over rows and columns)
        // are recorded at the canopy and at the ground, the way first and last
        // returns interleave under vegetation. Every metre of a stand then holds
        // both the crown and the floor beneath it.
        z = top - 1.2 * unit_interval(hash(index, 2));
        rec.surface = Surface::canopy;
    } else {
        // A couple of centimetres of ranging noise on bare earth.
        z = scene_.ground(x, y) + 0.04 * (unit_interval(hash(index, 3)) - 0.5);
    }
    rec.z_cm = std::llround(z * 100.0);
    return rec;
}

SurveyAttributes Sampler::survey(std::uint64_t index, const Record& rec) const
{
    const auto [row, col, count] = slot(index);
    switch (rec.surface) {
        case Surface::roof:
            return {6, 1, 1};
        case Surface::canopy: {
            // Canopy hits alternate with other pulses, so the next one in
            // the row is never canopy: ground beneath, or a roof.
            const bool beneath = col + 1 < count && record(index + 1).surface == Surface::ground;
            return {5, 1, static_cast<std::uint8_t>(beneath ? 2 : 1)};
        }
        case Surface::ground:
            break;
    }
    const bool beneath = col > 0 && record(index - 1).surface == Surface::canopy;
    return {2, static_cast<std::uint8_t>(beneath ? 2 : 1), static_cast<std::uint8_t>(beneath ? 2 : 1)};
}

std::pair<std::int64_t, std::int64_t> Sampler::position_mm(std::uint64_t index, const Record& rec) const
{
    // Streams of their own, so the two-decimal records stay what they were.
    auto refine = [this](std::int64_t cm, std::uint64_t bits) {
        const std::int64_t mm = cm * 10;
        if (cm <= 0 || cm >= size_cm_) return mm;
        return mm + static_cast<std::int64_t>(bits % 10);
    };
    return {refine(rec.x_cm, hash(index, 4)), refine(rec.y_cm, hash(index, 5))};
}

// ---------------------------------------------------------------------------
// ElevationMap

ElevationMap::ElevationMap(const Sampler& sampler, double lo, double hi)
{
    if (!(lo < hi) || !std::isfinite(lo) || !std::isfinite(hi))
        throw std::invalid_argument("elevation range must be finite and increasing");
    to_.push_back(lo);
    // Where the integer part gains or loses a digit, or the sign changes.
    std::vector<double> cuts = {0.0};
    for (double c = 10.0; c < 1e15; c *= 10.0) cuts.push_back(c), cuts.push_back(-c);
    std::sort(cuts.begin(), cuts.end());
    for (double c : cuts)
        if (c > lo && c < hi) to_.push_back(c);
    to_.push_back(hi);
    const std::size_t pieces = to_.size() - 1;

    // Evenly spaced indices in scan order cover the square evenly.
    const std::uint64_t n = sampler.points();
    const std::uint64_t count = std::min(n, sample_size);
    std::vector<std::int64_t> z(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) z[i] = sampler.record(i * (n - 1) / (count - 1)).z_cm;
    std::sort(z.begin(), z.end());
    for (std::size_t k = 0; k < pieces; ++k) from_.push_back(static_cast<double>(z[k * z.size() / pieces]));
    from_.push_back(static_cast<double>(z.back()));
}

std::int64_t ElevationMap::operator()(std::int64_t z_cm) const
{
    const double z = static_cast<double>(z_cm);
    // Piece k holds from_[k] <= z < from_[k + 1]; the end pieces run on past
    // the sample's extremes.
    const auto k =
        static_cast<std::size_t>(std::upper_bound(from_.begin() + 1, from_.end() - 1, z) - (from_.begin() + 1));
    const double width = from_[k + 1] - from_[k];
    const double t = width > 0 ? (z - from_[k]) / width : 0.0;
    const double v = std::clamp(to_[k] + t * (to_[k + 1] - to_[k]), to_.front(), to_.back());
    return std::llround(v * 100.0);
}

// ---------------------------------------------------------------------------
// Permutation

Permutation::Permutation(std::uint64_t seed, std::uint64_t n) : n_(n)
{
    if (n == 0) throw std::invalid_argument("empty permutation");
    unsigned bits = static_cast<unsigned>(std::bit_width(n - 1));
    if (bits < 2) bits = 2;
    if (bits % 2) ++bits;
    half_bits_ = bits / 2;
    half_mask_ = (std::uint64_t{1} << half_bits_) - 1;
    for (int k = 0; k < 6; ++k) keys_[k] = derive_key(seed, shuffle_tag, static_cast<std::uint64_t>(k));
}

std::uint64_t Permutation::operator()(std::uint64_t i) const
{
    // The domain is at most 4n, so the walk takes under four rounds on average.
    std::uint64_t x = i;
    do {
        std::uint64_t left = x >> half_bits_, right = x & half_mask_;
        for (std::uint64_t key : keys_) {
            const std::uint64_t next = left ^ (mix64(right ^ key) & half_mask_);
            left = right;
            right = next;
        }
        x = (left << half_bits_) | right;
    } while (x >= n_);
    return x;
}

// ---------------------------------------------------------------------------

char* format_cm(char* out, std::int64_t cm)
{
    std::uint64_t magnitude = static_cast<std::uint64_t>(cm);
    if (cm < 0) {
        *out++ = '-';
        magnitude = ~magnitude + 1;
    }
    out = std::to_chars(out, out + 21, magnitude / 100).ptr;
    const auto frac = static_cast<unsigned>(magnitude % 100);
    *out++ = '.';
    *out++ = static_cast<char>('0' + frac / 10);
    *out++ = static_cast<char>('0' + frac % 10);
    return out;
}

char* format_mm(char* out, std::int64_t mm)
{
    std::uint64_t magnitude = static_cast<std::uint64_t>(mm);
    if (mm < 0) {
        *out++ = '-';
        magnitude = ~magnitude + 1;
    }
    out = std::to_chars(out, out + 21, magnitude / 1000).ptr;
    const auto frac = static_cast<unsigned>(magnitude % 1000);
    *out++ = '.';
    *out++ = static_cast<char>('0' + frac / 100);
    *out++ = static_cast<char>('0' + frac / 10 % 10);
    *out++ = static_cast<char>('0' + frac % 10);
    return out;
}

}  // namespace cloudgen
