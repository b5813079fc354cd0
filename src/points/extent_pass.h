#pragma once

struct RunState;

// The first reading of every point file: the smallest and largest X, Y and Z
// of the cloud into Xmin..Zmax, and the report of the pass.
void extent_pass(RunState& st);
