#pragma once

// How a worker thread of the core gets something run in the main thread. The
// core has no event loop of its own: app implements this over Qt's, tests with
// a plain queue they drain themselves.

#include <functional>

class MainThreadQueue {
public:
  virtual ~MainThreadQueue() = default;
  // Runs `call` in the main thread later and returns at once. Callable from
  // any thread. A call still queued when the program ends may be dropped.
  virtual void Queue(std::function<void()> call) = 0;
};
