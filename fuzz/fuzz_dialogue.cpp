// Arbitrary bytes as the console input of a whole in-process run.
//
// The drive holds a few fixed point files in c:\images\z\: a.xyz (a small
// lattice with zero and negative elevations), b.xyz (a bad token in its
// second record), e.xyz (empty), h.xyz (elevations too high for any raster
// scale: the type and scale are asked again until the input ends), t.xyz
// (two points: most cell sizes leave pits), x.xyz (0.004 m wide in X and
// 0.75 m long in Y: every cell size tried gives a model without columns),
// y.xyz (the same turned a quarter: no rows), both with elevations spanning
// 80 m, too much for 16 bits in millimetres, and d.xyz, a folder.
//
// Whatever the bytes, the run ends with status 0 or 1; with 1 the console
// ends with one of the program's failure messages and no file is left
// behind; with 0 exactly the announced outputs appear, no temporary file,
// and an image holds as many bytes as its descriptor's rows, columns and
// bytes per cell say.
//
// Two kinds of input are set aside (not a fault of the program, a limit of
// the harness): ".." anywhere, which could name files outside the scratch
// drive, and numbers that as a cell size would give a grid that fits the
// machine but takes long to write (1e-10 up to 5e-3 m on these 0.75 m
// clouds); smaller ones are still tried, the program refuses them at once.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <vector>

#include "core/run_state.h"
#include "fuzz_support.h"
#include "run/driver.h"

using namespace kestranov;

namespace {

const std::vector<std::string> fixed_names = {"a.xyz", "b.xyz", "d.xyz", "e.xyz", "h.xyz", "t.xyz", "x.xyz", "y.xyz"};

std::filesystem::path zone() { return fuzz::drive() / "images" / "z"; }

void make_drive()
{
    std::string a;
    for (int i = 0; i <= 15; ++i)
        for (int j = 0; j <= 11; ++j) {
            const int z = (i * 7 + j * 3) % 11 - 4;
            a += std::to_string(i * 0.05) + " " + std::to_string(j * 0.05) + " " + std::to_string(z + 0.25 * (i % 2)) +
                 (j % 2 ? "\r\n" : "\n");
        }
    write_file(zone() / "a.xyz", a);
    write_file(zone() / "b.xyz", "0 0 1\n0.5 x 2\n0.75 0.55 3\n");
    write_file(zone() / "e.xyz", "");
    write_file(zone() / "h.xyz", "0 0 1e12\n0.75 0.55 -1e12\n0.3 0.3 0\n");
    write_file(zone() / "t.xyz", "0 0 -2.5\n0.75 0.55 0\n\x1a junk after the end of text");
    std::string x, y;
    for (int k = 0; k <= 15; ++k) {
        const std::string across = std::to_string(k % 3 * 0.002), along = std::to_string(k * 0.05);
        const std::string z = std::to_string((k % 5 - 2) * 20.0 + k % 2 * 0.125) + "\n";
        x += across + " " + along + " " + z;
        y += along + " " + across + " " + z;
    }
    write_file(zone() / "x.xyz", x);
    write_file(zone() / "y.xyz", y);
    std::filesystem::create_directories(zone() / "d.xyz");
}

// Every file under the drive, as a normalised path.
std::set<std::string> files_on_drive()
{
    std::set<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(fuzz::drive()))
        if (!e.is_directory()) names.insert(e.path().lexically_normal().string());
    return names;
}

void restore_drive()
{
    fuzz::clear_folder_except(fuzz::drive(), std::vector<std::string>{"images"});
    fuzz::clear_folder_except(fuzz::drive() / "images", std::vector<std::string>{"z"});
    fuzz::clear_folder_except(zone(), fixed_names);
    fuzz::clear_folder_except(zone() / "d.xyz", std::vector<std::string>{});
}

bool space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Whether some word, read as a cell size, would give a large grid that is
// still allocated and written (see above).
bool slow_cell_size(std::string_view text)
{
    std::size_t p = 0;
    while (p < text.size()) {
        while (p < text.size() && space(text[p])) ++p;
        const std::size_t start = p;
        while (p < text.size() && !space(text[p])) ++p;
        if (p == start) break;
        const std::string word(text.substr(start, p - start));
        char* end = nullptr;
        const double v = std::strtod(word.c_str(), &end);
        if (end == word.c_str() + word.size() && v >= 1e-10 && v < 5e-3) return true;
    }
    return false;
}

const char* const failure_messages[] = {
    "End of console input: the question above has no answer\n",
    " unknown\n",
    "\" is not a number\n",
    "\" is not a finite number\n",
    " has fewer than three numbers\n",
    " cannot be read\n",
    "The point files hold no point: there is nothing to grid\n",
    "\n\n\tA pixel size of ",
    "\n\n\tNot enough memory ",
    "\n\n\tDespite an attempt to eliminate the pits, the density ",
    " cannot be created\n",
    " could not be written completely; nothing was kept\n",
};

// c:\images\... as the normalised path of the file on the drive.
std::string host_of(std::string windows)
{
    windows = windows.substr(3);
    std::replace(windows.begin(), windows.end(), '\\', '/');
    return (fuzz::drive() / windows).lexically_normal().string();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    make_drive();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (fuzz::contains(text, "..") || slow_cell_size(text)) return -1;

    restore_drive();
    const std::set<std::string> before = files_on_drive();

    RunState st;
    std::istringstream in{std::string(text)};
    std::ostringstream out;
    st.in = &in;
    st.out = &out;
    st.drive_root = fuzz::drive();
    const int status = run(st);
    const std::string console = out.str();

    fuzz::check(status == 0 || status == 1, "exit status " + std::to_string(status));
    std::set<std::string> added;
    for (const auto& f : files_on_drive())
        if (!before.count(f)) added.insert(f);
    // A temporary file left behind shows below as a file too many (a name of
    // the user's may itself hold ".tmp-", so the name proves nothing).

    bool failure_shown = false;
    for (const char* m : failure_messages) failure_shown = failure_shown || fuzz::contains(console, m);
    if (status == 1) {
        fuzz::check(failure_shown, "status 1 without a failure message:" + console);
        if (!added.empty()) fuzz::broken("a failed run left " + *added.begin());
    } else {
        fuzz::check(!failure_shown, "a completed run showed a failure message");
        const std::size_t at = console.rfind("\n\nOutput name ");
        if (at != std::string::npos) {
            // An ASCII grid: the announced name and nothing else.
            std::string name = console.substr(at + 14);
            fuzz::check(!name.empty() && name.back() == ' ', "output name line");
            name.pop_back();
            fuzz::check(added == std::set<std::string>{host_of(name)},
                        "the ASCII grid written is not the one announced: " + name + " (" +
                            std::to_string(added.size()) + " new files)");
        } else {
            // A raster: an image and its descriptor of the same name.
            fuzz::check(added.size() == 2, "a raster run added " + std::to_string(added.size()) + " files");
            const std::string raw = *added.begin(), txt = *std::next(added.begin());
            fuzz::check(raw.size() > 4 && raw.substr(0, raw.size() - 4) == txt.substr(0, txt.size() - 4) &&
                            raw.ends_with(".raw") && txt.ends_with(".txt"),
                        "raster files " + raw + " and " + txt);
            long long rows = -1, cols = -1, bytes = -1;
            std::sscanf(read_file(txt).c_str(), "%lld\r\n%lld\r\n%lld", &rows, &cols, &bytes);
            const std::size_t size = std::filesystem::file_size(raw);
            fuzz::check(rows >= 0 && cols >= 0 && (bytes == 2 || bytes == 4) &&
                            size == static_cast<std::size_t>(rows * cols * bytes),
                        "an image of " + std::to_string(size) + " bytes for a descriptor of " + std::to_string(rows) +
                            " rows, " + std::to_string(cols) + " columns, " + std::to_string(bytes) + " bytes");
        }
    }
    return 0;
}
