#pragma once

struct RunState;

// The output dialogue: the DEM's name and the format, then either the ASCII
// grid or the raster image with its descriptor, into the input folder.
void saving(RunState& st);
