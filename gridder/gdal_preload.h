#pragma once

#include <mutex>
#include <thread>

namespace kestranov::gridder {

// GDAL's module brings some hundred libraries with it: loading them costs
// as much CPU as reading a few million points. A run that may use a second
// thread loads it on one beside the first reading, once that reading's own
// threads are running (`reading_under_way`): while the loader maps the
// libraries it holds the C library's lock on thread-local storage, which
// every new thread takes, so a reader started after it would wait for the
// whole load. `ready` waits for it where the run first needs it, before the
// grid's memory check (which must count the room it takes) and before the
// long reading; when the reading never said it was under way, the module
// is loaded there. A run on one thread loads it at once, as a failure then
// comes before any reading.
class GdalPreload {
public:
    GdalPreload(bool needed, int threads);
    GdalPreload(const GdalPreload&) = delete;
    GdalPreload& operator=(const GdalPreload&) = delete;
    ~GdalPreload();
    // The reading's threads are started: the loader may start beside them.
    // Any thread may call it, any number of times.
    void reading_under_way();
    // The module in, or its GdalModuleError thrown here on the run's thread.
    void ready();

private:
    bool needed_;
    bool beside_ = false;  // to be loaded on a thread of its own
    std::mutex starting_;
    bool started_ = false;
    std::thread loader_;
};

}  // namespace kestranov::gridder
