#include "grid/elim_pit.h"

#include <cmath>
#include <initializer_list>
#include <string>

#include "core/fatal.h"
#include "core/messages.h"

namespace kestranov {

namespace {

struct Offset {
    int dr, dc;
};

constexpr Offset N{-1, 0}, S{1, 0}, W{0, -1}, E{0, 1}, NW{-1, -1}, NE{-1, 1}, SW{1, -1}, SE{1, 1};

// Finite elevations near the largest double can sum beyond it: the mean,
// summed in doubles as always, would be infinite and written as "-inf",
// which no reader of the grid takes. Rows and columns as the grid counts them.
[[noreturn]] void beyond_a_double(int r, int c) { fail(mean_beyond_double(r, c)); }

// Whether a cell holds a value is read from tab_util, not from the elevation,
// so that an elevation of 0.0 or below is a value like any other.
void fill_cell(GridView g, int r, int c, std::initializer_list<Offset> neighbours)
{
    if (g.tab_util[r][c] != cell_empty) return;
    double dtot = 0.0;
    int ico = 0;
    for (Offset o : neighbours) {
        const int nr = r + o.dr, nc = c + o.dc;
        // Only a grid of one row or one column has neighbours outside the model.
        if (nr < 0 || nr >= g.nb_lig || nc < 0 || nc >= g.nb_col) continue;
        if (g.tab_util[nr][nc] == cell_empty) continue;
        ++ico;
        dtot = static_cast<double>(static_cast<long double>(dtot) + g.dtab[nr][nc]);
    }
    if (ico == 0) return;
    const double mean = static_cast<double>(static_cast<long double>(dtot) / ico);
    if (!std::isfinite(mean)) beyond_a_double(r, c);
    g.dtab[r][c] = mean;
    g.tab_util[r][c] = cell_filled;
}

}  // namespace

void elim_pit(GridView g)
{
    const int R = g.nb_lig, C = g.nb_col;
    if (R > 0 && C > 0) {
        fill_cell(g, 0, 0, {E, S, SE});
        fill_cell(g, 0, C - 1, {W, SW, S});
        fill_cell(g, R - 1, 0, {N, NE, E});
        fill_cell(g, R - 1, C - 1, {W, NW, N});
        for (int c = 1; c <= C - 2; ++c) fill_cell(g, 0, c, {SW, S, SE, W, E});
        for (int c = 1; c <= C - 2; ++c) fill_cell(g, R - 1, c, {NW, N, NE, W, E});
        for (int r = 1; r <= R - 2; ++r) fill_cell(g, r, 0, {NE, E, SE, N, S});
        for (int r = 1; r <= R - 2; ++r) fill_cell(g, r, C - 1, {NW, W, SW, N, S});
        for (int r = 1; r <= R - 2; ++r)
            for (int c = 1; c <= C - 2; ++c) fill_cell(g, r, c, {NW, N, NE, W, E, SW, S, SE});
    }
}

long long count_pits(GridView g)
{
    long long pits = 0;
    for (int i = 0; i < g.nb_lig; ++i)
        for (int j = 0; j < g.nb_col; ++j) pits += g.tab_util[i][j] == cell_empty;
    return pits;
}

void check_density(GridView grid, double pix_size)
{
    if (count_pits(grid) == 0) return;
    fail(density_too_low(pix_size));
}

}  // namespace kestranov
