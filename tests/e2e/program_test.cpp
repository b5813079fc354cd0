#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstdio>
#include <functional>
#include <map>

#include "core/version.h"
#include "e2e/program_runner.h"

namespace {

const std::filesystem::path golden = KESTRANOV_TEST_DATA "/golden";

struct GoldenDrive {
    TempDir drive;
    GoldenDrive() { write_file(zone("slope.xyz"), read_file(golden / "slope.xyz")); }
    std::filesystem::path zone(const std::string& rel) const { return drive.path() / "images" / "golden" / rel; }
};

}  // namespace

TEST(Program, GoldenRunToAnAsciiGrid)
{
    GoldenDrive g;
    ProgramRun r = run_program(g.drive.path(), "golden\n1\nslope\n1\n0\nascii\n0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.console, read_file(golden / "ascii.console"));
    EXPECT_EQ(read_file(g.zone("ascii_lidar.asc")), read_file(golden / "ascii_lidar.asc"));
}

TEST(Program, GoldenRunToA16BitRaster)
{
    GoldenDrive g;
    ProgramRun r = run_program(g.drive.path(), "golden\n1\nslope\n1\n1\nraster\n1\n0\n2\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.console, read_file(golden / "raster.console"));
    EXPECT_EQ(read_file(g.zone("raster_lidar_m2.raw")), read_file(golden / "raster_lidar_m2.raw"));
    EXPECT_EQ(read_file(g.zone("raster_lidar_m2.txt")), read_file(golden / "raster_lidar_m2.txt"));
}

// Failures end with status 1 and, with no key to press on a closed input,
// do not wait for one.
TEST(Program, FailuresEndWithStatus1WithoutWaitingAtTheEndOfInput)
{
    {
        GoldenDrive g;
        ProgramRun r = run_program(g.drive.path(), "golden\n2\nslope\nmissing\n1\n0\n");
        EXPECT_EQ(r.status, 1);
        const std::string tail = "\n\n\tFile c:\\images\\golden\\missing.xyz unknown\n";
        ASSERT_GE(r.console.size(), tail.size());
        EXPECT_EQ(r.console.substr(r.console.size() - tail.size()), tail);
    }
    {
        GoldenDrive g;
        ProgramRun r = run_program(g.drive.path(), "golden\n1\nslope\n0.1\n0\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.console.find("Despite an attempt to eliminate the pits"), std::string::npos);
    }
    {
        GoldenDrive g;
        ProgramRun r = run_program(g.drive.path(), "golden\n1\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.console.find("End of console input"), std::string::npos);
    }
}

// Arguments: --help and --version answer on standard output, without the
// dialogue (whose first read would meet the closed input); anything else is
// refused in one line with status 2, before any question.
TEST(Program, AnswersHelpAndVersionAndRefusesAnyOtherArgument)
{
    struct Case {
        std::string args;
        int status;
        std::string out_begins, err;
    };
    const std::string version = std::string("kestranov ") + kestranov::project_version + "\n";
    const std::string refusal = "': the program asks its questions on the console (kestranov --help shows the usage)\n";
    const std::vector<Case> cases = {
        {"--help", 0, "usage: kestranov\n", ""},
        {"--version -h", 0, "usage: kestranov\n", ""},
        {"--version", 0, version, ""},
        {"--version zone1", 2, "", "kestranov: unknown argument 'zone1" + refusal},
        {"--cell 1", 2, "", "kestranov: unknown argument '--cell" + refusal},
        {"''", 2, "", "kestranov: unknown argument '" + refusal},
    };
    TempDir dir;
    const std::string out = (dir.path() / "out").string(), err = (dir.path() / "err").string();
    for (const Case& c : cases) {
        const std::string command = shell_quoted(KESTRANOV_BINARY) + " " + c.args + " </dev/null >" + out + " 2>" + err;
        const int raw = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << c.args;
        EXPECT_EQ(read_file(out).rfind(c.out_begins, 0), 0u) << c.args << read_file(out);
        EXPECT_EQ(read_file(err), c.err) << c.args;
        if (c.out_begins == version || c.status != 0) {
            EXPECT_EQ(read_file(out), c.out_begins) << c.args;
        }
    }
}

// The ASCII grid is an ESRI ASCII grid: a GIS reader, where one is
// installed (GDAL's gdalinfo), takes it with every cell and the right size.
TEST(Program, AStandardGisReaderOpensTheAsciiGrid)
{
    if (std::system("command -v gdalinfo >/dev/null 2>&1") != 0) GTEST_SKIP() << "gdalinfo is not installed";
    GoldenDrive g;
    ASSERT_EQ(run_program(g.drive.path(), "golden\n1\nslope\n1\n0\nascii\n0\n").status, 0);
    const std::filesystem::path report = g.drive.path() / "gdalinfo.txt";
    const std::string command =
        "gdalinfo -stats '" + g.zone("ascii_lidar.asc").string() + "' > '" + report.string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << read_file(report);
    const std::string info = read_file(report);
    EXPECT_NE(info.find("Driver: AAIGrid"), std::string::npos) << info;
    EXPECT_NE(info.find("Size is 12, 8"), std::string::npos) << info;
    EXPECT_NE(info.find("Origin = (500000.000000000000000,4100008.000000000000000)"), std::string::npos) << info;
    EXPECT_NE(info.find("STATISTICS_VALID_PERCENT=100"), std::string::npos) << info;
}

namespace {

// Every file of the folder with its bytes ("<fifo>" and the like for what is
// no regular file), links seen as links.
std::map<std::string, std::string> folder_state(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> state;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        const auto status = e.symlink_status();
        state[e.path().filename()] = std::filesystem::is_symlink(status)
                                         ? "-> " + std::filesystem::read_symlink(e.path()).string()
                                     : std::filesystem::is_regular_file(status) ? read_file(e.path())
                                                                                : "<not a file>";
    }
    return state;
}

}  // namespace

// Inputs that cannot be read twice, outputs that would destroy an input, and
// a grid that cannot be written as numbers: each is refused with a message
// naming it, status 1, every file as it was, and at once (a FIFO nobody
// writes used to block the run for good).
TEST(Program, RefusedBeforeAnythingIsWritten)
{
    namespace fs = std::filesystem;
    struct Case {
        const char* what;
        std::function<void(const GoldenDrive&)> setup;
        std::string answers, message;
    };
    const std::string zone = "c:\\images\\golden\\";
    const std::string ascii = "golden\n1\nslope\n1\n0\ndem\n0\n", raster = "golden\n1\nslope\n1\n0\ndem\n1\n0\n2\n";
    const std::string is_slope = " is the point file " + zone + "slope.xyz (a link to it)";
    const std::vector<Case> cases = {
        {"fifo", [](const GoldenDrive& g) { mkfifo(g.zone("p.xyz").c_str(), 0600); }, "golden\n1\np\n1\n0\n",
         "File " + zone + "p.xyz is not a regular file"},
        {"device", [](const GoldenDrive& g) { fs::create_symlink("/dev/zero", g.zone("p.xyz")); },
         "golden\n1\np\n1\n0\n", "File " + zone + "p.xyz is not a regular file"},
        {"socket",
         [](const GoldenDrive& g) {
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::snprintf(address.sun_path, sizeof address.sun_path, "%s", g.zone("p.xyz").c_str());
             const int s = socket(AF_UNIX, SOCK_STREAM, 0);
             EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
             close(s);
         },
         "golden\n1\np\n1\n0\n", "File " + zone + "p.xyz is not a regular file"},
        {"grid linked", [](const GoldenDrive& g) { fs::create_symlink("slope.xyz", g.zone("dem_lidar.asc")); }, ascii,
         "The file " + zone + "dem_lidar.asc" + is_slope},
        {"image hard-linked",
         [](const GoldenDrive& g) { fs::create_hard_link(g.zone("slope.xyz"), g.zone("dem_lidar_m2.raw")); }, raster,
         "The file " + zone + "dem_lidar_m2.raw" + is_slope},
        {"descriptor linked",
         [](const GoldenDrive& g) { fs::create_symlink("../golden/slope.xyz", g.zone("dem_lidar_m2.txt")); }, raster,
         "The file " + zone + "dem_lidar_m2.txt" + is_slope},
        // Finite elevations whose sum is beyond a double: the mean was written as -inf.
        {"infinite mean",
         [](const GoldenDrive& g) {
             write_file(g.zone("p.xyz"), cloud_for({{-1.7e308, -1.6e308}, {-1.6e308, 0}}));
         },
         "golden\n1\np\n1\n0\ndem\n0\n", "The empty cell of row 1, column 1 (counted from 0 at the north-west corner)"},
    };
    for (const Case& c : cases) {
        GoldenDrive g;
        c.setup(g);
        const auto before = folder_state(g.zone(""));
        const ProgramRun r = run_program(g.drive.path(), c.answers, "", 20);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_NE(r.console.find(c.message), std::string::npos) << c.what << r.console;
        EXPECT_EQ(folder_state(g.zone("")), before) << c.what;
    }
}
