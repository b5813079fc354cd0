// Where a point falls in the grid. Rows count from the northern edge (Ymax)
// southwards, columns from the western edge (Xmin) eastwards. The distance
// from the edge divided by the cell size is formed with a 64-bit significand
// and rounded to double, then raised to the next whole number unless it is
// one already: column j collects Xmin + (j-1) * pix_size < X <= Xmin + j * pix_size,
// and column 0 only the points lying on the western edge itself.
#pragma once

inline double cell_position(double edge_distance_from, double edge_distance_to, double pix_size)
{
    return static_cast<double>((static_cast<long double>(edge_distance_to) -
                                static_cast<long double>(edge_distance_from)) /
                               static_cast<long double>(pix_size));
}

// The ceiling of a non-negative position below 2^31.
inline int cell_index(double position)
{
    int whole = static_cast<int>(position);
    return position - whole > 0 ? whole + 1 : whole;
}

inline int column_of(double x, double Xmin, double pix_size) { return cell_index(cell_position(Xmin, x, pix_size)); }
inline int row_of(double y, double Ymax, double pix_size) { return cell_index(cell_position(y, Ymax, pix_size)); }
