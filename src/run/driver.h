#pragma once

struct RunState;

// One whole run: the opening dialogue, the gridding questions, treatment and
// the output. Returns the exit status: 0 for a completed run, 1 after an
// error message and the key press.
int run(RunState& st);
