#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "LIB/NRUTIL.h"

namespace {

// A recording allocator: fails the request numbered `fail_at` (0-based) and
// remembers the order of requests and releases.
struct Recorder {
    int fail_at = -1;
    int requests = 0;
    std::vector<void*> obtained;
    std::vector<void*> released;
};
Recorder rec;

void* recording_alloc(size_t count, size_t size)
{
    if (rec.requests++ == rec.fail_at) return nullptr;
    void* p = std::calloc(count, size);
    rec.obtained.push_back(p);
    return p;
}
void recording_free(void* p)
{
    rec.released.push_back(p);
    std::free(p);
}

struct RecordingAllocator {
    explicit RecordingAllocator(int fail_at)
    {
        rec = Recorder{};
        rec.fail_at = fail_at;
        nr_set_allocator(recording_alloc, recording_free);
    }
    ~RecordingAllocator() { nr_set_allocator(nullptr, nullptr); }
};

// Every byte of the block is zero. Compared byte by byte rather than against
// a value-initialised T: a long double has padding bytes that `T{}` leaves
// indeterminate (they hold stack garbage under AddressSanitizer).
template <class T>
bool all_zero(T* row, int n)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(row);
    for (std::size_t k = 0; k < static_cast<std::size_t>(n) * sizeof(T); ++k)
        if (bytes[k] != 0) return false;
    return true;
}

}  // namespace

TEST(Nrutil, MatricesAreRowsOfZeroFilledBlocksColumnsFirst)
{
    double** d = dmatrice(3, 2);
    ASSERT_NE(d, nullptr);
    EXPECT_NE(d[0], d[1]);
    EXPECT_TRUE(all_zero(d[0], 3) && all_zero(d[1], 3));
    d[0][2] = 1.0;
    d[1][2] = 2.0;  // 2 rows of 3: both writes stay inside their rows
    EXPECT_EQ(d[0][2] + d[1][2], 3.0);
    frdmatrice(d, 2);

    unsigned char** uc = ucmatrice(6, 3);
    ASSERT_NE(uc, nullptr);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(all_zero(uc[i], 6));
    frucmatrice(uc, 3);

    long double** ld = ldmatrice(4, 1);
    ASSERT_NE(ld, nullptr);
    EXPECT_TRUE(all_zero(ld[0], 4));
    frldmatrice(ld, 1);

    float** f = fmatrice(2, 2);
    short** s = smatrice(2, 2);
    int** i = imatrice(2, 2);
    unsigned short** us = usmatrice(2, 2);
    ASSERT_TRUE(f && s && i && us);
    EXPECT_TRUE(all_zero(f[1], 2) && all_zero(s[1], 2) && all_zero(i[1], 2) && all_zero(us[1], 2));
    frfmatrice(f, 2);
    frsmatrice(s, 2);
    frimatrice(i, 2);
    frusmatrice(us, 2);
}

TEST(Nrutil, ZeroNegativeAndOverflowingSizesGiveNull)
{
    EXPECT_EQ(usmatrice(0, 5), nullptr);  // the first row is a request of zero bytes
    EXPECT_EQ(imatrice(5, 0), nullptr);   // the pointer array is a request of zero bytes
    EXPECT_EQ(dmatrice(-1, 3), nullptr);
    EXPECT_EQ(dmatrice(3, -1), nullptr);
    EXPECT_EQ(ucvecteur(0), nullptr);
    EXPECT_EQ(dvecteur(-4), nullptr);

    double* v = dvecteur(4);
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(all_zero(v, 4));
    frdvecteur(v);
    frfvecteur(nullptr);  // releasing a null vector does nothing

    unsigned short* a = usvecteur(3);
    short* b = svecteur(3);
    int* c = ivecteur(3);
    float* e = fvecteur(3);
    unsigned char* g = ucvecteur(3);
    ASSERT_TRUE(a && b && c && e && g);
    EXPECT_TRUE(all_zero(a, 3) && all_zero(b, 3) && all_zero(c, 3) && all_zero(e, 3) && all_zero(g, 3));
    frusvecteur(a);
    frsvecteur(b);
    frivecteur(c);
    frfvecteur(e);
    frucvecteur(g);
}

TEST(Nrutil, FailureOfRowKRequestsNoLaterRowAndGivesBackEarlierOnes)
{
    for (int k = 0; k < 4; ++k) {
        RecordingAllocator guard(1 + k);  // request 0 is the pointer array, request 1 + k is row k
        EXPECT_EQ(dmatrice(3, 4), nullptr) << "row " << k;
        EXPECT_EQ(rec.requests, 2 + k) << "a row after row " << k << " was requested";
        // Everything obtained (the array and rows 0..k-1) went back.
        EXPECT_EQ(rec.released.size(), rec.obtained.size());
    }
    {
        RecordingAllocator guard(0);
        EXPECT_EQ(ucmatrice(3, 4), nullptr);
        EXPECT_EQ(rec.requests, 1);
    }
}

TEST(Nrutil, ReleaseGivesBackEveryRowAndTheArray)
{
    RecordingAllocator guard(-1);
    double** d = dmatrice(3, 2);
    ASSERT_NE(d, nullptr);
    frdmatrice(d, 2);
    std::vector<void*> obtained = rec.obtained, released = rec.released;
    std::sort(obtained.begin(), obtained.end());
    std::sort(released.begin(), released.end());
    EXPECT_EQ(released, obtained);
}
