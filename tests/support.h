// Shared test fixtures: a temporary drive, files on it, and whole runs
// driven in-process with string streams as the console.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/fatal.h"
#include "core/run_state.h"
#include "files.h"
#include "run/console_reading.h"
#include "run/driver.h"
#include "run/output_dialogue.h"

// Point records "X Y Z\n" from triples.
inline std::string cloud_text(const std::vector<std::vector<double>>& points)
{
    std::ostringstream s;
    s.precision(17);
    for (const auto& p : points) s << p[0] << ' ' << p[1] << ' ' << p[2] << '\n';
    return s.str();
}

using Rows = std::vector<std::vector<double>>;

// A model of rows.size() x rows[0].size() cells set by hand, without a run;
// 0.0 marks a pit (no point). The spare rows and columns hold a poison value
// flagged as a point, so that any read of them shows in a mean.
struct TestGrid {
    kestranov::Matrix<double> dtab;
    kestranov::Matrix<unsigned char> tab_util;
    int nb_lig = 0, nb_col = 0;

    explicit TestGrid(const Rows& rows, double poison = 1.0e6)
        : nb_lig(static_cast<int>(rows.size())), nb_col(rows.empty() ? 0 : static_cast<int>(rows[0].size()))
    {
        dtab = kestranov::Matrix<double>(nb_col + 2, nb_lig + 2);
        tab_util = kestranov::Matrix<unsigned char>(nb_col + 2, nb_lig + 2);
        for (int i = 0; i < nb_lig + 2; ++i)
            for (int j = 0; j < nb_col + 2; ++j) {
                const bool model = i < nb_lig && j < nb_col;
                const double v = model ? rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] : poison;
                dtab[i][j] = v;
                tab_util[i][j] = model && v == 0.0 ? kestranov::cell_empty : kestranov::cell_hit;
            }
    }
    kestranov::GridView view() const { return {dtab.rows(), tab_util.rows(), nb_lig, nb_col}; }
};

// The model's values.
inline Rows values_of(kestranov::GridView g)
{
    Rows rows(static_cast<std::size_t>(g.nb_lig), std::vector<double>(static_cast<std::size_t>(g.nb_col)));
    for (int i = 0; i < g.nb_lig; ++i)
        for (int j = 0; j < g.nb_col; ++j)
            rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = g.dtab[i][j];
    return rows;
}

// The console text of the Fatal that `step` throws, or "" when it completes.
template <class Step>
std::string failure_of(Step&& step)
{
    try {
        step();
        return "";
    } catch (const kestranov::Fatal& e) {
        return e.text;
    }
}

// The failure of one reading of `bytes` as point file `name` straight from
// the reading library, without a front end: its code and facts; nullopt
// when the file reads.
inline std::optional<kestranov::ReadError> read_error_of(const std::string& name, const std::string& bytes,
                                                         const kestranov::ReadingOptions& reading = {})
{
    TempDir dir;
    write_file(dir.path() / name, bytes);
    const kestranov::PointFiles files{dir.path().string() + "/", {name}, reading};
    kestranov::SeenFile seen;
    try {
        kestranov::ReadingEvents none;
        kestranov::read_point_file(
            none, files, 0, [](const kestranov::Point*, std::size_t) {}, seen);
    } catch (const kestranov::ReadError& e) {
        return e;
    }
    return std::nullopt;
}

// The one fixture: a run's state wired to string streams and a fresh temp
// drive, for a whole run in-process or for one step of it.
struct Session {
    TempDir drive;
    std::istringstream in;
    std::ostringstream out;
    kestranov::RunState st;
    int status = -1;

    Session()
    {
        st.in = &in;
        st.out = &out;
        st.drive_root = drive.path();
    }
    std::filesystem::path zone(const std::string& rel = "") const { return drive.path() / "images" / "zone1" / rel; }
    void put(const std::string& name, const std::string& bytes) { write_file(zone(name), bytes); }

    // Point file `name` read once as `before`, rewritten in place as `after`
    // with its date put back, then read again: the second reading's failure
    // ("" when it reads). The first must read.
    std::string read_rewritten(const std::string& name, const std::string& before, const std::string& after)
    {
        put(name, before);
        use_point_file(name);
        kestranov::SeenFile seen;
        const auto read = [&] {
            kestranov::read_console_file(
                out, kestranov::console_files(st), 0, [](const kestranov::Point*, std::size_t) {}, seen);
        };
        if (!failure_of(read).empty()) return "the first reading failed";
        const auto date = std::filesystem::last_write_time(zone(name));
        put(name, after);
        std::filesystem::last_write_time(zone(name), date);
        return failure_of(read);
    }
    // The file `name` of zone1 as the run's one point file, named by its stem.
    void use_point_file(const std::string& name)
    {
        st.nomgen = "c:\\images\\zone1\\";
        st.files = {kestranov::data_file{}, kestranov::data_file{name.substr(0, name.rfind('.'))}};
        st.numlay = 1;
    }
    // What one reading of that file through the door handed on, with the
    // reading options of `st` (a filter included), and its tally.
    struct Reading {
        std::vector<std::array<double, 3>> points;
        long long records = -1;
        std::string error;  // "" when it read
        kestranov::FilterTally tally;
        bool operator==(const Reading&) const = default;
    };
    Reading read_points(kestranov::SeenFile& seen, bool extents_only = false)
    {
        Reading r;
        r.error = failure_of([&] {
            r.records = kestranov::read_console_file(
                out, kestranov::console_files(st), 0,
                [&](const kestranov::Point* p, std::size_t n) {
                    for (std::size_t k = 0; k < n; ++k) r.points.push_back({p[k].x, p[k].y, p[k].z});
                },
                seen, extents_only ? kestranov::Wanted::extents : kestranov::Wanted::points);
        });
        r.tally = seen.tally;
        return r;
    }
    // The file `name` holding `bytes` read once so.
    Reading read_points(const std::string& name, const std::string& bytes, kestranov::SeenFile& seen,
                        bool extents_only = false)
    {
        put(name, bytes);
        use_point_file(name);
        return read_points(seen, extents_only);
    }
    void answer(const std::string& answers)
    {
        in.clear();
        in.str(answers);
    }

    // A whole run: answers in, exit status out.
    int run(const std::string& answers)
    {
        answer(answers);
        status = kestranov::run(st);
        return status;
    }
    std::string console() const { return out.str(); }
    std::vector<std::string> files_in_zone() const { return names_in(zone()); }

    // Point files of zone1 (name, bytes) as the dialogue would have named them.
    void use_points(const std::vector<std::pair<std::string, std::string>>& files)
    {
        st.nomgen = "c:\\images\\zone1\\";
        st.files.assign(1, kestranov::data_file{});
        for (const auto& [name, bytes] : files) {
            put(name + ".xyz", bytes);
            st.files.push_back({name});
        }
        st.numlay = static_cast<int>(files.size());
    }
    // The extent pass over those files, into st; the error text or "".
    std::string pass()
    {
        return failure_of([&] {
            kestranov::SeenFiles seen;
            kestranov::set_extents(st, kestranov::console_extent_pass(*st.out, kestranov::console_files(st), seen));
        });
    }

    // A model set by hand, ready for the output dialogue in zone1: extents
    // of an example cloud, Zmin and Zmax from the cells.
    void use_grid(const Rows& rows)
    {
        std::filesystem::create_directories(zone());
        st.nomim4 = "c:\\images\\zone1\\";
        st.pix_size = 2, st.Xmin = 480000.25, st.Ymin = 2150000.5, st.Xmax = 480500.75, st.Ymax = 2150400.5;
        TestGrid g(rows);
        st.dtab = std::move(g.dtab);
        st.tab_util = std::move(g.tab_util);
        st.nb_lig = g.nb_lig, st.nb_col = g.nb_col;
        st.Zmin = 1e300, st.Zmax = -1e300;
        for (const auto& r : rows)
            for (double v : r) st.Zmin = std::min(st.Zmin, v), st.Zmax = std::max(st.Zmax, v);
    }
    // The output dialogue on that model; the error text or "".
    std::string save(const std::string& answers)
    {
        answer(answers);
        return failure_of([&] { saving(st); });
    }
};

// Answers for a run on files of zone1 up to the output questions.
inline std::string gridding_answers(const std::vector<std::string>& names, const std::string& cell, int retorno)
{
    std::string a = "zone1\n" + std::to_string(names.size()) + "\n";
    for (const auto& n : names) a += n + "\n";
    return a + cell + "\n" + std::to_string(retorno) + "\n";
}

inline std::size_t count_of(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Rounds of a randomised comparison: a quick sweep by default, fifty times
// more when KESTRANOV_LONG_SWEEP is set (make test-long).
inline int sweep(int rounds) { return std::getenv("KESTRANOV_LONG_SWEEP") ? rounds * 50 : rounds; }

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

inline std::string bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int v : b) s += static_cast<char>(v);
    return s;
}

const Rows small_grid = {{2240.17, 2241, 2239.5}, {2238.25, 2237, -3.5}};
