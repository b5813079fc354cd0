#pragma once

#include "grid/grid_test_support.h"
#include "output/saving.h"
#include "run/fatal.h"

// The output dialogue on a grid set up by hand, in folder zone1 of a temp drive.
struct Output {
    TempDir drive;
    std::istringstream in;
    std::ostringstream out;
    RunState st;

    explicit Output(const Rows& rows)
    {
        st.in = &in, st.out = &out, st.drive_root = drive.path();
        std::filesystem::create_directories(zone());
        st.nomim4 = "c:\\images\\zone1\\";
        st.pix_size = 2, st.Xmin = 480000.25, st.Ymin = 2150000.5, st.Xmax = 480500.75, st.Ymax = 2150400.5;
        if (!rows.empty()) set_grid(st, rows);
        st.Zmin = 1e300, st.Zmax = -1e300;
        for (const auto& r : rows)
            for (double v : r) st.Zmin = std::min(st.Zmin, v), st.Zmax = std::max(st.Zmax, v);
    }
    std::filesystem::path zone(const std::string& rel = "") const { return drive.path() / "images" / "zone1" / rel; }

    // Runs the dialogue; the error text, or "" when it completed.
    std::string save(const std::string& answers)
    {
        in.str(answers);
        try {
            saving(st);
            return "";
        } catch (const Fatal& e) {
            return e.what();
        }
    }
    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(zone())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

inline std::string bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int v : b) s += static_cast<char>(v);
    return s;
}

const Rows small_grid = {{2240.17, 2241, 2239.5}, {2238.25, 2237, -3.5}};
