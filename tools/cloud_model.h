// Synthetic airborne LIDAR scene used by make_cloud and its tests.
//
// Everything here is a pure function of (seed, size, point count, index), so a
// record can be produced for any index without generating the ones before it.
// That is what lets make_cloud write the "random" order as a keyed permutation
// of the "scan" order without holding tens of millions of points in memory.
//
// Determinism across machines: the random streams are integer hashes, and the
// smooth functions (sine, exponential, tanh) are our own polynomial versions
// built only from IEEE basic operations, so no libm rounding difference can
// move a value across a centimetre boundary on another system.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace cloudgen {

// splitmix64 finaliser: a strong 64-bit mixer, good enough for sequential inputs.
constexpr std::uint64_t mix64(std::uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Uniform double in [0, 1) from the top 53 bits.
constexpr double unit_interval(std::uint64_t bits) { return static_cast<double>(bits >> 11) * 0x1.0p-53; }

// Sequential generator for laying out the scene (splitmix64).
class Rng {
public:
    explicit constexpr Rng(std::uint64_t state) : state_(state) {}
    constexpr std::uint64_t next()
    {
        state_ += 0x9E3779B97F4A7C15ULL;
        return mix64(state_);
    }
    constexpr double uniform(double lo, double hi) { return lo + (hi - lo) * unit_interval(next()); }

private:
    std::uint64_t state_;
};

// Portable smooth functions (see the note at the top of the file).
double det_exp(double x);
double det_sin(double x);
double det_tanh(double x);

struct Building {
    double x0, y0, x1, y1;  // footprint, local metres
    double roof;            // absolute roof elevation, constant over the footprint
    double height;          // roof above the highest ground under the footprint
};

struct Tree {
    double cx = 0, cy = 0;  // trunk position, local metres
    double radius = 0;      // crown radius
    double height = 0;      // crown top above the ground at the trunk
    double base = 0;        // ground elevation at the trunk
    bool present = false;   // tree grid slots can be empty (clearings)
};

// The terrain: rolling hills plus buildings and patches of trees. Coordinates
// are local metres in [0, size] x [0, size]; the caller adds the origin.
class Scene {
public:
    Scene(std::uint64_t seed, double size);

    double size() const { return size_; }

    // Bare-earth elevation, smooth, bounded to roughly 210..314 m.
    double ground(double x, double y) const;

    // The building whose roof covers (x, y), or nullptr.
    const Building* building_at(double x, double y) const;

    // Highest crown surface over (x, y); false when no crown covers the point.
    bool canopy_top(double x, double y, double& top) const;

    const std::vector<Building>& buildings() const { return buildings_; }
    const std::vector<Tree>& trees() const { return trees_; }

    // Trees sit on a jittered grid of this spacing inside their patch; a crown
    // never reaches past the neighbouring grid slots, which keeps lookups O(1).
    static constexpr double tree_spacing = 4.5;
    static constexpr double max_crown_radius = 3.2;

private:
    enum class Kind : std::uint8_t { open, building, trees };
    struct Quadrant {
        Kind kind = Kind::open;
        int building = -1;
        std::uint32_t tree_first = 0;  // index into trees_ of slot (0, 0)
        int tree_slots = 0;            // slots per side
    };
    struct Wave {
        double kx, ky, phase, amplitude;
    };
    struct Bump {
        double cx, cy, inv_two_sigma2, cutoff2, amplitude;
    };

    const Quadrant& quadrant_at(double x, double y, double& qx0, double& qy0) const;
    void place_building(Quadrant& quad, Rng& rng, double qx0, double qy0);
    void place_trees(Quadrant& quad, Rng& rng, double qx0, double qy0);

    double size_;
    int quads_per_side_ = 1;
    double quad_side_ = 1;
    std::vector<Wave> waves_;
    std::vector<Bump> bumps_;
    std::vector<Quadrant> quads_;
    std::vector<Building> buildings_;
    std::vector<Tree> trees_;
};

// What a pulse hit.
enum class Surface : std::uint8_t { ground, canopy, roof };

// One output record: X and Y as centimetre offsets from the origin, Z as an
// absolute elevation in centimetres, and the surface it lies on.
struct Record {
    std::int64_t x_cm, y_cm, z_cm;
    Surface surface;
};

// A record's attributes as a LAS survey gives them.
struct SurveyAttributes {
    std::uint8_t classification;  // 2 ground, 5 high vegetation, 6 building
    std::uint8_t return_number, number_of_returns;
};

// Lays `points` records over the scene in flight-line order: rows of pulses
// across X, rows advancing in Y, each pulse jittered inside its own slot so
// the density is even down to the metre. The four corners of the square are
// pinned so the bounding box is exactly the requested one.
class Sampler {
public:
    Sampler(const Scene& scene, std::uint64_t seed, std::uint64_t points);

    std::uint64_t points() const { return points_; }
    std::uint64_t rows() const { return rows_; }
    std::int64_t size_cm() const { return size_cm_; }

    // Record number `index` (0 <= index < points) in scan order.
    Record record(std::uint64_t index) const;

    // The LAS classification and returns of record `index` (`rec` is
    // record(index)): ground 2, canopy 5, roofs 6. The pulse after a canopy
    // hit in its flight line stands for that pulse's ground return beneath
    // the crown: when it reaches the ground, the two are returns 1 and 2 of
    // 2; every other record is the one return of its pulse. So the class 2
    // records are exactly the ground records of the model.
    SurveyAttributes survey(std::uint64_t index, const Record& rec) const;

    // X and Y of record number `index` in millimetres, for clouds printed with
    // three decimals: its centimetre position plus a sub-centimetre offset of
    // its own. Coordinates on the square's edges keep a zero offset, so the
    // bounding box is still exactly the requested square. The elevation stays
    // the one at the centimetre position, less than a centimetre away.
    std::pair<std::int64_t, std::int64_t> position_mm(std::uint64_t index, const Record& rec) const;

    static constexpr std::uint64_t max_points = std::uint64_t{1} << 40;

private:
    struct Slot {
        std::uint64_t row, col, count;  // the pulse's row, its place in the row, the row's pulses
    };
    Slot slot(std::uint64_t index) const;
    std::uint64_t row_start(std::uint64_t row) const;
    std::uint64_t hash(std::uint64_t index, int stream) const;

    const Scene& scene_;
    std::uint64_t points_;
    std::uint64_t rows_;
    std::int64_t size_cm_;
    std::uint64_t keys_[6];
};

// Stretches the scene's elevations monotonically over [lo, hi] metres so that
// the printed elevations take every integer width the range spans. The range
// is cut at 0 and at plus and minus 10, 100, 1000, ... and each piece gets an
// equal share of the records: its ends are quantiles of an evenly spread
// sample of the cloud. The order of elevations is kept (roofs stay flat,
// crowns stay above the ground), so the surface is only stretched. Records
// beyond the sample's extremes continue the end pieces' slopes and are
// clamped into [lo, hi].
class ElevationMap {
public:
    ElevationMap(const Sampler& sampler, double lo, double hi);

    // The stretched elevation of a record's `z_cm`, in centimetres.
    std::int64_t operator()(std::int64_t z_cm) const;

    // Ends of the pieces in the target range, lo first and hi last.
    const std::vector<double>& targets() const { return to_; }

    static constexpr std::uint64_t sample_size = 65536;

private:
    std::vector<double> from_;  // scene elevations (cm) at the ends of the pieces
    std::vector<double> to_;    // the same ends in the target range (m)
};

// A keyed bijection of [0, n): a balanced Feistel network over the smallest
// even-bit power of two >= n, walked until it lands back inside [0, n).
class Permutation {
public:
    Permutation(std::uint64_t seed, std::uint64_t n);
    std::uint64_t operator()(std::uint64_t i) const;

private:
    std::uint64_t n_;
    unsigned half_bits_ = 1;
    std::uint64_t half_mask_ = 1;
    std::uint64_t keys_[6];
};

// Writes `cm` as metres with exactly two decimals ("-0.05", "480123.45") and
// returns the end of the written text. `out` needs room for 24 characters.
char* format_cm(char* out, std::int64_t cm);

// The same for millimetres, with three decimals ("-20.497", "480123.456").
char* format_mm(char* out, std::int64_t mm);

}  // namespace cloudgen
