// Kestranov: airborne LIDAR point clouds to digital elevation models.
#include <filesystem>
#include <iostream>
#include <new>
#include <string>
#include <string_view>

#include "LIB/NRUTIL.h"
#include "core/run_state.h"
#include "core/version.h"
#include "platform/console.h"
#include "platform/memory.h"
#include "platform/row_slabs.h"
#include "platform/threads.h"
#include "run/driver.h"

namespace {

constexpr const char* usage =
    "usage: kestranov\n"
    "       kestranov --help | --version\n"
    "An interactive program: it asks its questions on the console (the\n"
    "folder of the point files under c:\\images\\, the files, the cell size,\n"
    "first or last return, the model's name and format), then writes the\n"
    "elevation model beside the point files. The drive c:\\ is the directory\n"
    "it is started in. The answers may come from a file instead:\n"
    "  kestranov < answers.txt\n"
    "For the same work on the command line, without questions, use\n"
    "kestranov-grid (kestranov-grid --help).\n"
    "Environment: KESTRANOV_THREADS=N or ALL_CPUS, the threads reading each\n"
    "point file (default 1).\n";

// An argument as one printable line of the message.
std::string shown(std::string_view argument)
{
    std::string text(argument);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return text;
}

// The dialogue takes no arguments; --help and --version are answered without
// it. Anything else is refused before the dialogue starts: a script that
// passes kestranov-grid's arguments gets one line, not a dialogue waiting for
// answers.
int answer_arguments(int argc, char** argv)
{
    bool help = false;
    for (int k = 1; k < argc; ++k) {
        const std::string_view a = argv[k];
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a != "--version") {
            std::cerr << "kestranov: unknown argument '" << shown(a)
                      << "': the program asks its questions on the console (kestranov --help shows the usage)\n";
            return 2;
        }
    }
    if (help)
        std::cout << usage;
    else
        std::cout << "kestranov " << kestranov::project_version << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1) return answer_arguments(argc, argv);
    kestranov::RunState st;
    st.in = &std::cin;
    st.out = &std::cout;
    st.in_is_terminal = kestranov::stdin_is_terminal();
    // Before anything else allocates: without this memory a failure to
    // allocate could not be reported, only aborted on.
    if (!kestranov::hold_memory_for_failures()) return kestranov::end_for_lack_of_memory(st);
    try {
        st.drive_root = std::filesystem::current_path();
    } catch (const std::bad_alloc&) {
        return kestranov::end_for_lack_of_memory(st);
    }
    st.reading.threads = kestranov::requested_threads();
    nr_set_allocator(kestranov::slab_zeroed, kestranov::slab_release);
    return kestranov::run(st);
}
