// CTerminable: the stop-request query a running task sees.
//
// Implemented by the worker thread. Long pixel loops ask it once per image
// row (null means "never stopped"); a stage that sees a request returns
// E_ABORT.
#pragma once

class CTerminable {
  public:
    virtual ~CTerminable() = default;
    // True when the runner wants the task to stop. Called on the worker's
    // own thread; must be cheap (one atomic read).
    virtual bool IsTerminated() const = 0;
};

// True when a stop was requested through `stop` (which may be null).
inline bool StopRequested(const CTerminable* stop) {
    return stop != nullptr && stop->IsTerminated();
}
