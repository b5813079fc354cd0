#include "points/text_scanner.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/memory.h"

namespace kestranov {

namespace {

constexpr std::size_t large_page_doubles = (std::size_t{2} << 20) / sizeof(double);

const char* skip_blanks(const char* p, const char* end)
{
    while (p < end && is_blank(*p)) ++p;
    return p;
}

// Whether [first, last) could be a number of a record shape: a sign,
// digits and a point only. Tested before a shape is built, so that files
// of other numbers (exponents, long mantissas) pay little for the attempt.
bool plain(const char* first, const char* last)
{
    if (first < last && (*first == '-' || *first == '+')) ++first;
    if (last - first > 16) return false;
    for (; first < last; ++first)
        if (static_cast<unsigned char>(*first - '0') >= 10 && *first != '.') return false;
    return true;
}

}  // namespace

const char* scan_values(const char* p, const char* end, double* out, std::size_t room, std::size_t& count,
                        BadToken& bad, ShapeCache& shapes)
{
    std::size_t n = 0;
    for (;;) {
        p = skip_blanks(p, end);
        if (p == end || room - n < 4) break;
        // Records of a known shape; one value of slack for the vector store.
        if (const std::size_t records = read_records(shapes, p, end, out + n, (room - n - 1) / 3)) {
            n += 3 * records;
            continue;
        }
        // Three tokens one by one; their record's shape is learned when it has one.
        const char* t[3];
        const char* e[3];
        for (int k = 0; k < 3; ++k) {
            if (k) p = skip_blanks(p, end);
            if (p == end) {
                count += n;
                return p;
            }
            t[k] = p;
            ScanResult r;
            p = scan_token(p, end, r);
            if (r.status != ScanStatus::ok) {
                bad = {t[k], p, r.status};
                count += n;
                return t[k];
            }
            e[k] = p;
            out[n++] = r.value;
        }
        const char* next = skip_blanks(p, end);
        RecordShape shape;
        if (next < end && next - t[0] <= 64 && plain(t[0], e[0]) && plain(t[1], e[1]) && plain(t[2], e[2]) &&
            learn_shape(t, e, next, shape))
            remember_shape(shapes, shape);
        p = next;
    }
    count += n;
    return p;
}

void ScannedValues::scan(const char* p, const char* end, ShapeCache& shapes)
{
    count = 0;
    bad = {};
    for (;;) {
        if (capacity - count < 4) {
            // Some 9 bytes of text per value in the usual files: one growth at most.
            std::size_t more =
                std::max<std::size_t>({2 * capacity, static_cast<std::size_t>(end - p) / 8 + count + 64, 4096});
            // From a quarter of a large page up, whole large pages: a share
            // that grows later then mostly fits without a second growth.
            if (more >= large_page_doubles / 4)
                more = (more + large_page_doubles - 1) / large_page_doubles * large_page_doubles;
            std::unique_ptr<double[], Free> larger(
                static_cast<double*>(allocate_in_large_pages(more * sizeof(double))));
            if (!larger) throw std::bad_alloc();
            if (count) std::memcpy(larger.get(), values.get(), count * sizeof(double));
            values = std::move(larger);
            capacity = more;
        }
        p = scan_values(p, end, values.get() + count, capacity - count, count, bad, shapes);
        if (bad.first || p == end) return;
    }
}

void ScannedValues::release()
{
    values.reset();
    count = capacity = 0;
    bad = {};
}

}  // namespace kestranov
