#pragma once

// The worker that watches one registry key and its whole sub-tree and tells
// the main thread each time something below it changes. The main window runs
// one for the key whose values it shows and refills its value list on every
// report.
//
// Life: construct (nothing runs yet), set FRootKey, FKeyPath, FBitness and
// OnChange, Resume. Stop, then WaitFor (or just destroy it), from the main
// thread. The fields do not change once the thread runs.
//
// A report names the watched key, not the changed one: the notification does
// not say which key below it changed. Several changes before the worker gets
// round to them give one report.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/MainThreadQueue.h"
#include "core/bwlRegistry.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"

class TRegMonitorThread {
public:
  // Called in the main thread for every reported change.
  using TRegChangeEvent = std::function<void(platform::HKEY RootKey, const std::string& KeyPath)>;

  // Created suspended, stop flag clear, 32-bit view. Reports reach the main
  // thread through `MainThread`, which must outlive this object.
  explicit TRegMonitorThread(MainThreadQueue& MainThread);
  // Stops the thread and waits for its end.
  virtual ~TRegMonitorThread();
  TRegMonitorThread(const TRegMonitorThread&) = delete;
  TRegMonitorThread& operator=(const TRegMonitorThread&) = delete;

  // Starts the thread (once).
  void Resume();
  // Asks the thread to end and wakes it. From then on no report reaches
  // OnChange, not even one already queued for the main thread. Main thread only.
  void Stop();
  // Waits for the thread's end. Call Stop first: a worker handing over a
  // report waits for the main thread until it is stopped.
  void WaitFor();
  // Signals the thread's event.
  void Wake();
  // FNotifyFilter, 0 read as 15 (names, attributes, values and security).
  std::uint32_t GetNotifyFilter() const;
  // The thread body has ended (stopped, or its key did not open).
  bool Finished() const { return FFinished.load(); }
  bool Terminated() const { return FTerminated.load(); }
  // The key is open and its notification armed: changes from now on are seen.
  bool Watching() const { return FWatching.load(); }

  // ---- owner's set-up, before Resume
  platform::HKEY FRootKey = platform::HKEY_CURRENT_USER;
  // Relative to the root, without a leading or trailing "\".
  std::string FKeyPath;
  std::uint32_t FNotifyFilter = 0;
  Bitness FBitness = Bitness::x32;
  TRegChangeEvent OnChange;

protected:
  // The thread body: opens the key, arms the notification, waits in slices
  // of 50 ms and reports each change until stopped.
  virtual void Execute();
  // Hands the report to the main thread and waits until it has run there
  // (or the thread is stopped).
  void NotifyChange(platform::HKEY RootKey, const std::string& KeyPath);
  // Main thread: OnChange with the reported root and path, when one is set.
  void DoChange();

private:
  struct Handoff;

  void run();
  void arm();

  MainThreadQueue& FMainThread;
  std::unique_ptr<TMyRegistry> FRegistry;
  // The thread's own event: unnamed, so no other monitor and no other
  // process can wake it or be woken by it.
  platform::HANDLE FEvent;
  std::shared_ptr<Handoff> FHandoff;
  platform::HKEY FReportedRoot;
  std::string FReportedPath;
  std::atomic<bool> FStopRequested{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FWatching{false};
  std::thread FThread;
};
