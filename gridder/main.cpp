// kestranov-grid: DEMs from LIDAR point files, on a true lattice.

#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "gridder/grid_app.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = kestranov::gridder::run_grid(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
    // A summary or usage text that could not be written (a full disk, a
    // closed pipe) is a failure, not a silent success.
    if (!std::cout.flush()) {
        std::cerr << "kestranov-grid: standard output could not be written\n";
        return status == 0 ? 1 : status;
    }
    return status;
}
