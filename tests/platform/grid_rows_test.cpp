// Grid rows from large mappings: each row zero filled and aligned, apart
// from every other row, zero again when its mapping is handed out anew, and
// still served (by calloc) where no mapping can be had.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/grid_rows.h"

using namespace kestranov;

namespace {

struct Row {
    unsigned char* bytes;
    std::size_t size;
};

// Rows of sizes from 1 byte to 3 MiB: more than one mapping's worth.
std::vector<Row> some_rows(std::mt19937_64& rng)
{
    std::vector<Row> rows;
    for (int k = 0; k < 400; ++k) {
        const std::size_t count = k % 50 == 0 ? (3u << 20) + rng() % 4096 : 1 + rng() % 20000, size = 1 + k % 8;
        rows.push_back({static_cast<unsigned char*>(grid_row_alloc(count, size)), count * size});
    }
    return rows;
}

bool all_zero(const Row& r)
{
    return std::all_of(r.bytes, r.bytes + r.size, [](unsigned char b) { return b == 0; });
}

}  // namespace

TEST(GridRows, RowsAreZeroAlignedAndApartAcrossMappings)
{
    std::mt19937_64 rng(5);
    for (int round = 0; round < 2; ++round) {
        std::vector<Row> rows = some_rows(rng);
        for (const Row& r : rows) {
            ASSERT_NE(r.bytes, nullptr);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(r.bytes) % 64, 0u);
            EXPECT_TRUE(all_zero(r)) << "round " << round;
        }
        // Each row filled with its own byte; no other row may change it.
        for (std::size_t k = 0; k < rows.size(); ++k) std::fill_n(rows[k].bytes, rows[k].size, 1 + k % 251);
        for (std::size_t k = 0; k < rows.size(); ++k)
            EXPECT_TRUE(std::all_of(rows[k].bytes, rows[k].bytes + rows[k].size,
                                    [&](unsigned char b) { return b == 1 + k % 251; }))
                << "row " << k;
        // Given back in any order; the second round must find zeros again.
        std::shuffle(rows.begin(), rows.end(), rng);
        for (const Row& r : rows) grid_row_free(r.bytes);
    }
    grid_row_free(nullptr);
    EXPECT_EQ(grid_row_alloc(SIZE_MAX / 2, 4), nullptr);
}

// Under an address-space limit that leaves no room for a mapping, the rows
// come from calloc: still zero, and given back to it.
TEST(GridRows, WithoutRoomForAMappingCallocServes)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves far more address space than this limit";
#endif
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::ifstream status("/proc/self/status");
        std::string word;
        long kib = 0;
        while (status >> word)
            if (word == "VmSize:") status >> kib;
        const rlim_t limit = static_cast<rlim_t>(kib + 1024) * 1024;  // 1 MiB beyond what is mapped now
        const rlimit r{limit, limit};
        if (kib == 0 || setrlimit(RLIMIT_AS, &r) != 0) _exit(2);
        Row rows[8];
        for (Row& row : rows) row = {static_cast<unsigned char*>(grid_row_alloc(1000, 8)), 8000};
        bool ok = true;
        for (const Row& row : rows) ok = ok && row.bytes && all_zero(row);
        for (const Row& row : rows) grid_row_free(row.bytes);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
