// kestranov-export: a model of the program as a Cloud Optimized GeoTIFF.

#include <iostream>
#include <string>
#include <vector>

#include "export/export_app.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return kestranov::exporter::run_export(args, std::cout, std::cerr);
}
