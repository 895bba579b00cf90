#pragma once

// Services the rest of the crash reporter builds on: the operating-system
// record, the program's version, elapsed ticks, the unmangling of symbol names,
// and a dispatcher that runs queued calls on the main thread.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zeb {

// The operating system as the report header names it. The description is the
// distribution's PRETTY_NAME; the kernel release is the build.
struct TOS {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;       // third number of the kernel release
  std::string buildText;         // the whole kernel release, "6.1.0-18-amd64"
  bool is64BitSystem = false;
  std::string description;       // "Debian GNU/Linux 12 (bookworm)"; "Linux" when unnamed
};

// Computed once from /etc/os-release and uname.
TOS OperatingSystem();
// The record an os-release text and a kernel release describe.
TOS OperatingSystemFrom(std::string_view osRelease, std::string_view kernelRelease, bool is64Bit);

// The program's version, four 16-bit numbers, most significant first.
std::uint64_t FileVersion();
// "0.1.0.0".
std::string FileVersionText(std::uint64_t version);

// Milliseconds of a steady clock, modulo 2^32.
std::uint32_t TickCount();
// TickCount() - startTick modulo 2^32, right across the counter's wrap.
std::uint32_t ElapsedTicks(std::uint32_t startTick, std::uint32_t now = TickCount());

// The demangled form of a symbol name; false (name unchanged) when it is not
// a mangled name. `unitName` gets the outermost namespace or class, which is
// removed from the name.
bool UnmangleExportName(std::string& name, std::string& unitName);

// Calls handed to the main thread. Each posted call gets a number from 1024
// up, the lowest no pending call uses; the main thread runs them in order with
// RunPendingCalls (the windows drive it from their event loop).
class MainThreadDispatcher {
public:
  static MainThreadDispatcher& Instance();
  // The number of the queued call; 0 when no main thread was named.
  std::uint32_t Post(std::function<void()> call);
  // Marks the calling thread as the main thread.
  void SetMainThread();
  bool IsMainThread() const;
  // Runs the queued calls on the main thread; elsewhere nothing. The number of
  // calls run.
  int RunPendingCalls();
  // Installs what wakes the main thread's loop when a call is queued.
  void SetWakeUp(std::function<void()> wakeUp);

private:
  MainThreadDispatcher() = default;
  struct State;
  State& state() const;
};

}  // namespace zeb
