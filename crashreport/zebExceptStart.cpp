#include "crashreport/zebExceptStart.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "crashreport/zebCrashUiClient.h"
#include "crashreport/zebDisAsmText.h"
#include "crashreport/zebDispatch.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebExceptChecksum.h"
#include "crashreport/zebExceptRaiseHook.h"
#include "crashreport/zebExceptSettings.h"
#include "crashreport/zebExceptSignals.h"
#include "crashreport/zebReport.h"
#include "crashreport/zebSend.h"
#include "crashreport/zebTrace.h"
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

void LinkCrashReporter() { LinkRaiseHook(); }

std::uint64_t StartTime() { return startTime.load(); }

namespace {

void StartReporting() {
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
    InstallTraceSignal();
    InstallReportDelivery();
    BuildEmergencyReserve();
  } catch (...) {
    // The reporter never takes the program down with it.
  }
}

}  // namespace

void StartCrashReporter() {
  if (started.exchange(true)) return;
  StartReporting();
  // The function listing of the reports comes after the reporter's own start.
  LinkDisAsm();
  // Full reports: call stacks with debug information, system data, plug-ins,
  // and the automatic save into the bug-report file.
  InstallReportComposer();
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

// The crash reporter's windows run in a copy of this program started with
// the crash-UI switch. That copy reports nothing of its own, and its start
// must not empty the temp folder, where the failing process keeps the
// screenshot and the attachments while the windows are up.
bool IsCrashUiCopy(int argc, char** argv) {
  return argc >= 2 && argv && argv[1] && std::strcmp(argv[1], kCrashUiSwitch) == 0;
}

// Before the program's own globals are made; after they are gone. The C
// library hands the program's arguments to load-time constructors.
__attribute__((constructor(101))) void StartAtLoad(int argc, char** argv, char**) {
  if (!IsCrashUiCopy(argc, argv)) StartCrashReporter();
}
__attribute__((destructor(101))) void StopAtExit() { StopCrashReporter(); }

}  // namespace

}  // namespace zeb
