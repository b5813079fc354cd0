#pragma once
// A lattice the command line or the points asked for, or the run refused:
// the lattice's own reason is the one line the command prints.

#include "grid/lattice.h"
#include "gridder/point_inputs.h"

namespace kestranov::gridder {

// `r`'s lattice; throws InputError with its reason when it has none.
inline Lattice lattice_or_error(const LatticeResult& r)
{
    if (!r.error.empty()) throw InputError(r.error);
    return r.lattice;
}

}  // namespace kestranov::gridder
