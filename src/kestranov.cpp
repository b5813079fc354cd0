// Kestranov: airborne LIDAR point clouds to digital elevation models.
#include <filesystem>
#include <iostream>

#include "core/run_state.h"
#include "platform/console.h"
#include "platform/threads.h"
#include "run/driver.h"

int main()
{
    RunState st;
    st.in = &std::cin;
    st.out = &std::cout;
    st.in_is_terminal = stdin_is_terminal();
    st.drive_root = std::filesystem::current_path();
    st.threads = requested_threads();
    return run(st);
}
