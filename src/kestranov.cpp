// Kestranov: airborne LIDAR point clouds to digital elevation models.
#include <filesystem>
#include <iostream>
#include <new>

#include "core/run_state.h"
#include "platform/console.h"
#include "platform/memory.h"
#include "platform/threads.h"
#include "run/driver.h"

int main()
{
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
    return kestranov::run(st);
}
