#pragma once

// A MainThreadQueue for tests: calls wait until the test runs them on its
// own thread, which stands in for the main thread.

#include <deque>
#include <functional>
#include <mutex>

#include "core/MainThreadQueue.h"

class PlainQueue : public MainThreadQueue {
public:
  void Queue(std::function<void()> call) override {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  std::size_t pending() {
    std::lock_guard lock(mutex_);
    return calls_.size();
  }
  void runPending() {
    std::deque<std::function<void()>> calls;
    {
      std::lock_guard lock(mutex_);
      calls.swap(calls_);
    }
    for (auto& call : calls) call();
  }

private:
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
};
