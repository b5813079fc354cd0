// The smallest and largest coordinates and elevation of the point cloud.
#pragma once

namespace kestranov {

struct Extents {
    double Xmin = 0.0, Xmax = 0.0;
    double Ymin = 0.0, Ymax = 0.0;
    double Zmin = 0.0, Zmax = 0.0;
};

}  // namespace kestranov
