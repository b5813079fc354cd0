#include "points/record_path.h"

#include <atomic>
#include <cstring>

#include "points/record_kernels.h"

namespace kestranov {

namespace {

constexpr double powers_of_ten[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
constexpr int most_digits = 15;

std::atomic<std::uint64_t> hits{0};

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Number n of the record, [first, last): a sign, digits and at most one
// point, at most 15 digits. Records where each byte stands in the shape.
bool learn_number(const char* record, const char* first, const char* last, int n, RecordShape& s)
{
    const char* q = first;
    bool negative = false;
    if (*q == '-' || *q == '+') negative = *q++ == '-';
    s.start[n] = static_cast<unsigned char>(q - record);
    int digits = 0, decimals = 0;
    bool point = false;
    unsigned char at[most_digits];
    for (; q < last; ++q) {
        if (is_digit(*q)) {
            if (digits == most_digits) return false;
            at[digits++] = static_cast<unsigned char>(q - record);
            decimals += point;
        } else if (*q == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (digits == 0) return false;
    for (int k = 0; k < digits; ++k) {
        const int lane = 16 - digits + k;
        s.base[at[k]] = '0';
        s.limit[at[k]] = 9;
        s.gather[16 * n + lane] = at[k];
        s.gather_lanes |= std::uint64_t{1} << (16 * n + lane);
        s.shuffle[n][lane] = static_cast<unsigned char>(at[k] - s.start[n]);
        s.digit_at[n][k] = at[k];
    }
    s.digits[n] = static_cast<unsigned char>(digits);
    s.divisor[n] = negative ? -powers_of_ten[decimals] : powers_of_ten[decimals];
    return true;
}

}  // namespace

bool learn_shape(const char* const t[3], const char* const e[3], const char* next, RecordShape& shape)
{
    const char* record = t[0];
    if (next - record > 64 || next <= e[2]) return false;
    RecordShape& s = shape;
    std::memset(&s, 0, sizeof s);
    std::memset(s.limit, 255, sizeof s.limit);
    std::memset(s.shuffle, 0x80, sizeof s.shuffle);
    s.length = static_cast<unsigned>(next - record);
    for (unsigned i = 0; i < s.length; ++i) {
        s.base[i] = static_cast<unsigned char>(record[i]);
        s.limit[i] = 0;
    }
    for (int n = 0; n < 3; ++n)
        if (!learn_number(record, t[n], e[n], n, s)) return false;
    s.divisor[3] = 1.0;
    return true;
}

void remember_shape(ShapeCache& cache, const RecordShape& shape)
{
    int slot = cache.count;
    if (cache.count < ShapeCache::capacity)
        ++cache.count;
    else
        slot = cache.replaced, cache.replaced = (cache.replaced + 1) % ShapeCache::capacity;
    cache.shapes[slot] = shape;
    cache.current = slot;
    std::uint64_t record = 0, digits = 0;
    for (unsigned i = 0; i < shape.length; ++i) {
        record |= std::uint64_t{1} << i;
        if (shape.limit[i] == 9) digits |= std::uint64_t{1} << i;
    }
    cache.record_bytes[slot] = record;
    cache.digit_bytes[slot] = digits;
}

std::size_t read_records(ShapeCache& cache, const char*& p, const char* end, double* out, std::size_t max)
{
    if (cache.count == 0 || max == 0) return 0;
    std::size_t n;
    switch (cache.path) {
        case VectorPath::avx512:
            n = read_records_avx512(cache, p, end, out, max);
            break;
        case VectorPath::avx2:
            n = read_records_avx2(cache, p, end, out, max);
            break;
        default:
            n = read_records_scalar(cache, p, end, out, max);
    }
    if (n) hits.fetch_add(n, std::memory_order_relaxed);
    return n;
}

std::uint64_t record_path_hits() { return hits.load(); }

// The plain path, for every processor.
std::size_t read_records_scalar(ShapeCache& cache, const char*& p, const char* end, double* out, std::size_t max)
{
    std::size_t n = 0;
    const char* q = p;
    int k = cache.current;
    for (; n < max; ++n) {
        const RecordShape* s = &cache.shapes[k];
        if (q + s->length > end || !fits_scalar(*s, q)) {
            k = shape_at(cache, q, end, fits_scalar);
            if (k < 0) break;
            s = &cache.shapes[k];
        }
        convert_scalar(*s, q, out + 3 * n);
        q += s->length;
    }
    if (k >= 0) cache.current = k;
    p = q;
    return n;
}

bool fits_scalar(const RecordShape& s, const char* p)
{
    const auto* r = reinterpret_cast<const unsigned char*>(p);
    unsigned char over = 0;
    for (unsigned i = 0; i < s.length; ++i) over |= static_cast<unsigned char>(r[i] - s.base[i]) > s.limit[i];
    return over == 0;
}

void convert_scalar(const RecordShape& s, const char* p, double* out)
{
    for (int n = 0; n < 3; ++n) {
        std::uint64_t m = 0;
        for (int k = 0; k < s.digits[n]; ++k) m = m * 10 + static_cast<unsigned>(p[s.digit_at[n][k]] - '0');
        out[n] = static_cast<double>(m) / s.divisor[n];
    }
}

}  // namespace kestranov
