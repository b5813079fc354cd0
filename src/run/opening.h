// The dialogue that opens a run.
#pragma once

namespace kestranov {

struct RunState;

// Banner, input folder, number of point files and their names: fills
// nomgen and nomim4 (the folder path), numlay, files[1..numlay], nomfic and
// nomim3 (the last point file's path).
void opening(RunState& st);

// The two gridding questions: the cell size (pix_size) and the return
// selection (retorno).
void ask_gridding(RunState& st);

}  // namespace kestranov
