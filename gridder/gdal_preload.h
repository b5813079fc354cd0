#pragma once

#include <thread>

namespace kestranov::gridder {

// GDAL's module brings some hundred libraries with it: loading them costs
// as much CPU as reading a few million points. A run that may use a second
// thread loads it on one while the first reading goes on; `ready` waits for
// it where the run first needs it, before the grid's memory check (which
// must count the room it takes) and before the long reading. A run on one
// thread loads it at once, as a failure then comes before any reading.
class GdalPreload {
public:
    GdalPreload(bool needed, int threads);
    GdalPreload(const GdalPreload&) = delete;
    GdalPreload& operator=(const GdalPreload&) = delete;
    ~GdalPreload();
    // The module in, or its GdalModuleError thrown here on the run's thread.
    void ready();

private:
    bool needed_;
    std::thread loader_;
};

}  // namespace kestranov::gridder
