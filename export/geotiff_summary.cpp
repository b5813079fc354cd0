// geotiff_summary FILE...: one line per GeoTIFF as GDAL reads it back: size,
// geotransform, minimum and maximum. Status 1 when one cannot be read.

#include <cstdio>

#include "export/geotiff_readback.h"

int main(int argc, char** argv)
{
    int status = 0;
    for (int k = 1; k < argc; ++k) {
        const auto g = read_geotiff(argv[k]);
        if (!g) {
            std::fprintf(stderr, "geotiff_summary: %s: GDAL cannot read it\n", argv[k]);
            status = 1;
            continue;
        }
        std::printf("%s: %s %s %dx%d, origin (%.6f, %.6f), cell %.6f x %.6f, min %.3f, max %.3f, %s\n", argv[k],
                    g->driver.c_str(), g->layout.c_str(), g->cols, g->rows, g->transform[0], g->transform[3],
                    g->transform[1], -g->transform[5], g->min, g->max,
                    g->epsg.empty() ? "no coordinate system" : ("EPSG:" + g->epsg).c_str());
    }
    return status;
}
