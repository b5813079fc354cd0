#pragma once

namespace kestranov {

struct RunState;

// One whole run: the opening dialogue, the gridding questions, treatment and
// the output. Returns the exit status: 0 for a completed run, 1 after an
// error message and the key press.
int run(RunState& st);

// The end of a run that could not even start for lack of memory: the memory
// message, the key press, status 1.
int end_for_lack_of_memory(RunState& st);

}  // namespace kestranov
