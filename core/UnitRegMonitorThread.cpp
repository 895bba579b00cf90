#include "core/UnitRegMonitorThread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/Threads.h"

using namespace platform;

namespace {

constexpr DWORD kDefaultNotifyFilter =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
// The longest the worker waits without looking at its stop flag.
constexpr DWORD kWaitSliceMs = 50;

}  // namespace

// Shared by the worker and the calls it queued for the main thread, so a call
// that runs after the thread object is gone finds `cancelled` and does nothing.
struct TRegMonitorThread::Handoff {
  std::mutex mutex;
  std::condition_variable changed;
  bool cancelled = false;
  std::uint64_t queued = 0;
  std::uint64_t handled = 0;
};

TRegMonitorThread::TRegMonitorThread(MainThreadQueue& MainThread)
    : FMainThread(MainThread), FHandoff(std::make_shared<Handoff>()) {
  FEvent = CreateEventW(nullptr, true, false, nullptr);
}

TRegMonitorThread::~TRegMonitorThread() {
  Stop();
  WaitFor();
  if (FEvent) CloseHandle(FEvent);
}

void TRegMonitorThread::Resume() {
  if (FThread.joinable() || FFinished.load()) return;
  FThread = platform::StartThread("", "TRegMonitorThread", [this] { run(); });
}

void TRegMonitorThread::Stop() {
  FStopRequested.store(true);
  {
    std::lock_guard lock(FHandoff->mutex);
    FHandoff->cancelled = true;
  }
  FHandoff->changed.notify_all();
  Wake();
}

void TRegMonitorThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TRegMonitorThread::Wake() {
  if (FEvent) SetEvent(FEvent);
}

std::uint32_t TRegMonitorThread::GetNotifyFilter() const {
  return FNotifyFilter == 0 ? kDefaultNotifyFilter : FNotifyFilter;
}

void TRegMonitorThread::run() {
  try {
    Execute();
  } catch (...) {
    // Nothing may escape a thread; a failure here only ends the watching.
    FRegistry.reset();
  }
  FWatching.store(false);
  FTerminated.store(true);
  FFinished.store(true);
}

void TRegMonitorThread::arm() {
  // A failed arming is not an error worth a message: the thread then just
  // waits until it is stopped.
  (void)RegNotifyChangeKeyValue(FRegistry->CurrentKey(), true, GetNotifyFilter(), FEvent, true);
}

void TRegMonitorThread::Execute() {
  FRegistry = std::make_unique<TMyRegistry>();
  FRegistry->SetBitness(FBitness);
  FRegistry->SetRootKey(FRootKey);
  if (!FEvent || !FRegistry->OpenKeyReadOnly(FKeyPath)) {
    FTerminated.store(true);
    FRegistry.reset();
    return;
  }
  ResetEvent(FEvent);
  arm();
  FWatching.store(true);
  while (!FTerminated.load() && !FStopRequested.load()) {
    const DWORD waited = WaitForSingleObject(FEvent, kWaitSliceMs);
    if (waited == WAIT_TIMEOUT) continue;
    if (waited != WAIT_OBJECT_0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs));
      continue;
    }
    if (FStopRequested.load()) break;
    // Armed again before the report, not after it: a change made while the
    // main thread handles this report then gives the next one instead of
    // being lost.
    ResetEvent(FEvent);
    arm();
    NotifyChange(FRootKey, FKeyPath);
  }
  FWatching.store(false);
  FRegistry.reset();
}

void TRegMonitorThread::NotifyChange(HKEY RootKey, const std::string& KeyPath) {
  std::shared_ptr<Handoff> handoff = FHandoff;
  std::uint64_t ticket;
  {
    std::lock_guard lock(handoff->mutex);
    if (handoff->cancelled) return;
    FReportedRoot = RootKey;
    FReportedPath = KeyPath;
    ticket = ++handoff->queued;
  }
  FMainThread.Queue([this, handoff] {
    {
      std::lock_guard lock(handoff->mutex);
      if (handoff->cancelled) return;
    }
    // Runs without the lock: OnChange may stop this thread (another key was
    // selected) and Stop takes the lock.
    DoChange();
    {
      std::lock_guard lock(handoff->mutex);
      ++handoff->handled;
    }
    handoff->changed.notify_all();
  });
  std::unique_lock lock(handoff->mutex);
  handoff->changed.wait(lock, [&] { return handoff->cancelled || handoff->handled >= ticket; });
}

void TRegMonitorThread::DoChange() {
  if (OnChange) OnChange(FReportedRoot, FReportedPath);
}
