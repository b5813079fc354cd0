#include "output/descriptor.h"

#include <cstdint>

#include "core/lf_text.h"
#include "core/model_files.h"
#include "output/scaled_value.h"

namespace kestranov {

namespace {

// A corner lies descriptor_margin outside the cloud's extent, whatever the
// cell size; the sum is formed in extended precision and rounded to double.
double corner(double extent, int side)
{
    return static_cast<double>(extent + side * static_cast<long double>(descriptor_margin));
}

}  // namespace

std::string descriptor_text(const DescriptorInfo& d)
{
    const Extents& e = d.e;
    std::string text =
        std::to_string(d.nb_lig) + "\n" + std::to_string(d.nb_col) + "\n" + std::to_string(raster_bytes(d.itype)) +
        "\n" + std::to_string(static_cast<std::int32_t>(scaled_value(e.Zmin, d.coef))) + "\n" +
        std::to_string(static_cast<std::int32_t>(scaled_value(e.Zmax, d.coef))) + "\n" + lf(d.pix_size) + "\n\n";
    text += "\n\n\tUTM Coordinates :";
    text += "\n\t\tX min : " + lf(corner(e.Xmin, -1)) + " Y min : " + lf(corner(e.Ymin, -1)) + " ";
    text += "\n\t\tX max : " + lf(corner(e.Xmax, 1)) + " Y max : " + lf(corner(e.Ymax, 1)) + " ";
    if (d.retorno == 0) text += "\n\n\tfirst return [MS generation] ";
    if (d.retorno == 1) text += "\n\n\tlast return [Provisional MT generation] ";
    text += "\n\n\t\t\t\tKestranov LIDAR DEM generator";
    return text;
}

}  // namespace kestranov
