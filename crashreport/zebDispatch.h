#pragma once

// The road of every exception the crash reporter catches: the thread that
// failed packs it into a plain request, writes it into a pipe and waits; one
// handling thread ("-") reads the requests one after the other, makes the
// exception object, fires the handlers, shows the exception (console text, or
// the presenter the windows install) and continues, restarts or closes the
// process. Fatal signals come this way too: their handler only writes and
// waits, which is async-signal-safe.

#include <signal.h>
#include <sys/types.h>
#include <ucontext.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crashreport/zebExceptObject.h"

namespace zeb {

// Where an exception was caught (kept in the exception object as its source).
enum ExceptionSource : std::uint8_t {
  SourceNone = 0,
  SourceFrozen = 1,
  SourceAbort = 2,             // SIGABRT: abnormal program termination
  SourceApplication = 5,       // an event handler of the application object
  SourceUncaught = 13,         // an exception no handler of its thread caught
  SourceSignal = 14,           // a processor or system fault (fatal signal)
  SourceThread = 16,           // the body of a thread the program started
  SourceThreadObject = 17,     // the run method of a thread class
};

// The exception-time history: whole seconds since 1601-01-01 UTC, newest
// first, 0 for an empty slot.
using ExceptionHistory = std::array<std::uint64_t, 10>;
ExceptionHistory CurrentHistory();
void SetHistory(const ExceptionHistory& history);
// Seconds since 1601-01-01 UTC now.
std::uint64_t HistoryNow();
// The history with `now` put first and the oldest dropped.
ExceptionHistory ShiftHistory(const ExceptionHistory& history, std::uint64_t now);
// Whether an AutoRestart/AutoClose value is due: 0 never, 1 always, N: the
// ten slots are filled and each lies at most N seconds before `now`.
bool AutoActionDue(std::int32_t value, const ExceptionHistory& history, std::uint64_t now);

// The fault facts a signal handler keeps; the handling thread turns them into
// the exception's message.
struct SignalFacts {
  int signal = 0;
  int code = 0;
  std::uintptr_t faultAddress = 0;
  std::uintptr_t programCounter = 0;
  std::uintptr_t stackPointer = 0;
  bool write = false;          // the page-fault error code's write bit
  std::uintptr_t stackLow = 0; // the faulting thread's stack, when known
  std::uintptr_t stackHigh = 0;
};
// "Access violation at address $4011a2 in module 'hivescope'. Write of address
// $0", "Division by zero", "Stack overflow", ... A fault at the low end of the
// thread's stack (or just below its stack pointer) is a stack overflow.
std::string SignalMessage(const SignalFacts& facts);

// What SubmitException is given.
struct SubmitArguments {
  ExceptionKind kind = ExceptionKind::Exception;
  std::exception_ptr exception;      // empty: the exception being handled now
  std::uintptr_t address = 0;        // 0: where it was thrown, when known
  bool canContinue = true;
  std::uint8_t source = SourceNone;
  const ucontext_t* context = nullptr;
  const void* relatedObject = nullptr;
};

// Hands an exception to the handling thread and returns when it is handled
// (or at once when it is ignored: on the handling thread itself, while
// handlers run on the main thread, or without a handling thread). A silent
// abort is never reported; one that cannot continue closes the process.
void SubmitException(SubmitArguments arguments);

// The handling thread; Start makes the pipe and the thread (false when it
// cannot), Stop ends it. Both run once; a second Start does nothing.
bool StartExceptionThread();
void StopExceptionThread();
bool ExceptionThreadRunning();
pid_t ExceptionThreadId();
// Whether a report is being made on this thread or for it (the handling
// thread, the current report's completion thread, the freeze watchdog).
bool IsReporterThread(pid_t threadId);

// The fatal-signal path (called from the signal handler; async-signal-safe):
// queues the request and waits for the handling. Returns false when there is
// no handling thread to take it.
bool SubmitSignal(const SignalFacts& facts, std::uint8_t source, const ucontext_t* context);
// Writes one line with the signal's facts and the raw addresses to standard
// error and ends the process with exit code 1 (async-signal-safe).
[[noreturn]] void MinimalReportAndExit(const SignalFacts& facts);

// A presenter shows an exception in a window (the dialog or an assistant)
// and says what the user chose. Without one, or when it cannot present (no
// display), the console branch writes the message to standard output.
enum class UserChoice { Continue, Restart, Close };
class IExceptionPresenter {
public:
  virtual ~IExceptionPresenter() = default;
  virtual bool CanPresent() = 0;
  // Runs on the handling thread; a long-running presenter calls
  // NoteReportProgress() now and then so that a waiting faulting thread
  // does not take it for a hung report.
  virtual UserChoice Present(IZeqException& exception) = 0;
  // Whether the last Present told the action handlers of the choice itself
  // (a window fires continue, restart and close as the user picks them, and
  // a handler that takes restart or close over keeps it open); the dispatch
  // then only carries the choice out.
  virtual bool ToldTheHandlers() const { return false; }
};
void SetExceptionPresenter(std::shared_ptr<IExceptionPresenter> presenter);
void NoteReportProgress();

// Composes the exception's report on its completion thread; the default puts
// the class, the message and the raw addresses in. `abort` turns true when
// the exception object goes away meanwhile.
using ReportComposer = std::function<void(TIZeqException& exception, const std::atomic<bool>& abort)>;
void SetReportComposer(ReportComposer composer);
// The composer installed, else ComposeRawReport.
ReportComposer InstalledReportComposer();
void ComposeRawReport(TIZeqException& exception, const std::atomic<bool>& abort);

class DeliveryServices;

// How a report is to be sent: automatically (silent, in the background) or
// because the user asked in the window (not silent, in the background when
// SendInBackgr says so). `services` stand for the window asked from: the
// delivery's progress and failure message go there (null: the installed
// services, as for a delivery without a window).
struct DeliveryRequest {
  bool byUser = false;
  std::shared_ptr<DeliveryServices> services;
};

// The automatic save into the bug-report file and the delivery; without
// them nothing is saved or sent.
void SetAutomaticSave(std::function<void(IZeqException&)> save);
void SetReportDelivery(std::function<void(IZeqException&, const DeliveryRequest&)> deliver);

// The window's send and save buttons, once no handler took the action over.
// Send: the complete report (with the screenshot when the exception carries
// one) goes to the installed delivery as the user's request; false without
// one. Save: `askPath` asks the user where (the window lends its save
// dialog), then the complete report is written there by the bug-report
// file's rules; true when it was saved.
using SavePathQuestion =
    std::function<std::string(const std::string& folder, const std::string& fileName, const std::string& title)>;
bool SendReportAsAsked(TIZeqException& exception, std::shared_ptr<DeliveryServices> services);
bool SaveReportAsAsked(TIZeqException& exception, const SavePathQuestion& askPath);
// Whether a successful save of the window leaves nothing more to save there:
// the configured file is named by an absolute path, so the save button goes.
bool SaveTargetIsFixed(TIZeqSettings& settings);

// How the main thread waits for its own report: the windows keep their event
// loop running (a quit ends the wait early). Without a waiter the thread
// blocks. `done` turns true when the report is handled.
using MainThreadWaiter = std::function<void(const std::function<bool()>& done)>;
void SetMainThreadWaiter(MainThreadWaiter waiter);
// The thread the reports call the main thread (the one that started the
// reporter).
void SetMainThreadId(pid_t threadId);
pid_t MainThreadId();

// The exception object's prepared call stack and throw address, as the raise
// hook recorded them on the thread that threw `exception`; empty when it did
// not pass through the hook on this thread.
struct RaiseRecord {
  const void* object = nullptr;
  std::uintptr_t address = 0;
  std::uint32_t count = 0;
  std::uintptr_t frames[64] = {};
};
RaiseRecord* CurrentRaiseRecord();
const void* ThrownObjectOf(const std::exception_ptr& exception);

// The end of the process after an exception: exit code 1 for close; a
// restart starts the program again with its original arguments and ends
// this process with exit code 2.
[[noreturn]] void TerminateApplication();
[[noreturn]] void RestartProcess();
// The new process's half of a restart: reads the old process's id and the
// history and waits until the old process is gone. Runs before anything else
// of the reporter; the id of the old process, 0 when this is no restart.
pid_t AcceptRestartHandOver();
pid_t RestartedFrom();

// The show operation of the exception objects: the presenter or the console.
void InstallPresentException();

// Address space held back so that a report can still be made after the
// process ran out of it: released before a report, built again after.
void BuildEmergencyReserve();
void ReleaseEmergencyReserve();

// The freeze watchdog: probes the main thread with a queued call every
// tenth of `timeoutMs`; ten misses report a frozen main thread.
void StartFreezeWatchdog(std::int32_t timeoutMs);
void StopFreezeWatchdog();

}  // namespace zeb
