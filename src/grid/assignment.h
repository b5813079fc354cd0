#pragma once

struct RunState;

// The second reading of every point file: each point into its cell, keeping
// the highest elevation of the cell for the first return (retorno 0) and the
// lowest for the last return (any other retorno). Ties change nothing, so the
// result does not depend on the order of the points or of the files.
void assignment_pass(RunState& st);
