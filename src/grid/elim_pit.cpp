#include "grid/elim_pit.h"

#include <ostream>

#include "run/run_state.h"

namespace {

struct Offset {
    int dr, dc;
};

constexpr Offset N{-1, 0}, S{1, 0}, W{0, -1}, E{0, 1}, NW{-1, -1}, NE{-1, 1}, SW{1, -1}, SE{1, 1};

// Whether a cell holds a value is read from tab_util, not from the elevation,
// so that an elevation of 0.0 or below is a value like any other.
void fill_cell(RunState& st, int r, int c, std::initializer_list<Offset> neighbours)
{
    if (st.tab_util[r][c] != cell_empty) return;
    double dtot = 0.0;
    int ico = 0;
    for (Offset o : neighbours) {
        const int nr = r + o.dr, nc = c + o.dc;
        // Only a grid of one row or one column has neighbours outside the model.
        if (nr < 0 || nr >= st.nb_lig || nc < 0 || nc >= st.nb_col) continue;
        if (st.tab_util[nr][nc] == cell_empty) continue;
        ++ico;
        dtot = static_cast<double>(static_cast<long double>(dtot) + st.dtab[nr][nc]);
    }
    if (ico == 0) return;
    st.dtab[r][c] = static_cast<double>(static_cast<long double>(dtot) / ico);
    st.tab_util[r][c] = cell_filled;
}

}  // namespace

void elim_pit(RunState& st)
{
    const int R = st.nb_lig, C = st.nb_col;
    if (R > 0 && C > 0) {
        fill_cell(st, 0, 0, {E, S, SE});
        fill_cell(st, 0, C - 1, {W, SW, S});
        fill_cell(st, R - 1, 0, {N, NE, E});
        fill_cell(st, R - 1, C - 1, {W, NW, N});
        for (int c = 1; c <= C - 2; ++c) fill_cell(st, 0, c, {SW, S, SE, W, E});
        for (int c = 1; c <= C - 2; ++c) fill_cell(st, R - 1, c, {NW, N, NE, W, E});
        for (int r = 1; r <= R - 2; ++r) fill_cell(st, r, 0, {NE, E, SE, N, S});
        for (int r = 1; r <= R - 2; ++r) fill_cell(st, r, C - 1, {NW, W, SW, N, S});
        for (int r = 1; r <= R - 2; ++r)
            for (int c = 1; c <= C - 2; ++c) fill_cell(st, r, c, {NW, N, NE, W, E, SW, S, SE});
    }
    *st.out << "\n\tElimination of local pits";
}

long long count_pits(const RunState& st)
{
    long long pits = 0;
    for (int i = 0; i < st.nb_lig; ++i)
        for (int j = 0; j < st.nb_col; ++j) pits += st.tab_util[i][j] == cell_empty;
    return pits;
}
