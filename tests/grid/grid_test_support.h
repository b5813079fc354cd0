// Grids for the gridding tests: set up directly, or as point clouds whose
// points land exactly in the wanted cells.
#pragma once

#include <cmath>
#include <vector>

#include "LIB/NRUTIL.h"
#include "support.h"

using Rows = std::vector<std::vector<double>>;

// A model of rows.size() x rows[0].size() cells in st; 0.0 marks a pit (no
// point). The spare rows and columns hold a poison value flagged as a point,
// so that any read of them shows in a mean.
inline void set_grid(RunState& st, const Rows& rows, double poison = 1.0e6)
{
    st.nb_lig = static_cast<int>(rows.size());
    st.nb_col = static_cast<int>(rows[0].size());
    st.dtab = dmatrice(st.nb_col + 2, st.nb_lig + 2);
    st.tab_util = ucmatrice(st.nb_col + 2, st.nb_lig + 2);
    for (int i = 0; i < st.nb_lig + 2; ++i)
        for (int j = 0; j < st.nb_col + 2; ++j) {
            const bool model = i < st.nb_lig && j < st.nb_col;
            const double v = model ? rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] : poison;
            st.dtab[i][j] = v;
            st.tab_util[i][j] = model && v == 0.0 ? cell_empty : cell_hit;
        }
}

inline Rows grid_of(const RunState& st)
{
    Rows rows(static_cast<std::size_t>(st.nb_lig), std::vector<double>(static_cast<std::size_t>(st.nb_col)));
    for (int i = 0; i < st.nb_lig; ++i)
        for (int j = 0; j < st.nb_col; ++j) rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = st.dtab[i][j];
    return rows;
}

// A cloud with cell size 1 whose points fall one per non-pit cell of `rows`
// (row 0 and column 0 of the model must hold a value: only points on the
// northern and western edges reach them), plus one point in the spare
// south-east corner that fixes the grid's size.
inline std::string cloud_for(const Rows& rows, double spare_z = 5000.0)
{
    const double R = static_cast<double>(rows.size()), C = static_cast<double>(rows[0].size());
    std::vector<std::vector<double>> pts;
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j) {
            if (rows[i][j] == 0.0) continue;
            const double x = j == 0 ? 0.0 : static_cast<double>(j) - 0.5;
            const double y = i == 0 ? R : R - static_cast<double>(i) + 0.5;
            pts.push_back({100000.0 + x, 200000.0 + y, rows[i][j]});
        }
    pts.push_back({100000.0 + C + 0.5, 200000.0 - 0.5, spare_z});
    return cloud_text(pts);
}

// The body of an ASCII grid as numbers.
inline std::vector<double> asc_values(const std::string& asc)
{
    std::size_t at = 0;
    for (int line = 0; line < 6; ++line) at = asc.find("\r\n", at) + 2;
    std::vector<double> values;
    std::istringstream body(asc.substr(at));
    double v;
    while (body >> v) values.push_back(v);
    return values;
}

inline std::vector<double> flat(const Rows& rows)
{
    std::vector<double> v;
    for (const auto& r : rows) v.insert(v.end(), r.begin(), r.end());
    return v;
}
