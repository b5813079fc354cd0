// A point of the surface: its position and its elevation.
#pragma once

#include "tin/exact_predicates.h"

namespace tin {

struct Vertex {
    double x;
    double y;
    double z;

    Point2 xy() const { return {x, y}; }
};

}  // namespace tin
