// How many threads the user lets a run use, from KESTRANOV_THREADS: a whole
// number, or ALL_CPUS for every processor (as GDAL_NUM_THREADS reads).
// Unset, empty or anything else: one thread, the run as it always was.
#pragma once

int requested_threads();
