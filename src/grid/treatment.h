#pragma once

struct RunState;

// The gridding run after the dialogue: extent pass, grid sizing, assignment
// pass, report, pit filling, density check, then the output dialogue.
void treatment(RunState& st);
