// kestranov-grid: DEMs from LIDAR point files, on a true lattice.

#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "grid_app.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return kestranov::gridder::run_grid(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
