#include "crashreport/zebExceptStart.h"

#include <dlfcn.h>
#include <unistd.h>
#include <unwind.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <string>
#include <typeinfo>

#include "crashreport/zebDispatch.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebExceptChecksum.h"
#include "crashreport/zebExceptSettings.h"
#include "crashreport/zebExceptSignals.h"
#include "platform/Threads.h"

// The checksum slot a build step stamps; volatile, so that the compiler reads
// the stamped value instead of the 0 it was built with.
extern "C" __attribute__((section(".zebcrc"), used, aligned(4))) const volatile std::uint32_t zebImageChecksum = 0;

namespace zeb {

namespace {

std::atomic<bool> started{false};
std::atomic<std::uint64_t> startTime{0};

void ReportUncaught() {
  const std::exception_ptr exception = std::current_exception();
  if (exception && ExceptionThreadRunning()) {
    SubmitArguments arguments;
    arguments.exception = exception;
    arguments.canContinue = false;
    arguments.source = SourceUncaught;
    SubmitException(arguments);
    // The handling closes or restarts the process; a silent abort ends here.
    TerminateApplication();
  }
  // No exception (terminate called directly): the abort is reported as such.
  std::abort();
}

bool ThreadFailed(const std::exception_ptr& exception, std::uint8_t source, std::string_view) {
  if (!ExceptionThreadRunning()) return false;
  SubmitArguments arguments;
  arguments.exception = exception;
  arguments.canContinue = true;
  arguments.source = source;
  SubmitException(arguments);
  return true;
}

const platform::ThreadHooks threadHooks{&InstallAlternateStack, &RemoveAlternateStack, &ThreadFailed};

void VerifyProgramChecksum(TIZeqSettings& settings) {
  if (zebImageChecksum == 0) return;  // not stamped: nothing to compare with
  if (VerifyFileChecksum("/proc/self/exe") != ChecksumResult::Mismatch) return;
  const std::string message = settings.BitFaultMsg() + "\n";
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, message.data(), message.size());
  ::_exit(0);
}

}  // namespace

void LinkCrashReporter() {}

std::uint64_t StartTime() { return startTime.load(); }

void StartCrashReporter() {
  if (started.exchange(true)) return;
  try {
    AcceptRestartHandOver();
    ClearTempFolder();
    startTime.store(std::uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count()));
    const IZeqSettings settings = SettingsOfModule(0);
    const pid_t self = platform::CurrentThreadId();
    SetMainThreadId(self);
    if (!settings || !settings->HasSettings()) return;
    SetMainSettings(settings);
    if (settings->Enabled() && settings->CheckFileCrc()) VerifyProgramChecksum(*settings);
    platform::RegisterThread(self, "main thread");
    if (!settings->Enabled()) return;
    InstallPresentException();
    if (!StartExceptionThread()) return;
    InstallAlternateStack();
    InstallSignalHandlers();
    std::set_terminate(&ReportUncaught);
    platform::SetThreadHooks(&threadHooks);
    if (settings->CheckFreeze()) StartFreezeWatchdog(settings->FreezeTimeout());
    BuildEmergencyReserve();
  } catch (...) {
    // The reporter never takes the program down with it.
  }
}

void StopCrashReporter() {
  if (!started.load()) return;
  try {
    StopFreezeWatchdog();
    platform::SetThreadHooks(nullptr);
    RemoveSignalHandlers();
    ReleaseEmergencyReserve();
  } catch (...) {
  }
}

namespace {

// Before the program's own globals are made; after they are gone.
__attribute__((constructor(101))) void StartAtLoad() { StartCrashReporter(); }
__attribute__((destructor(101))) void StopAtExit() { StopCrashReporter(); }

}  // namespace

}  // namespace zeb

// --- The raise hook -----------------------------------------------------------------------
//
// Every C++ throw of the program passes here first: the thrown object, the
// throw address and the return addresses up from it are kept for the thread,
// so that the report of an exception caught further up shows where it was
// thrown. Then the run-time's own throw goes on as if nothing happened.

namespace {

struct Collecting {
  zeb::RaiseRecord* record;
  int skip;
};

_Unwind_Reason_Code CollectFrame(struct _Unwind_Context* context, void* data) {
  auto* c = static_cast<Collecting*>(data);
  if (c->skip > 0) {
    --c->skip;
    return _URC_NO_REASON;
  }
  if (c->record->count >= 64) return _URC_END_OF_STACK;
  const std::uintptr_t ip = std::uintptr_t(_Unwind_GetIP(context));
  if (ip == 0) return _URC_END_OF_STACK;
  c->record->frames[c->record->count++] = ip;
  return _URC_NO_REASON;
}

using ThrowFunction = void (*)(void*, void*, void (*)(void*));

ThrowFunction RealThrow() {
  static const ThrowFunction real = reinterpret_cast<ThrowFunction>(::dlsym(RTLD_NEXT, "__cxa_throw"));
  return real;
}

}  // namespace

// The type is the run-time's std::type_info; declared as the compiler knows it.
extern "C" [[noreturn]] void __cxa_throw(void* object, void* type, void (*destructor)(void*)) {
  zeb::RaiseRecord* record = zeb::CurrentRaiseRecord();
  record->object = object;
  record->address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  record->count = 0;
  Collecting collecting{record, 1};  // the first frame is this hook's own
  _Unwind_Backtrace(&CollectFrame, &collecting);
  const ThrowFunction real = RealThrow();
  if (!real) std::abort();
  real(object, type, destructor);
  __builtin_unreachable();
}
