// Where a point falls in the grid. Rows count from the northern edge (Ymax)
// southwards, columns from the western edge (Xmin) eastwards. The distance
// from the edge divided by the cell size is formed with a 64-bit significand
// and rounded to double, then raised to the next whole number unless it is
// one already: column j collects Xmin + (j-1) * pix_size < X <= Xmin + j * pix_size,
// and column 0 only the points lying on the western edge itself.
#pragma once

#include <cmath>

namespace kestranov {

// The position as defined: extended-precision difference and quotient,
// rounded to double. The x87 division behind it is slow.
inline double cell_position(double edge_distance_from, double edge_distance_to, double pix_size)
{
    return static_cast<double>(
        (static_cast<long double>(edge_distance_to) - static_cast<long double>(edge_distance_from)) /
        static_cast<long double>(pix_size));
}

// The ceiling of a non-negative position below 2^31.
inline int cell_index(double position)
{
    int whole = static_cast<int>(position);
    return position - whole > 0 ? whole + 1 : whole;
}

// The same cell from double arithmetic where that provably agrees. When
// `to` and `from` are within a factor of two of each other their double
// difference is exact (Sterbenz), so the double quotient and the extended
// one rounded to double are both within half an ulp of the same exact
// quotient: they differ by at most one ulp. Only when a whole number lies
// that close can their ceilings differ; then the extended path decides.
inline int cell_of(double from, double to, double pix_size)
{
    if (from > 0 && to <= 2 * from && from <= 2 * to) {
        const double position = (to - from) / pix_size;
        const int whole = static_cast<int>(position);
        const double fraction = position - whole;
        const double margin = (position + 1.0) * 0x1p-50;  // a few ulps of the position
        if (fraction > margin && fraction < 1.0 - margin) return whole + 1;
    }
    return cell_index(cell_position(from, to, pix_size));
}

inline int column_of(double x, double Xmin, double pix_size) { return cell_of(Xmin, x, pix_size); }
inline int row_of(double y, double Ymax, double pix_size) { return cell_of(y, Ymax, pix_size); }

// When the cell size is a power of two and every distance from the grid's
// edges is exact in double, the quotient is exact too: a multiplication by
// the exact inverse gives the very position, and its ceiling needs no
// margin. Distances are exact (Sterbenz) when the coordinates of the cloud
// lie within a factor of two of each other, as projected eastings and
// northings do: Xmax <= 2 Xmin and Ymax <= 2 Ymin, both positive.
struct ExactCells {
    bool exact = false;
    double inverse = 0.0;  // 1 / pix_size, exactly
};

inline ExactCells exact_cells(double Xmin, double Xmax, double Ymin, double Ymax, double pix_size)
{
    int exponent = 0;
    const bool power_of_two = std::frexp(pix_size, &exponent) == 0.5 && exponent > -100 && exponent < 100;
    const bool exact = power_of_two && Xmin > 0 && Xmax <= 2 * Xmin && Ymin > 0 && Ymax <= 2 * Ymin;
    return {exact, exact ? 1.0 / pix_size : 0.0};
}

// The ceiling of an exact position, non-negative and below 2^31.
inline int exact_cell(double from, double to, double inverse) { return cell_index((to - from) * inverse); }

}  // namespace kestranov
