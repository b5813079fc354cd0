// The state of one run: the user's answers, the cloud's extents, the grids,
// the paths and the console. The driver holds it and hands each step only
// what that step uses; a test can drive a whole run in-process with string
// streams and a temp directory.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/extents.h"
#include "core/grid_view.h"
#include "core/matrix.h"
#include "core/point_files.h"

namespace kestranov {

struct data_file {
    std::string nombre;  // a point file's name as typed, without .xyz
};

struct RunState {
    // Console and drive. `in_is_terminal` selects how the final key press is read.
    std::istream* in = nullptr;
    std::ostream* out = nullptr;
    bool in_is_terminal = false;
    std::filesystem::path drive_root;  // the directory that stands for c:\ (empty: current directory)
    ReadingOptions reading;            // how the point files are read (threads: KESTRANOV_THREADS)
    ReadingSeams seams;                // a test's block size, vector path and faults

    std::vector<data_file> files;  // entry k (1..numlay) is the k-th point file; entry 0 unused
    Matrix<double> dtab;
    Matrix<unsigned char> tab_util;
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
};

// The Windows path of point file m (1..numlay): nomgen, the name, ".xyz".
std::string point_file_path(const RunState& st, int m);

Extents extents_of(const RunState& st);
void set_extents(RunState& st, const Extents& e);

// The model: rows 0..nb_lig-1 and columns 0..nb_col-1 of dtab and tab_util.
GridView grid_of(const RunState& st);

}  // namespace kestranov
