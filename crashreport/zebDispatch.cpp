#include "crashreport/zebDispatch.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "crashreport/zebBugRepFile.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebExceptSignals.h"
#include "crashreport/zebHandlers.h"
#include "crashreport/zebHook.h"
#include "crashreport/zebImage.h"
#include "crashreport/zebStackScan.h"
#include "crashreport/zebTools.h"
#include "platform/Threads.h"

extern char** environ;

namespace zeb {

namespace {

// --- Requests ----------------------------------------------------------------

// What goes through the pipe: plain data, written whole by one write() (well
// below PIPE_BUF, so requests of several threads never mix).
struct PipeRequest {
  std::int32_t slot = -1;  // -1 stops the handling thread
  pid_t threadId = 0;
  std::uint8_t kind = 0;
  std::uint8_t source = 0;
  std::uint8_t canContinue = 0;
  std::uint8_t isSignal = 0;
  std::uintptr_t address = 0;
  std::uintptr_t stackPointer = 0;
  std::uintptr_t framePointer = 0;
};

enum SlotState : int { SlotFree = 0, SlotFilling = 1, SlotQueued = 2, SlotDone = 3, SlotAbandoned = 4 };

// What a request carries beside the plain data. Slots are made once, before
// any signal can need one, and claimed without a lock, so that the signal
// handler can claim one too.
struct Slot {
  std::atomic<int> state{SlotFree};
  std::atomic<int> done{0};  // futex word: 1 when handled
  std::exception_ptr exception;
  bool hasContext = false;
  ucontext_t context{};
  bool hasRaise = false;
  RaiseRecord raise;
  SignalFacts signal;
};

constexpr int kSlots = 16;
std::atomic<Slot*> slots{nullptr};

std::atomic<int> readFd{-1};
std::atomic<int> writeFd{-1};
std::atomic<bool> running{false};
std::atomic<pid_t> handlingThreadId{0};
std::atomic<pid_t> mainThreadId{0};
std::atomic<pid_t> completionThreadId{0};
std::atomic<pid_t> watchdogThreadId{0};
std::atomic<pid_t> restartedFrom{0};
std::atomic<int> pendingReports{0};
// Bumped as a report moves on; a faulting thread that sees no change for
// kHungReport takes the report for hung.
std::atomic<std::uint64_t> progress{0};
constexpr int kHungReportSeconds = 30;
// Requests the handling thread has taken and not finished.
std::atomic<int> reportsInProgress{0};

// Never destroyed: static destructors run while the thread may still be at work.
std::thread& handlingThread() {
  static auto& t = *new std::thread;
  return t;
}

long Futex(std::atomic<int>& word, int op, int value, const timespec* timeout) {
  return ::syscall(SYS_futex, reinterpret_cast<int*>(&word), op, value, timeout, nullptr, 0);
}

void Wake(std::atomic<int>& word) { Futex(word, FUTEX_WAKE_PRIVATE, 1 << 30, nullptr); }

// Waits up to a second for the word to leave `expected` (async-signal-safe).
void WaitASecond(std::atomic<int>& word, int expected) {
  const timespec second{1, 0};
  Futex(word, FUTEX_WAIT_PRIVATE, expected, &second);
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= std::size_t(n);
  }
  return true;
}

bool ReadAll(int fd, void* data, std::size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= std::size_t(n);
  }
  return true;
}

int ClaimSlot() {
  Slot* all = slots.load();
  if (!all) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = SlotFree;
    if (all[i].state.compare_exchange_strong(expected, SlotFilling)) {
      all[i].done.store(0);
      return i;
    }
  }
  return -1;
}

void FreeSlot(Slot& slot) {
  slot.exception = nullptr;
  slot.hasContext = false;
  slot.hasRaise = false;
  slot.state.store(SlotFree);
}

// --- Hooks ---------------------------------------------------------------------

Hook<std::shared_ptr<IExceptionPresenter>>& presenterHook() {
  static auto& hook = *new Hook<std::shared_ptr<IExceptionPresenter>>;
  return hook;
}
Hook<ReportComposer>& composerHook() {
  static auto& hook = *new Hook<ReportComposer>;
  return hook;
}
Hook<std::function<void(IZeqException&)>>& saveHook() {
  static auto& hook = *new Hook<std::function<void(IZeqException&)>>;
  return hook;
}
Hook<std::function<void(IZeqException&, const DeliveryRequest&)>>& deliveryHook() {
  static auto& hook = *new Hook<std::function<void(IZeqException&, const DeliveryRequest&)>>;
  return hook;
}
Hook<MainThreadWaiter>& waiterHook() {
  static auto& hook = *new Hook<MainThreadWaiter>;
  return hook;
}

struct HistoryState {
  std::mutex lock;
  ExceptionHistory history{};
};
HistoryState& historyState() {
  static auto& h = *new HistoryState;
  return h;
}

std::string Hex(std::uintptr_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "$%lx", static_cast<unsigned long>(value));
  return text;
}

void WriteText(int fd, const std::string& text) { WriteAll(fd, text.data(), text.size()); }

// --- The handling ----------------------------------------------------------------

// What the user or the automatic decision chose for the exception being shown.
thread_local UserChoice presentedChoice = UserChoice::Continue;
thread_local bool presentedInWindow = false;
thread_local bool presenterToldHandlers = false;

void PresentOnConsole(IZeqException& exception) {
  const bool frozen = exception.Kind() == ExceptionKind::Frozen;
  std::string message = exception.ReadTextSetting(frozen ? "FrozenMsg" : "ExceptMsg");
  message = ExpandVariables(ProgramFileName(), message, exception.Message(), {}, exception.VersionText());
  WriteText(STDOUT_FILENO, message + "\n");
  progress.fetch_add(1);
  if (exception.AutoShowBugRep() || exception.ShowBtnVis()) {
    exception.SetPlWaitBox(false);
    const std::string report = exception.CompleteReportText();
    WriteText(STDOUT_FILENO, "\n" + report + "\n");
    progress.fetch_add(1);
  }
}

// The exception object's show operation.
void PresentException(IZeqException& exception) {
  presentedInWindow = false;
  presenterToldHandlers = false;
  const std::shared_ptr<IExceptionPresenter> presenter = presenterHook().Get();
  if (presenter && presenter->CanPresent()) {
    if (exception.ShowSetting() <= 3) {
      presentedInWindow = true;
      presentedChoice = presenter->Present(exception);
      presenterToldHandlers = presenter->ToldTheHandlers();
    }
    return;
  }
  if (exception.ShowSetting() != 4) PresentOnConsole(exception);
}

void ReportCompleteActions(bool complete, const std::string& report, IZeqException& exception) {
  auto* ex = dynamic_cast<TIZeqException*>(&exception);
  if (!complete || !ex || !ex->FirstCompletionCall()) return;
  if (ex->AutoSend()) {
    bool handled = false;
    FireEvent(HandlerKind::Action, ActionSend, handled, *ex);
    if (!handled)
      if (const auto deliver = deliveryHook().Get()) deliver(*ex, DeliveryRequest{});
  }
  if (ex->AutoClip())
    CopyToClipboard(report);
}

void RunAutomaticSave(TIZeqException& exception, bool afterSendDecision) {
  if (!exception.AutoSave()) return;
  if (exception.AutoSaveIfNotSent() && (!afterSendDecision || exception.ReportSent())) return;
  if (!exception.FirstAutoSaveCall()) return;
  bool handled = false;
  FireEvent(HandlerKind::Action, ActionSave, handled, exception);
  if (handled) return;
  if (const auto save = saveHook().Get()) {
    exception.CompleteReportText();
    save(exception);
  }
}

void FinishAutomaticActions(TIZeqException& exception, bool waitForUpload) {
  if (exception.HasCriticalReportCallback() || (HasCompletePhaseHandler() && exception.CallHandlers()))
    exception.CompleteReportText();
  RunAutomaticSave(exception, true);
  if (waitForUpload && exception.SendThread().joinable()) exception.SendThread().join();
}

std::exception_ptr SignalException(const SignalFacts& facts, std::uint8_t source) {
  if (source == SourceAbort) return std::make_exception_ptr(ZebException("Abnormal program termination"));
  return std::make_exception_ptr(ZebException(SignalMessage(facts)));
}

void ProcessReportRequest(const PipeRequest& request, Slot& slot) {
  progress.fetch_add(1);
  ClearTempFolder();
  ExceptionFacts facts;
  facts.kind = ExceptionKind(request.kind);
  facts.canContinue = request.canContinue != 0;
  facts.threadId = request.threadId;
  facts.stackPointer = request.stackPointer;
  facts.framePointer = request.framePointer;
  facts.source = request.source;
  facts.address = request.address;
  if (request.isSignal) {
    facts.exception = SignalException(slot.signal, request.source);
    facts.address = slot.signal.programCounter;
  } else {
    facts.exception = slot.exception;
  }
  if (slot.hasContext) facts.context = &slot.context;
  if (slot.hasRaise) {
    facts.preparedStack.assign(slot.raise.frames, slot.raise.frames + slot.raise.count);
    facts.raiseContext = slot.raise.context;
  }
  facts.address = CorrectExceptionAddress(facts.address);  // a position inside its function
  facts.moduleSettings = SettingsOfAddress(facts.address);
  std::shared_ptr<TIZeqException> exception = NewExceptionObject(std::move(facts));
  ReportComposer composer = composerHook().Get();
  if (!composer) composer = ComposeRawReport;
  exception->StartCompletion([composer](TIZeqException& e, const std::atomic<bool>& abort) {
    // A fault of the completion thread is a fault during the report.
    completionThreadId.store(platform::CurrentThreadId());
    composer(e, abort);
  });

  bool handled = false;
  exception->SetPhase(1);
  {
    std::lock_guard lock(historyState().lock);
    historyState().history = ShiftHistory(historyState().history, HistoryNow());
  }
  FireEvent(HandlerKind::Exception, 0, handled, *exception);
  progress.fetch_add(1);
  if (handled) return;

  exception->SetPhase(2);
  if (exception->CreateScreenshot()) exception->Screenshot();
  FireEvent(HandlerKind::Exception, 0, handled, *exception);
  exception->SetPhase(3);
  if (!handled) {
    bool late = false;
    FireEvent(HandlerKind::Exception, 0, late, *exception);
  }
  progress.fetch_add(1);
  if (handled && exception->CanContinue()) return;

  presentedChoice = UserChoice::Continue;
  presentedInWindow = false;
  if (!handled) {
    if (exception->AutoSave() || exception->AutoSend() || exception->AutoClip())
      exception->AddReportCallback(&ReportCompleteActions, true);
    exception->Show();
  }
  progress.fetch_add(1);
  const ExceptionHistory history = CurrentHistory();
  const std::uint64_t now = HistoryNow();
  bool informed = false;
  // The user's choice in the window comes first; the automatic decision
  // serves the console, and an exception the program cannot go on from.
  const bool told = presentedInWindow && presenterToldHandlers;
  if (presentedInWindow && presentedChoice == UserChoice::Restart) {
    if (!told) FireEvent(HandlerKind::Action, ActionRestart, informed, *exception);
    FinishAutomaticActions(*exception, true);
    RestartProcess();
  }
  if (presentedInWindow && presentedChoice == UserChoice::Close) {
    if (!told) FireEvent(HandlerKind::Action, ActionClose, informed, *exception);
    FinishAutomaticActions(*exception, true);
    TerminateApplication();
  }
  if (presentedInWindow && exception->CanContinue()) {
    if (!told) FireEvent(HandlerKind::Action, ActionContinue, informed, *exception);
  } else {
    if (AutoActionDue(exception->AutoClose(), history, now) ||
        (!exception->CanContinue() && !AutoActionDue(exception->AutoRestart(), history, now))) {
      FireEvent(HandlerKind::Action, ActionClose, informed, *exception);
      FinishAutomaticActions(*exception, true);
      TerminateApplication();
    }
    if (AutoActionDue(exception->AutoRestart(), history, now)) {
      FireEvent(HandlerKind::Action, ActionRestart, informed, *exception);
      FinishAutomaticActions(*exception, true);
      RestartProcess();
    }
    FireEvent(HandlerKind::Action, ActionContinue, informed, *exception);
  }
  if (!handled) FinishAutomaticActions(*exception, false);
}

// The process ends while a report is being made (a quit ended the main
// thread's wait, or another thread's exception is reported as main returns):
// the exit waits for it, so the report is finished and the program's
// globals are not destroyed under the handling thread. A report that stops
// moving is given up, as a faulting thread gives it up.
void WaitForReportsAtExit() {
  if (platform::CurrentThreadId() == handlingThreadId.load()) return;
  std::uint64_t seen = progress.load();
  int still = 0;
  for (int busy = reportsInProgress.load(); busy > 0; busy = reportsInProgress.load()) {
    WaitASecond(reportsInProgress, busy);
    const std::uint64_t now = progress.load();
    if (now != seen) {
      seen = now;
      still = 0;
    } else if (++still >= kHungReportSeconds) {
      return;
    }
  }
}

void HandlingThreadBody() {
  handlingThreadId.store(platform::CurrentThreadId());
  platform::SetThreadName(handlingThreadId.load(), "-");
  InstallAlternateStack();
  for (;;) {
    PipeRequest request;
    if (!ReadAll(readFd.load(), &request, sizeof request) || request.slot < 0 || request.slot >= kSlots) break;
    reportsInProgress.fetch_add(1);
    // Registered at the first report rather than at start-up: exit handlers
    // run in reverse order, so this one runs before the globals made until
    // then are destroyed. The reporter's own state is never destroyed.
    static std::once_flag exitWait;
    std::call_once(exitWait, [] { std::atexit(&WaitForReportsAtExit); });
    Slot& slot = slots.load()[request.slot];
    // A signal handler cannot give the reserve back itself.
    if (request.isSignal) ReleaseEmergencyReserve();
    try {
      ProcessReportRequest(request, slot);
    } catch (...) {
    }
    if (request.isSignal) BuildEmergencyReserve();
    completionThreadId.store(0);
    progress.fetch_add(1);
    int queued = SlotQueued;
    if (slot.state.compare_exchange_strong(queued, SlotDone)) {
      slot.done.store(1);
      Wake(slot.done);
    } else {
      FreeSlot(slot);  // its submitter stopped waiting
    }
    reportsInProgress.fetch_sub(1);
    Wake(reportsInProgress);
  }
  platform::UnregisterThread(platform::CurrentThreadId());
}

// The submitter's wait for its request.
void WaitForRequest(Slot& slot) {
  const bool onMain = platform::CurrentThreadId() == mainThreadId.load();
  const MainThreadWaiter waiter = onMain ? waiterHook().Get() : MainThreadWaiter();
  if (waiter) {
    waiter([&slot] { return slot.done.load() != 0; });
    if (slot.done.load() == 0) {
      int queued = SlotQueued;
      // A quit ended the wait: the handling thread frees the slot when done.
      if (slot.state.compare_exchange_strong(queued, SlotAbandoned)) return;
    }
  } else {
    while (slot.done.load() == 0) WaitASecond(slot.done, 0);
  }
  FreeSlot(slot);
}

// --- The emergency reserve ----------------------------------------------------------

std::atomic<void*> reserveBlocks[8] = {};
constexpr std::size_t kReserveSizes[8] = {0x400000, 0x400000, 0x400000, 0x400000, 0x80000, 0x80000, 0x80000, 0x80000};

}  // namespace

// --- History --------------------------------------------------------------------------

ExceptionHistory CurrentHistory() {
  std::lock_guard lock(historyState().lock);
  return historyState().history;
}

void SetHistory(const ExceptionHistory& history) {
  std::lock_guard lock(historyState().lock);
  historyState().history = history;
}

std::uint64_t HistoryNow() {
  const auto since1970 = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return std::uint64_t(since1970.count()) + 11644473600ull;
}

ExceptionHistory ShiftHistory(const ExceptionHistory& history, std::uint64_t now) {
  ExceptionHistory shifted{};
  shifted[0] = now;
  for (std::size_t i = 1; i < shifted.size(); ++i) shifted[i] = history[i - 1];
  return shifted;
}

bool AutoActionDue(std::int32_t value, const ExceptionHistory& history, std::uint64_t now) {
  if (value <= 0) return false;
  if (value == 1) return true;
  for (std::uint64_t t : history)
    if (t == 0 || t > now || now - t > std::uint64_t(value)) return false;
  return true;
}

// --- Messages -----------------------------------------------------------------------

std::string SignalMessage(const SignalFacts& facts) {
  switch (facts.signal) {
    case SIGSEGV:
    case SIGBUS: {
      const std::uintptr_t fault = facts.faultAddress;
      const bool nearStackEnd = facts.stackLow != 0 && fault + 0x100000 >= facts.stackLow && fault < facts.stackLow + 0x10000;
      const bool belowStackPointer = facts.stackPointer != 0 && fault + 0x10000 >= facts.stackPointer &&
                                     fault < facts.stackPointer + 0x100;
      if (facts.signal == SIGSEGV && (nearStackEnd || belowStackPointer)) return "Stack overflow";
      TModule module;
      if (!ModuleOfAddress(facts.programCounter, module) || module.fileName.empty()) return "Access Violation";
      return "Access violation at address " + Hex(facts.programCounter) + " in module '" + module.fileName + "'. " +
             (facts.write ? "Write" : "Read") + " of address " + Hex(fault);
    }
    case SIGFPE:
      switch (facts.code) {
        case FPE_INTDIV: return "Division by zero";
        case FPE_INTOVF: return "Integer overflow";
        case FPE_FLTDIV: return "Floating point division by zero";
        case FPE_FLTOVF: return "Floating point overflow";
        case FPE_FLTUND: return "Floating point underflow";
        case FPE_FLTSUB: return "Range check error";
        default: return "Invalid floating point operation";
      }
    case SIGILL:
      if (facts.code == ILL_PRVOPC || facts.code == ILL_PRVREG) return "Privileged instruction";
      return "External exception C000001D";
    case SIGTRAP: return "External exception 80000003";
    case SIGABRT: return "Abnormal program termination";
    default: {
      char text[48];
      std::snprintf(text, sizeof text, "External exception %x", unsigned(facts.signal));
      return text;
    }
  }
}

// --- Raise records ----------------------------------------------------------------------

RaiseRecord* CurrentRaiseRecord() {
  static thread_local RaiseRecord record;
  return &record;
}

const void* ThrownObjectOf(const std::exception_ptr& exception) {
  // The run-time's exception pointer holds the address of the thrown object.
  static_assert(sizeof(std::exception_ptr) == sizeof(void*));
  const void* object = nullptr;
  std::memcpy(&object, &exception, sizeof object);
  return object;
}

// --- Submitting -------------------------------------------------------------------------

void SubmitException(SubmitArguments arguments) {
  try {
    const pid_t self = platform::CurrentThreadId();
    if (self == handlingThreadId.load()) return;
    if (SyncingHandlersOnMainThread() && self == mainThreadId.load()) return;
    std::exception_ptr exception = arguments.exception ? arguments.exception : std::current_exception();
    RaiseRecord* raise = CurrentRaiseRecord();
    if (exception && IsOfClass(ExceptionType(exception), "SilentAbort")) {
      raise->object = nullptr;
      raise->address = 0;
      if (!arguments.canContinue) TerminateApplication();
      return;
    }
    if (!running.load()) return;
    const int index = ClaimSlot();
    if (index < 0) return;
    Slot& slot = slots.load()[index];
    slot.exception = exception;
    slot.hasContext = arguments.context != nullptr;
    if (arguments.context) slot.context = *arguments.context;
    PipeRequest request;
    request.slot = index;
    request.threadId = self;
    request.kind = std::uint8_t(arguments.kind);
    request.source = arguments.source;
    request.canContinue = arguments.canContinue;
    request.address = arguments.address;
    if (exception && raise->object && raise->object == ThrownObjectOf(exception)) {
      slot.hasRaise = true;
      slot.raise = *raise;
      if (request.address == 0) request.address = raise->address;
    }
    int here = 0;
    request.stackPointer = reinterpret_cast<std::uintptr_t>(&here);
    request.framePointer = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    ReleaseEmergencyReserve();
    pendingReports.fetch_add(1);
    slot.state.store(SlotQueued);
    if (WriteAll(writeFd.load(), &request, sizeof request))
      WaitForRequest(slot);
    else
      FreeSlot(slot);
    pendingReports.fetch_sub(1);
    raise->object = nullptr;
    raise->address = 0;
    BuildEmergencyReserve();
  } catch (...) {
  }
}

bool SubmitSignal(const SignalFacts& facts, std::uint8_t source, const ucontext_t* context) {
  if (!running.load()) return false;
  const int index = ClaimSlot();
  if (index < 0) return false;
  Slot& slot = slots.load()[index];
  slot.signal = facts;
  slot.hasContext = context != nullptr;
  if (context) std::memcpy(&slot.context, context, sizeof slot.context);
  PipeRequest request;
  request.slot = index;
  request.threadId = pid_t(::syscall(SYS_gettid));
  request.kind = std::uint8_t(ExceptionKind::Exception);
  request.source = source;
  request.canContinue = 0;
  request.isSignal = 1;
  request.address = facts.programCounter;
  request.stackPointer = facts.stackPointer;
  pendingReports.fetch_add(1);
  slot.state.store(SlotQueued);
  if (!WriteAll(writeFd.load(), &request, sizeof request)) {
    slot.state.store(SlotFree);
    pendingReports.fetch_sub(1);
    return false;
  }
  // The report may need locks the faulting code held (the allocator's, for
  // one): without progress for a while, give up on it.
  std::uint64_t seen = progress.load();
  int still = 0;
  while (slot.done.load() == 0) {
    WaitASecond(slot.done, 0);
    const std::uint64_t now = progress.load();
    if (now != seen) {
      seen = now;
      still = 0;
    } else if (++still >= kHungReportSeconds) {
      MinimalReportAndExit(facts);
    }
  }
  pendingReports.fetch_sub(1);
  return true;
}

namespace {

// Formats a number as "$" and hexadecimal digits without the C library.
char* PutHex(char* out, std::uintptr_t value) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = "0123456789abcdef"[value & 15];
    value >>= 4;
  } while (value != 0);
  *out++ = '$';
  while (n > 0) *out++ = digits[--n];
  return out;
}

char* PutText(char* out, const char* text) {
  while (*text) *out++ = *text++;
  return out;
}

}  // namespace

void MinimalReportAndExit(const SignalFacts& facts) {
  char line[256];
  char* p = PutText(line, "Fatal signal ");
  p = PutHex(p, std::uintptr_t(facts.signal));
  p = PutText(p, " at address ");
  p = PutHex(p, facts.programCounter);
  p = PutText(p, ", fault address ");
  p = PutHex(p, facts.faultAddress);
  p = PutText(p, ", stack pointer ");
  p = PutHex(p, facts.stackPointer);
  *p++ = '\n';
  WriteAll(STDERR_FILENO, line, std::size_t(p - line));
  const RaiseRecord* raise = CurrentRaiseRecord();
  for (std::uint32_t i = 0; i < raise->count && i < 64; ++i) {
    p = PutText(line, "  ");
    p = PutHex(p, raise->frames[i]);
    *p++ = '\n';
    WriteAll(STDERR_FILENO, line, std::size_t(p - line));
  }
  ::_exit(1);
}

// --- The handling thread --------------------------------------------------------------

bool StartExceptionThread() {
  static std::mutex startLock;
  std::lock_guard lock(startLock);
  if (running.load()) return true;
  if (!slots.load()) slots.store(new Slot[kSlots]);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  readFd.store(fds[0]);
  writeFd.store(fds[1]);
  try {
    handlingThread() = std::thread(HandlingThreadBody);
  } catch (...) {
    ::close(fds[0]);
    ::close(fds[1]);
    readFd.store(-1);
    writeFd.store(-1);
    return false;
  }
  running.store(true);
  return true;
}

void StopExceptionThread() {
  if (!running.exchange(false)) return;
  PipeRequest stop;
  WriteAll(writeFd.load(), &stop, sizeof stop);
  if (handlingThread().joinable()) handlingThread().join();
  ::close(writeFd.exchange(-1));
  ::close(readFd.exchange(-1));
  handlingThreadId.store(0);
}

bool ExceptionThreadRunning() { return running.load(); }
pid_t ExceptionThreadId() { return handlingThreadId.load(); }

bool IsReporterThread(pid_t threadId) {
  return threadId != 0 && (threadId == handlingThreadId.load() || threadId == completionThreadId.load() ||
                           threadId == watchdogThreadId.load());
}

void SetExceptionPresenter(std::shared_ptr<IExceptionPresenter> presenter) { presenterHook().Set(std::move(presenter)); }
void NoteReportProgress() { progress.fetch_add(1); }
void SetReportComposer(ReportComposer composer) { composerHook().Set(std::move(composer)); }
ReportComposer InstalledReportComposer() {
  ReportComposer composer = composerHook().Get();
  return composer ? composer : ReportComposer(ComposeRawReport);
}
void SetAutomaticSave(std::function<void(IZeqException&)> save) { saveHook().Set(std::move(save)); }
void SetReportDelivery(std::function<void(IZeqException&, const DeliveryRequest&)> deliver) {
  deliveryHook().Set(std::move(deliver));
}

bool SendReportAsAsked(TIZeqException& exception, std::shared_ptr<DeliveryServices> services) {
  const auto deliver = deliveryHook().Get();
  if (!deliver) return false;
  try {
    deliver(exception, DeliveryRequest{true, std::move(services)});
  } catch (...) {
    return false;
  }
  return true;
}

bool SaveReportAsAsked(TIZeqException& exception, const SavePathQuestion& askPath) {
  if (!askPath) return false;
  return WriteBugReportFile("", exception.CompleteReportText(), false, exception, askPath);
}

bool SaveTargetIsFixed(TIZeqSettings& settings) {
  // An absolute name ("C:\..." and "\..." count too, the settings' own
  // notation) leaves the save dialog nothing to choose the next time.
  const std::string name = settings.BugRepFile();
  return name.size() > 2 && (name[0] == '/' || name[0] == '\\' || name[1] == ':');
}
void SetMainThreadWaiter(MainThreadWaiter waiter) { waiterHook().Set(std::move(waiter)); }
void SetMainThreadId(pid_t threadId) { mainThreadId.store(threadId); }
pid_t MainThreadId() { return mainThreadId.load(); }

void InstallPresentException() { SetExceptionShowHandler(&PresentException); }

// --- The raw report -----------------------------------------------------------------------

namespace {

// Reads a word of this process without faulting on an unmapped address.
bool ReadWord(std::uintptr_t address, std::uintptr_t& value) {
  iovec local{&value, sizeof value};
  iovec remote{reinterpret_cast<void*>(address), sizeof value};
  return ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0) == ssize_t(sizeof value);
}

}  // namespace

void ComposeRawReport(TIZeqException& exception, const std::atomic<bool>& abort) {
  const IZeqFields header = exception.ReportHeader();
  header->Assign("exception class", exception.ClassName());
  header->Assign("exception message", exception.Message());
  header->Assign("exception address", Hex(exception.ExceptionAddress()));
  header->Assign("thread", platform::ThreadTitle(exception.ThreadId(), true));
  header->Assign("source", std::to_string(int(exception.Source())));
  std::vector<std::uintptr_t> frames = exception.PreparedStack();
  if (frames.empty()) {
    // The program counter, then the frame-pointer chain as far as it reads.
    std::uintptr_t fp = exception.FramePointer();
    if (const ucontext_t* context = exception.Context()) {
#if defined(__x86_64__)
      frames.push_back(std::uintptr_t(context->uc_mcontext.gregs[REG_RIP]));
      fp = std::uintptr_t(context->uc_mcontext.gregs[REG_RBP]);
#endif
    }
    for (int depth = 0; depth < 64 && fp != 0 && !abort; ++depth) {
      std::uintptr_t next = 0, ret = 0;
      if (!ReadWord(fp, next) || !ReadWord(fp + sizeof(void*), ret) || ret == 0) break;
      frames.push_back(ret);
      if (next <= fp) break;
      fp = next;
    }
  }
  std::string stack;
  for (std::uintptr_t frame : frames) {
    if (!stack.empty()) stack += "\r\n";
    stack += Hex(frame);
  }
  exception.ReportSections()->Assign("call stack", stack.empty() ? std::string("-") : stack);
}

// --- Closing and restarting ------------------------------------------------------------------

void TerminateApplication() { ::_exit(1); }

namespace {

constexpr const char* kRestartVariable = "ZEBEXCEPT_RESTART_FD";

std::vector<std::string> OriginalArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  std::size_t start = 0;
  while (start < all.size()) {
    const std::size_t end = all.find('\0', start);
    args.push_back(all.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return args;
}

}  // namespace

void RestartProcess() {
  try {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      // The new process inherits a copy of the read end without close-on-exec.
      const int inherited = ::fcntl(fds[0], F_DUPFD, 3);
      std::vector<std::string> args = OriginalArguments();
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      std::vector<std::string> env;
      for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, kRestartVariable, std::strlen(kRestartVariable)) != 0) env.emplace_back(*e);
      env.push_back(std::string(kRestartVariable) + "=" + std::to_string(inherited));
      std::vector<char*> envp;
      for (std::string& e : env) envp.push_back(e.data());
      envp.push_back(nullptr);
      pid_t child = 0;
      if (inherited >= 0 && !argv.empty() && argv[0] &&
          ::posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv.data(), envp.data()) == 0) {
        std::uint8_t handOver[4 + 80];
        const std::uint32_t self = std::uint32_t(::getpid());
        std::memcpy(handOver, &self, 4);
        const ExceptionHistory history = CurrentHistory();
        std::memcpy(handOver + 4, history.data(), 80);
        WriteAll(fds[1], handOver, sizeof handOver);
      }
      // The write end closes with this process: the new one waits for that.
    }
  } catch (...) {
  }
  ::_exit(2);
}

pid_t AcceptRestartHandOver() {
  const char* value = std::getenv(kRestartVariable);
  if (!value) return 0;
  const int fd = std::atoi(value);
  ::unsetenv(kRestartVariable);
  if (fd < 3 || ::fcntl(fd, F_GETFD) < 0) return 0;
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  std::uint8_t handOver[4 + 80];
  pid_t old = 0;
  if (ReadAll(fd, handOver, sizeof handOver)) {
    std::uint32_t id = 0;
    std::memcpy(&id, handOver, 4);
    ExceptionHistory history{};
    std::memcpy(history.data(), handOver + 4, 80);
    SetHistory(history);
    old = pid_t(id);
  }
  // End of file: the old process has closed its end, which it does by ending.
  char rest[64];
  while (::read(fd, rest, sizeof rest) > 0 || errno == EINTR) {
  }
  ::close(fd);
  restartedFrom.store(old);
  return old;
}

pid_t RestartedFrom() { return restartedFrom.load(); }

// --- Emergency reserve --------------------------------------------------------------------------

void BuildEmergencyReserve() {
  for (int i = 0; i < 8; ++i) {
    if (reserveBlocks[i].load()) continue;
    void* block = ::mmap(nullptr, kReserveSizes[i], PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (block != MAP_FAILED) reserveBlocks[i].store(block);
  }
}

void ReleaseEmergencyReserve() {
  for (int i = 0; i < 8; ++i)
    if (void* block = reserveBlocks[i].exchange(nullptr)) ::munmap(block, kReserveSizes[i]);
}

// --- Freeze watchdog ------------------------------------------------------------------------------

namespace {

struct Watchdog {
  std::mutex lock;
  std::thread thread;
  bool stop = false;
  std::condition_variable stopChanged;
};

Watchdog& watchdog() {
  static auto& w = *new Watchdog;
  return w;
}

void WatchdogBody(std::int32_t timeoutMs) {
  watchdogThreadId.store(platform::CurrentThreadId());
  platform::SetThreadName(watchdogThreadId.load(), "-");
  int interval = std::max(timeoutMs / 10, 1);
  int misses = 0;
  // One probe at a time: a frozen main thread does not pile them up.
  auto answered = std::make_shared<std::atomic<bool>>(true);
  for (;;) {
    bool posted = true;
    if (answered->load()) {
      answered = std::make_shared<std::atomic<bool>>(false);
      posted = MainThreadDispatcher::Instance().Post([answered] { answered->store(true); }) != 0;
    }
    {
      std::unique_lock lock(watchdog().lock);
      if (watchdog().stopChanged.wait_for(lock, std::chrono::milliseconds(interval), [] { return watchdog().stop; }))
        return;
    }
    // While a report is on its way the main thread may rightly be waiting.
    if (!posted || answered->load() || pendingReports.load() > 0) {
      if (!posted) answered->store(true);
      misses = 0;
      interval = std::max(timeoutMs / 10, 1);
      continue;
    }
    if (++misses >= 10) {
      misses = 0;
      SubmitArguments frozen;
      frozen.kind = ExceptionKind::Frozen;
      frozen.exception = std::make_exception_ptr(ZebException("The application seems to be frozen"));
      frozen.canContinue = true;
      frozen.source = SourceFrozen;
      SubmitException(frozen);
      interval += interval / 2;
    }
  }
}

}  // namespace

void StartFreezeWatchdog(std::int32_t timeoutMs) {
  Watchdog& w = watchdog();
  std::lock_guard lock(w.lock);
  if (w.thread.joinable()) return;
  w.stop = false;
  w.thread = std::thread(WatchdogBody, timeoutMs);
}

void StopFreezeWatchdog() {
  Watchdog& w = watchdog();
  {
    std::lock_guard lock(w.lock);
    if (!w.thread.joinable()) return;
    w.stop = true;
  }
  w.stopChanged.notify_all();
  w.thread.join();
  watchdogThreadId.store(0);
}

}  // namespace zeb
