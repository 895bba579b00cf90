#pragma once

// The process's threads as a bug report names them: a registry of the threads
// the program started (name, class, creating thread and code address), the
// list of every thread of the process, and the start of a named thread whose
// escaping exception goes to the crash reporter instead of ending the process.
// No Qt: the registry and the thread start serve core and platform too.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace platform {

// The kernel's id of the calling thread (what /proc/self/task lists).
pid_t CurrentThreadId();

struct ThreadEntry {
  pid_t threadId = 0;
  std::string name;            // may be empty
  std::string className;       // the class whose run method the thread runs; may be empty
  pid_t creatorThreadId = 0;
  std::uintptr_t creatorAddress = 0;
};

// Adds, updates or removes a thread's entry. A call with neither a name nor a
// creator address removes it; otherwise what the call leaves empty keeps the
// earlier entry's value. A thread that no longer runs is not registered.
// Each call also drops one entry whose thread has ended.
void RegisterThread(pid_t threadId, std::string_view name, pid_t creatorThreadId = 0,
                    std::uintptr_t creatorAddress = 0, std::string_view className = {});
void UnregisterThread(pid_t threadId);
// Registers the name and, for the calling thread, gives it to the system
// (cut to the 15 bytes the system keeps).
void SetThreadName(pid_t threadId, std::string_view name);

// The entry of a thread; none when there is none or the registry stays busy
// for longer than `wait` (a reader during a crash never hangs on it).
std::optional<ThreadEntry> FindThread(pid_t threadId,
                                      std::chrono::milliseconds wait = std::chrono::milliseconds(50));

// Whether a name marks one of the crash reporter's own threads, which reports
// leave out.
bool IsReporterThreadName(std::string_view name);

// "main thread ($4f8)", "thread $a10 (TRegMonitorThread)", "thread $c3c";
// empty for the crash reporter's own threads unless `forceShow`.
std::string ThreadTitle(pid_t threadId, bool forceShow = false, std::uintptr_t* creatorAddress = nullptr,
                        pid_t* creatorThreadId = nullptr);

// The ids of every thread of this process, in the system's order; empty on
// failure.
std::vector<pid_t> ListProcessThreads();

// Raised to end an operation quietly: a thread that ends with it is never
// reported.
class SilentAbort : public std::exception {
public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// What the crash reporter installs to watch the threads StartThread makes.
// Every member may be null.
struct ThreadHooks {
  // On the new thread, first and last (its alternate signal stack).
  void (*started)() = nullptr;
  void (*ending)() = nullptr;
  // On the thread whose body let `exception` escape; source 16 for a plain
  // thread, 17 for one that runs a class's method. False when not reported.
  bool (*failed)(const std::exception_ptr& exception, std::uint8_t source, std::string_view className) = nullptr;
};
void SetThreadHooks(const ThreadHooks* hooks);

// Starts a thread that runs `body` under the name `name` (given to the system
// too) and, when `className` is not empty, as the run method of that class.
// The thread is in the registry while it runs, with the caller as its
// creator. An exception that escapes `body` ends the thread and is handed to
// the crash reporter; a SilentAbort, or any exception while no reporter is
// installed, ends the thread quietly.
std::thread StartThread(std::string name, std::string className, std::function<void()> body);

}  // namespace platform
