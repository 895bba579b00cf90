#include "crashreport/zebHandlers.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "crashreport/zebTools.h"

namespace zeb {

namespace {

struct ExceptionEntry {
  std::uint8_t syncMode = 0;
  std::uint8_t phase = 0;
  ExceptionHandlerProc proc = nullptr;
  ExceptionHandlerMethod method = nullptr;
  void* object = nullptr;
};

struct ActionEntry {
  std::uint8_t syncMode = 0;
  ActionHandlerProc proc = nullptr;
  ActionHandlerMethod method = nullptr;
  void* object = nullptr;
};

struct Lists {
  std::mutex lock;
  std::vector<ExceptionEntry> exceptionProcs, exceptionMethods, hiddenProcs, hiddenMethods;
  std::vector<ActionEntry> actionProcs, actionMethods;
};

// Never destroyed: a report may still fire handlers while the program ends.
Lists& lists() {
  static Lists& l = *new Lists;
  return l;
}

std::atomic<bool> syncing{false};

// How long the main thread may take to answer before synchronised handlers
// give up on it.
constexpr auto kPingTimeout = std::chrono::milliseconds(1500);

template <class Entry, class Same>
void Upsert(std::vector<Entry>& list, Entry entry, Same same) {
  std::lock_guard lock(lists().lock);
  auto it = std::find_if(list.begin(), list.end(), same);
  if (it != list.end())
    *it = entry;
  else
    list.push_back(entry);
}

template <class Entry, class Same>
void Remove(std::vector<Entry>& list, Same same) {
  std::lock_guard lock(lists().lock);
  list.erase(std::remove_if(list.begin(), list.end(), same), list.end());
}

struct FireRecord {
  HandlerKind kind;
  std::uint8_t action;
  TIZeqException* exception;
  bool handled;
  bool callSynchronised;
  bool synchronisingFailed;
};

bool Eligible(std::uint8_t syncMode, const FireRecord& r) {
  if ((syncMode > 0) != r.callSynchronised) return false;
  return !r.synchronisingFailed || syncMode == 2;
}

// Calls the handlers of the record's kind whose sync mode matches; whether any ran.
bool RunHandlerList(FireRecord& r) {
  const bool onMain = MainThreadDispatcher::Instance().IsMainThread();
  if (onMain) syncing = true;
  struct Clear {
    bool on;
    ~Clear() {
      if (on) syncing = false;
    }
  } clear{onMain};
  std::vector<ExceptionEntry> procs, methods;
  std::vector<ActionEntry> actionProcs, actionMethods;
  {
    std::lock_guard lock(lists().lock);
    if (r.kind == HandlerKind::Exception) {
      procs = lists().exceptionProcs;
      methods = lists().exceptionMethods;
    } else if (r.kind == HandlerKind::Hidden) {
      procs = lists().hiddenProcs;
      methods = lists().hiddenMethods;
    } else {
      actionProcs = lists().actionProcs;
      actionMethods = lists().actionMethods;
    }
  }
  bool ran = false;
  IZeqException& e = *r.exception;
  const std::uint8_t phase = e.Phase();
  auto callException = [&](const ExceptionEntry& h) {
    if (!Eligible(h.syncMode, r)) return;
    if (r.kind == HandlerKind::Exception && h.phase != phase) return;
    ran = true;
    try {
      if (h.method)
        h.method(h.object, e, r.handled);
      else
        h.proc(e, r.handled);
    } catch (...) {
    }
  };
  if (r.kind == HandlerKind::Action) {
    for (const ActionEntry& h : actionMethods) {
      if (r.handled) break;
      if (!Eligible(h.syncMode, r)) continue;
      ran = true;
      try {
        h.method(h.object, r.action, e, r.handled);
      } catch (...) {
      }
    }
    for (const ActionEntry& h : actionProcs) {
      if (r.handled) break;
      if (!Eligible(h.syncMode, r)) continue;
      ran = true;
      try {
        h.proc(r.action, e, r.handled);
      } catch (...) {
      }
    }
    return ran;
  }
  for (const ExceptionEntry& h : methods) {
    callException(h);
    if (r.kind == HandlerKind::Exception && phase < 3 && r.handled) break;
  }
  const bool skipProcs = r.handled && (r.kind == HandlerKind::Exception || !methods.empty());
  if (!skipProcs)
    for (const ExceptionEntry& h : procs) {
      callException(h);
      if (r.kind == HandlerKind::Exception && phase < 3 && r.handled) break;
    }
  // From phase 3 on the dialog is coming whatever a handler says.
  if (phase >= 3) r.handled = false;
  return ran;
}

bool HasSynchronisedHandler(const FireRecord& r) {
  std::lock_guard lock(lists().lock);
  const std::uint8_t phase = r.exception->Phase();
  auto syncedException = [&](const std::vector<ExceptionEntry>& list) {
    return std::any_of(list.begin(), list.end(), [&](const ExceptionEntry& h) {
      return h.syncMode != 0 && (r.kind != HandlerKind::Exception || h.phase == phase);
    });
  };
  auto syncedAction = [](const std::vector<ActionEntry>& list) {
    return std::any_of(list.begin(), list.end(), [](const ActionEntry& h) { return h.syncMode != 0; });
  };
  switch (r.kind) {
    case HandlerKind::Exception: return syncedException(lists().exceptionProcs) || syncedException(lists().exceptionMethods);
    case HandlerKind::Hidden: return syncedException(lists().hiddenProcs) || syncedException(lists().hiddenMethods);
    case HandlerKind::Action: return syncedAction(lists().actionProcs) || syncedAction(lists().actionMethods);
  }
  return false;
}

bool ListsEmpty(HandlerKind kind) {
  std::lock_guard lock(lists().lock);
  switch (kind) {
    case HandlerKind::Exception: return lists().exceptionProcs.empty() && lists().exceptionMethods.empty();
    case HandlerKind::Hidden: return lists().hiddenProcs.empty() && lists().hiddenMethods.empty();
    case HandlerKind::Action: return lists().actionProcs.empty() && lists().actionMethods.empty();
  }
  return true;
}

// A call the main thread runs, with a wait for it that may give up. The
// state is shared, so a call that runs after its waiter gave up touches
// nothing that is gone.
struct MainCall {
  std::mutex lock;
  std::condition_variable doneChanged;
  bool done = false;
};

// Runs `work` on the main thread; false when it did not answer in time (the
// work then never runs, or runs on state that outlives the wait).
bool RunOnMainThread(std::function<void()> work, std::chrono::milliseconds limit) {
  auto call = std::make_shared<MainCall>();
  const std::uint32_t number = MainThreadDispatcher::Instance().Post([call, work = std::move(work)] {
    if (work) work();
    std::lock_guard lock(call->lock);
    call->done = true;
    call->doneChanged.notify_all();
  });
  if (number == 0) return false;
  std::unique_lock lock(call->lock);
  return call->doneChanged.wait_for(lock, limit, [&] { return call->done; });
}

}  // namespace

void RegisterExceptionHandler(ExceptionHandlerProc handler, std::uint8_t syncMode, std::uint8_t phase) {
  Upsert(lists().exceptionProcs, ExceptionEntry{syncMode, phase, handler, nullptr, nullptr},
         [&](const ExceptionEntry& e) { return e.proc == handler; });
}

void RegisterExceptionHandler(ExceptionHandlerMethod handler, void* object, std::uint8_t syncMode, std::uint8_t phase) {
  Upsert(lists().exceptionMethods, ExceptionEntry{syncMode, phase, nullptr, handler, object},
         [&](const ExceptionEntry& e) { return e.method == handler && e.object == object; });
}

void RegisterHiddenExceptionHandler(ExceptionHandlerProc handler, std::uint8_t syncMode) {
  Upsert(lists().hiddenProcs, ExceptionEntry{syncMode, 0, handler, nullptr, nullptr},
         [&](const ExceptionEntry& e) { return e.proc == handler; });
}

void RegisterActionHandler(ActionHandlerProc handler, std::uint8_t syncMode) {
  Upsert(lists().actionProcs, ActionEntry{syncMode, handler, nullptr, nullptr},
         [&](const ActionEntry& e) { return e.proc == handler; });
}

void RegisterActionHandler(ActionHandlerMethod handler, void* object, std::uint8_t syncMode) {
  Upsert(lists().actionMethods, ActionEntry{syncMode, nullptr, handler, object},
         [&](const ActionEntry& e) { return e.method == handler && e.object == object; });
}

void UnregisterExceptionHandler(ExceptionHandlerProc handler) {
  Remove(lists().exceptionProcs, [&](const ExceptionEntry& e) { return e.proc == handler; });
}

void UnregisterExceptionHandler(ExceptionHandlerMethod handler, void* object) {
  Remove(lists().exceptionMethods, [&](const ExceptionEntry& e) { return e.method == handler && e.object == object; });
}

void UnregisterHiddenExceptionHandler(ExceptionHandlerProc handler) {
  Remove(lists().hiddenProcs, [&](const ExceptionEntry& e) { return e.proc == handler; });
}

void UnregisterActionHandler(ActionHandlerProc handler) {
  Remove(lists().actionProcs, [&](const ActionEntry& e) { return e.proc == handler; });
}

void UnregisterActionHandler(ActionHandlerMethod handler, void* object) {
  Remove(lists().actionMethods, [&](const ActionEntry& e) { return e.method == handler && e.object == object; });
}

void ClearHandlers() {
  std::lock_guard lock(lists().lock);
  lists().exceptionProcs.clear();
  lists().exceptionMethods.clear();
  lists().hiddenProcs.clear();
  lists().hiddenMethods.clear();
  lists().actionProcs.clear();
  lists().actionMethods.clear();
}

bool HasCompletePhaseHandler() {
  std::lock_guard lock(lists().lock);
  auto phase4 = [](const ExceptionEntry& e) { return e.phase == 4; };
  return std::any_of(lists().exceptionProcs.begin(), lists().exceptionProcs.end(), phase4) ||
         std::any_of(lists().exceptionMethods.begin(), lists().exceptionMethods.end(), phase4);
}

bool HasHiddenExceptionHandlers() { return !ListsEmpty(HandlerKind::Hidden); }

bool SyncingHandlersOnMainThread() { return syncing.load(); }

void FireEvent(HandlerKind kind, std::uint8_t action, bool& handled, TIZeqException& exception) {
  try {
    if (kind == HandlerKind::Action && (action == ActionRestart || action == ActionClose)) {
      if (exception.HasCriticalReportCallback() || (HasCompletePhaseHandler() && exception.CallHandlers()))
        exception.CompleteReportText();
    }
    if (!exception.CallHandlers() || ListsEmpty(kind)) return;
    FireRecord r{kind, action, &exception, handled, false, false};
    const bool ran = RunHandlerList(r);
    if ((!r.handled || !ran) && HasSynchronisedHandler(r)) {
      r.callSynchronised = true;
      bool synchronised = false;
      if (exception.Kind() != ExceptionKind::Frozen && RunOnMainThread(nullptr, kPingTimeout)) {
        // The main thread answers; the handlers may take as long as they need.
        auto shared = std::make_shared<FireRecord>(r);
        synchronised = RunOnMainThread([shared] { RunHandlerList(*shared); }, std::chrono::hours(24 * 365));
        r.handled = shared->handled;
      }
      if (!synchronised) {
        r.synchronisingFailed = true;
        RunHandlerList(r);
      }
    }
    handled = r.handled;
  } catch (...) {
  }
}

}  // namespace zeb
