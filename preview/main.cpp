// kestranov-preview: quick-look PNG of a kestranov elevation grid.

#include <iostream>
#include <string>
#include <vector>

#include "preview/preview_app.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return kestranov::preview::run_preview(args, std::cout, std::cerr);
}
