// The state of one run: the user's answers, the cloud's extents, the grids,
// the paths and the console. One struct, passed by reference, so that a test
// can drive a whole run in-process with string streams and a temp directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

struct data_file {
    std::string nombre;  // a point file's name as typed, without .xyz: the folder is held once, in nomgen
};

struct RunState {
    // Console and drive. `in_is_terminal` selects how the final key press is read.
    std::istream* in = nullptr;
    std::ostream* out = nullptr;
    bool in_is_terminal = false;
    std::filesystem::path drive_root;  // the directory that stands for c:\ (empty: current directory)

    std::vector<data_file> files;  // entry k (1..numlay) is the k-th point file; entry 0 unused
    double** dtab = nullptr;
    unsigned char** tab_util = nullptr;
    int nb_lig = 0;
    int nb_col = 0;
    int escala = 0;
    int numlay = 0;
    int retorno = 0;
    int format = 0;
    int itype = 0;
    double coef = 0.0;
    double pix_size = 0.0;
    double Ymin = 0.0, Ymax = 0.0;
    double Xmin = 0.0, Xmax = 0.0;
    double Zmin = 0.0, Zmax = 0.0;
    std::string nomgen;  // the input folder path, e.g. c:\images\zone1\ (for every point file)
    std::string nomfic1;
    std::string nomfic;
    std::string nomim3;
    std::string nomim4;
    std::string nomdescr4;

    RunState() = default;
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;
    ~RunState();  // gives the grids back, so that tests can run many times in one process
};

// The Windows path of point file m (1..numlay): nomgen, the name, ".xyz".
// Built when the file is opened, so that a long folder name is held once
// however many files there are.
std::string point_file_path(const RunState& st, int m);

// Occupancy flags of tab_util. A filled pit is marked too, so that tab_util
// stays the one record of which cells hold a value.
constexpr unsigned char cell_empty = 255;
constexpr unsigned char cell_hit = 1;
constexpr unsigned char cell_filled = 2;
