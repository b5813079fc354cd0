#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "LIB/NRUTIL.h"
#include "support.h"

using namespace kestranov;

namespace {

// Files of this process may grow to `bytes` only: the next write beyond it
// fails as on a full device. Restored on destruction.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit saved_{};
    void (*old_handler_)(int) = nullptr;
};

Rows big_grid() { return Rows(60, std::vector<double>(60, 123.456)); }

}  // namespace

TEST(OutputFailure, AFolderThatDoesNotExistIsNamedAndNothingIsWritten)
{
    Session s;
    s.put("a.xyz", "0 0 1\n1 0 1\n0 1 1\n1 1 1\n");
    EXPECT_EQ(s.run(gridding_answers({"a"}, "1", 0) + "missing\\dem\n0\n"), 1);
    const std::string t = s.console();
    EXPECT_NE(t.find("\n\n\tThe file c:\\images\\zone1\\missing\\dem_lidar.asc cannot be created\n"), std::string::npos)
        << t;
    EXPECT_EQ(s.files_in_zone(), std::vector<std::string>{"a.xyz"});

    Session o;
    o.use_grid(small_grid);
    EXPECT_EQ(o.save("nowhere\\d\n1\n1\n0\n"),
              "\n\n\tThe file c:\\images\\zone1\\nowhere\\d_lidar_m4.raw cannot be created\n");
    EXPECT_EQ(o.files_in_zone(), std::vector<std::string>{});
}

// A write that fails part way leaves neither a partial file nor a temporary
// one, and an existing DEM of the same name stays as it was.
TEST(OutputFailure, AFailedWriteKeepsTheExistingDem)
{
    {
        Session o;
        o.use_grid(big_grid());
        write_file(o.zone("dem1_lidar.asc"), "the previous DEM");
        std::string error;
        {
            FileSizeLimit limit(4096);
            error = o.save("dem1\n0\n");
        }
        EXPECT_EQ(error,
                  "\n\n\tThe file c:\\images\\zone1\\dem1_lidar.asc could not be written completely; nothing was "
                  "kept\n");
        EXPECT_EQ(read_file(o.zone("dem1_lidar.asc")), "the previous DEM");
        EXPECT_EQ(o.files_in_zone(), std::vector<std::string>{"dem1_lidar.asc"});
    }
    for (rlim_t limit_bytes : {rlim_t{4096}, rlim_t{100}}) {
        // 4096: the image fails; 100: the image (2 bytes) is fine, the descriptor fails.
        Session o;
        o.use_grid(limit_bytes == 100 ? Rows{{123.0}} : big_grid());
        write_file(o.zone("dem1_lidar_m2.raw"), "old image");
        write_file(o.zone("dem1_lidar_m2.txt"), "old descriptor");
        std::string error;
        {
            FileSizeLimit limit(limit_bytes);
            error = o.save("dem1\n1\n0\n0\n");
        }
        EXPECT_NE(error.find(limit_bytes == 100 ? "dem1_lidar_m2.txt could not be written"
                                                : "dem1_lidar_m2.raw could not be written"),
                  std::string::npos)
            << error;
        EXPECT_EQ(read_file(o.zone("dem1_lidar_m2.raw")), "old image");
        EXPECT_EQ(read_file(o.zone("dem1_lidar_m2.txt")), "old descriptor");
        EXPECT_EQ(o.files_in_zone(), (std::vector<std::string>{"dem1_lidar_m2.raw", "dem1_lidar_m2.txt"}));
    }
}

namespace {
int allocations = 0;
int fail_at = -1;
void* counting_alloc(size_t count, size_t size)
{
    return allocations++ == fail_at ? nullptr : std::calloc(count, size);
}
}  // namespace

// Every grid allocation of a whole run failing in turn: the message, status
// 1, no output file, no crash.
TEST(OutputFailure, EachAllocationOfARunFailingInTurn)
{
    const std::string cloud = "0 0 1\n1 0 1\n0 1 1\n1 1 1\n2 2 3\n";
    for (const std::string& output : {std::string("dem\n0\n"), std::string("dem\n1\n0\n0\n")}) {
        allocations = 0, fail_at = -1;
        nr_set_allocator(counting_alloc, nullptr);
        {
            Session s;
            s.put("a.xyz", cloud);
            ASSERT_EQ(s.run(gridding_answers({"a"}, "1", 0) + output), 0) << s.console();
        }
        const int total = allocations;
        ASSERT_GT(total, 8);
        for (int k = 0; k < total; ++k) {
            allocations = 0, fail_at = k;
            Session s;
            s.put("a.xyz", cloud);
            EXPECT_EQ(s.run(gridding_answers({"a"}, "1", 0) + output), 1) << "allocation " << k;
            EXPECT_NE(s.console().find("Not enough memory for "), std::string::npos) << "allocation " << k;
            EXPECT_EQ(s.files_in_zone(), std::vector<std::string>{"a.xyz"}) << "allocation " << k;
        }
        nr_set_allocator(nullptr, nullptr);
    }
}

namespace {
// A console that deletes a file as soon as the extent pass reports, that
// is between the two readings of the point files.
class DeletingConsole : public std::stringbuf {
public:
    explicit DeletingConsole(std::filesystem::path victim) : victim_(std::move(victim)) {}

protected:
    int sync() override
    {
        if (str().find("First Lecture") != std::string::npos) std::filesystem::remove(victim_);
        return 0;
    }

private:
    std::filesystem::path victim_;
};
}  // namespace

TEST(OutputFailure, APointFileThatDisappearsBetweenThePasses)
{
    Session s;
    s.put("a.xyz", "0 0 1\n1 0 1\n");
    s.put("b.xyz", "0 1 1\n1 1 1\n");
    DeletingConsole console(s.zone("b.xyz"));
    std::ostream out(&console);
    std::istringstream in(gridding_answers({"a", "b"}, "1", 0));
    s.st.in = &in;
    s.st.out = &out;
    s.st.drive_root = s.drive.path();
    EXPECT_EQ(run(s.st), 1);
    const std::string t = console.str();
    const std::string tail =
        "\n\n\tFile 1 Name : c:\\images\\zone1\\a.xyz\n\n\n\n\tFile c:\\images\\zone1\\b.xyz unknown\n";
    ASSERT_GE(t.size(), tail.size());
    EXPECT_EQ(t.substr(t.size() - tail.size()), tail);
}

// Permissions do not stop root, who runs CI: the run is made in a child
// process that has given up root for an ordinary user first.
TEST(OutputFailure, APointFileThatCannotBeRead)
{
    Session s;
    s.put("a.xyz", "0 0 1\n1 0 1\n");
    std::filesystem::permissions(s.zone("a.xyz"), std::filesystem::perms::none);
    // The folders must stay open to the ordinary user; only the file is closed to it.
    std::filesystem::permissions(s.drive.path(),
                                 std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::_Exit(99);
            const int status = s.run(gridding_answers({"a"}, "1", 0));
            std::fputs(s.console().c_str(), stderr);
            std::_Exit(status);
        },
        testing::ExitedWithCode(1), "File c:.images.zone1.a.xyz unknown");
}
