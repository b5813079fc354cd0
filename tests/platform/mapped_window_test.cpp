// A mapping of a point file read in place: a file cut shorter under it reads
// as zeros past the cut and says so, and the bus-error handler that makes
// that possible is there only while a window is mapped and passes every
// other bus error on to the action that was there before it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <csetjmp>
#include <csignal>
#include <string>

#include "files.h"
#include "platform/mapped_window.h"

using namespace kestranov;

namespace {

sigjmp_buf escape;
volatile sig_atomic_t foreign_bus_errors = 0;

void foreign_handler(int /*signal*/)
{
    foreign_bus_errors = foreign_bus_errors + 1;
    siglongjmp(escape, 1);
}

struct OpenFile {
    explicit OpenFile(const std::string& path) : fd(::open(path.c_str(), O_RDWR)) {}
    ~OpenFile() { ::close(fd); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd;
};

// The handler in place for the test, and whatever was there (a sanitizer's)
// put back after it.
struct ForeignHandler {
    ForeignHandler()
    {
        struct sigaction action {};
        action.sa_handler = foreign_handler;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &before);
    }
    ~ForeignHandler() { sigaction(SIGBUS, &before, nullptr); }
    ForeignHandler(const ForeignHandler&) = delete;
    ForeignHandler& operator=(const ForeignHandler&) = delete;
    struct sigaction before {};
};

bool handler_is_foreign()
{
    struct sigaction now {};
    sigaction(SIGBUS, nullptr, &now);
    return (now.sa_flags & SA_SIGINFO) == 0 && now.sa_handler == foreign_handler;
}

}  // namespace

TEST(MappedWindow, ACutFileReadsAsZerosAndEveryOtherBusErrorGoesToTheActionBefore)
{
    const long page = sysconf(_SC_PAGESIZE);
    const std::string bytes(static_cast<std::size_t>(4 * page), '7');
    const TempDir dir;
    const std::string windowed = dir.path() / "windowed.xyz", other = dir.path() / "other.xyz";
    write_file(windowed, bytes);
    write_file(other, bytes);
    const OpenFile in(windowed), elsewhere(other);
    const ForeignHandler foreign;
    {
        MappedWindow window;
        ASSERT_TRUE(window.map(in.fd, static_cast<std::uint64_t>(page) + 5, static_cast<std::size_t>(2 * page)));
        EXPECT_FALSE(handler_is_foreign()) << "a mapped window needs its own handler";
        ASSERT_EQ(std::string(window.data(), 3), "777");

        // Cut a page into the window: the bytes before the cut are the
        // file's, those after it zeros, and the window says it was cut.
        ASSERT_EQ(::ftruncate(in.fd, 2 * page), 0);
        const char* const data = window.data();
        const std::size_t past = static_cast<std::size_t>(page) - 5;
        EXPECT_EQ(data[past - 1], '7');
        EXPECT_EQ(data[past], '\0');
        EXPECT_EQ(data[2 * page - 1], '\0');
        ASSERT_NE(window.cut(), nullptr);
        EXPECT_TRUE(window.cut()->load());

        // A bus error in a mapping that is no window: the program's own
        // fault, passed on, never taken for a cut file.
        void* const mapped = mmap(nullptr, static_cast<std::size_t>(2 * page), PROT_READ, MAP_PRIVATE, elsewhere.fd, 0);
        ASSERT_NE(mapped, MAP_FAILED);
        ASSERT_EQ(::ftruncate(elsewhere.fd, 0), 0);
        if (sigsetjmp(escape, 1) == 0) {
            const volatile char* const p = static_cast<const char*>(mapped);
            (void)p[page];
        }
        EXPECT_EQ(foreign_bus_errors, 1);
        EXPECT_FALSE(handler_is_foreign()) << "the windows still mapped lost their handler";
        munmap(mapped, static_cast<std::size_t>(2 * page));
    }
    // The last window gone, the action before is back as it was.
    EXPECT_TRUE(handler_is_foreign());
}
