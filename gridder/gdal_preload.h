#pragma once

namespace kestranov::gridder {

// GDAL's module brings some hundred libraries with it: loading them costs
// as much CPU as reading a few million points. A run that needs it loads it
// at once, on its own thread, before any reading: a failure then comes
// first, and the libraries' pages the loader touched are handed back
// (gdal_loader.cpp) before the reading's buffers are made, so the two do
// not add up in the run's peak. A second thread would gain nothing: while
// the loader maps the libraries it holds the C library's lock on
// thread-local storage, which every new thread takes, so the reading's
// first thread would wait for the whole load. `ready` is where the run
// first needs it, before the grid's memory check (which must count the
// room it takes).
class GdalPreload {
public:
    explicit GdalPreload(bool needed);
    // The module in, or its GdalModuleError thrown here on the run's thread.
    void ready() const;

private:
    bool needed_;
};

}  // namespace kestranov::gridder
