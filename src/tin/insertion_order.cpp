#include "tin/insertion_order.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>

#include "platform/memory.h"
#include "platform/threads.h"

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

// n keys, their memory asked for large pages and left untouched: each
// thread that fills a part of it then takes the faults of its own pages.
std::unique_ptr<std::uint64_t[]> untouched_keys(std::size_t n)
{
    auto keys = std::make_unique_for_overwrite<std::uint64_t[]>(n);
    kestranov::prefer_large_pages(keys.get(), n * sizeof(std::uint64_t));
    return keys;
}

// Least significant digit first, a byte at a time, over the upper 32 bits
// only: each pass is stable, so keys equal there stay in the order of their
// low halves (the indices, written in increasing order). An even number of
// passes: the keys end where they began.
void sort_by_high_half(std::uint64_t* keys, std::uint64_t* other, std::size_t n)
{
    for (int shift = 32; shift < 64; shift += 8) {
        std::array<std::size_t, 257> start{};
        for (std::size_t i = 0; i < n; ++i) ++start[((keys[i] >> shift) & 0xFF) + 1];
        for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
        for (std::size_t i = 0; i < n; ++i) other[start[(keys[i] >> shift) & 0xFF]++] = keys[i];
        std::swap(keys, other);
    }
}

// The indices of two sorted runs of distinct keys, a[0, na) and b[0, nb),
// in the order of the keys: the first `half` of them merged from the
// front, the rest from the back (each end on a thread of its own, neither
// writing where the other does).
void merge_front(const std::uint64_t* a, std::size_t na, const std::uint64_t* b, std::size_t nb, std::uint32_t* out,
                 std::size_t half)
{
    std::size_t i = 0, j = 0;
    for (std::size_t k = 0; k < half; ++k) {
        const bool from_a = j == nb || (i < na && a[i] < b[j]);
        out[k] = static_cast<std::uint32_t>(from_a ? a[i++] : b[j++]);
    }
}

void merge_back(const std::uint64_t* a, std::size_t na, const std::uint64_t* b, std::size_t nb, std::uint32_t* out,
                std::size_t half)
{
    std::size_t i = na, j = nb;
    for (std::size_t k = na + nb; k > half; --k) {
        const bool from_a = j == 0 || (i > 0 && a[i - 1] > b[j - 1]);
        out[k - 1] = static_cast<std::uint32_t>(from_a ? a[--i] : b[--j]);
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

std::vector<std::uint32_t> insertion_order(const std::vector<Vertex>& vertices, int threads)
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
    const std::size_t n = vertices.size();
    const std::unique_ptr<std::uint64_t[]> keys = untouched_keys(n);
    std::unique_ptr<std::uint64_t[]> other = untouched_keys(n);
    // One 64-bit key a point: its round (the last, half of the points, has
    // the highest key), its curve index, then its own index. On two
    // threads, each makes and sorts half of them.
    const std::size_t split = threads > 1 ? n / 2 : n;
    const auto sort_keys = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            const int zeros = std::countr_zero(mixed(i) | (1ULL << (kRounds - 1)));
            const std::uint64_t round = kRounds - 1 - zeros;
            const std::uint32_t curve =
                hilbert_index(cell_of(vertices[i].x, x_low, scale), cell_of(vertices[i].y, y_low, scale), kCurveOrder);
            keys[i] = (round << 60) | (static_cast<std::uint64_t>(curve) << 32) | i;
        }
        sort_by_high_half(keys.get() + from, other.get() + from, to - from);
    };
    {
        const kestranov::Beside second(split < n, [&] { sort_keys(split, n); });
        sort_keys(0, split);
    }
    other.reset();
    // The keys hold their index: all distinct, and the two halves merged
    // by the whole key are in the very order one sort would give.
    const std::uint64_t* a = keys.get();
    const std::uint64_t* b = keys.get() + split;
    std::vector<std::uint32_t> order;
    order.reserve(n);
    kestranov::populate_for_writing(order.data(), n * sizeof(std::uint32_t), split < n);
    order.resize(n);
    {
        const kestranov::Beside back(split < n, [&] { merge_back(a, split, b, n - split, order.data(), n / 2); });
        merge_front(a, split, b, n - split, order.data(), split < n ? n / 2 : n);
    }
    return order;
}

}  // namespace tin
