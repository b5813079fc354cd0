#pragma once

namespace kestranov {

struct RunState;

// The gridding run after the dialogue, step by step: extent pass, grid
// sizing and allocation, assignment pass, report, pit filling, density
// check, then the output dialogue.
void treatment(RunState& st);

}  // namespace kestranov
