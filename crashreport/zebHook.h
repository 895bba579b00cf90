#pragma once

// A function the windows (or a test) install for the Qt-free crash reporter,
// read and replaced from any thread. Get() hands out a copy, so the hook runs
// without the lock held and may be replaced meanwhile.

#include <mutex>
#include <utility>

namespace zeb {

template <class Function>
class Hook {
public:
  void Set(Function f) {
    std::lock_guard lock(mutex_);
    function_ = std::move(f);
  }
  Function Get() const {
    std::lock_guard lock(mutex_);
    return function_;
  }

private:
  mutable std::mutex mutex_;
  Function function_;
};

}  // namespace zeb
