#include "tin/insertion_order.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

#include "platform/memory.h"

namespace tin {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

constexpr int kCurveOrder = 14;  // 16384 x 16384 cells: far finer than any point spacing needs
constexpr int kRounds = 16;

// A fixed mix of the index (splitmix64's finaliser): the same rounds for the
// same input, a random-looking share for each.
std::uint64_t mixed(std::uint64_t v)
{
    v += 0x9E3779B97F4A7C15ULL;
    v = (v ^ (v >> 30)) * 0xBF58476D1CE4E5B9ULL;
    v = (v ^ (v >> 27)) * 0x94D049BB133111EBULL;
    return v ^ (v >> 31);
}

std::uint32_t cell_of(double v, double low, double scale)
{
    const double cell = std::floor((v - low) * scale);
    constexpr double kLast = (1U << kCurveOrder) - 1;
    return static_cast<std::uint32_t>(std::clamp(cell, 0.0, kLast));
}

// n keys, their memory asked for large pages before it is first touched.
std::vector<std::uint64_t> untouched_keys(std::size_t n)
{
    std::vector<std::uint64_t> keys;
    keys.reserve(n);
    kestranov::prefer_large_pages(keys.data(), n * sizeof(std::uint64_t));
    keys.resize(n);
    return keys;
}

// Least significant digit first, a byte at a time, over the upper 32 bits
// only: each pass is stable, so keys equal there stay in the order of their
// low halves (the indices, written in increasing order).
void sort_by_high_half(std::vector<std::uint64_t>& keys)
{
    std::vector<std::uint64_t> other = untouched_keys(keys.size());
    for (int shift = 32; shift < 64; shift += 8) {
        std::array<std::size_t, 257> start{};
        for (const std::uint64_t k : keys) ++start[((k >> shift) & 0xFF) + 1];
        for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
        for (const std::uint64_t k : keys) other[start[(k >> shift) & 0xFF]++] = k;
        keys.swap(other);
    }
}

}  // namespace

std::uint32_t hilbert_index(std::uint32_t x, std::uint32_t y, int order)
{
    std::uint32_t d = 0;
    for (std::uint32_t s = 1U << (order - 1); s > 0; s >>= 1) {
        const std::uint32_t rx = (x & s) != 0 ? 1 : 0;
        const std::uint32_t ry = (y & s) != 0 ? 1 : 0;
        d += s * s * ((3 * rx) ^ ry);
        x &= s - 1;
        y &= s - 1;
        // Turn the quadrant so that the curve inside it starts where the
        // previous quadrant's ended.
        if (ry == 0) {
            if (rx == 1) {
                x = s - 1 - x;
                y = s - 1 - y;
            }
            std::swap(x, y);
        }
    }
    return d;
}

std::vector<std::uint32_t> insertion_order(const std::vector<Vertex>& vertices)
{
    double x_low = kInfinity, x_high = -kInfinity, y_low = kInfinity, y_high = -kInfinity;
    for (const Vertex& v : vertices) {
        x_low = std::min(x_low, v.x);
        x_high = std::max(x_high, v.x);
        y_low = std::min(y_low, v.y);
        y_high = std::max(y_high, v.y);
    }
    const double extent = std::max(x_high - x_low, y_high - y_low);
    const double scale = extent > 0 ? (1U << kCurveOrder) / extent : 0.0;
    // One 64-bit key a point: its round (the last, half of the points, has
    // the highest key), its curve index, then its own index.
    std::vector<std::uint64_t> keys = untouched_keys(vertices.size());
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const int zeros = std::countr_zero(mixed(i) | (1ULL << (kRounds - 1)));
        const std::uint64_t round = kRounds - 1 - zeros;
        const std::uint32_t curve =
            hilbert_index(cell_of(vertices[i].x, x_low, scale), cell_of(vertices[i].y, y_low, scale), kCurveOrder);
        keys[i] = (round << 60) | (static_cast<std::uint64_t>(curve) << 32) | i;
    }
    sort_by_high_half(keys);
    std::vector<std::uint32_t> order(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) order[i] = static_cast<std::uint32_t>(keys[i]);
    return order;
}

}  // namespace tin
