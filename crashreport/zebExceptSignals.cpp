#include "crashreport/zebExceptSignals.h"

#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "crashreport/zebDispatch.h"

namespace zeb {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT};
constexpr std::size_t kAltStackSize = 128 * 1024;

// Plain thread-local words: reading them in a signal handler is safe.
thread_local void* altStack = nullptr;
thread_local std::uintptr_t stackLow = 0;
thread_local std::uintptr_t stackHigh = 0;
thread_local bool inFatalSignal = false;

std::atomic<bool> installed{false};
struct sigaction previous[sizeof kFatalSignals / sizeof kFatalSignals[0]];

pid_t Gettid() { return pid_t(::syscall(SYS_gettid)); }

void FatalSignalHandler(int signal, siginfo_t* info, void* raw) {
  const int savedErrno = errno;
  const auto* context = static_cast<const ucontext_t*>(raw);
  SignalFacts facts;
  facts.signal = signal;
  facts.code = info ? info->si_code : 0;
  // A signal sent by a process (kill, raise) carries the sender, not an address.
  facts.faultAddress = info && info->si_code > 0 ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0;
#if defined(__x86_64__)
  if (context) {
    facts.programCounter = std::uintptr_t(context->uc_mcontext.gregs[REG_RIP]);
    facts.stackPointer = std::uintptr_t(context->uc_mcontext.gregs[REG_RSP]);
    facts.write = (context->uc_mcontext.gregs[REG_ERR] & 2) != 0;
  }
#endif
  facts.stackLow = stackLow;
  facts.stackHigh = stackHigh;
  // A fault while a report is made (on its own threads, or a second fault
  // of this thread) must not wait for a report that cannot come.
  if (inFatalSignal || IsReporterThread(Gettid())) MinimalReportAndExit(facts);
  inFatalSignal = true;
  if (SubmitSignal(facts, signal == SIGABRT ? SourceAbort : SourceSignal, context)) ::_exit(1);
  // Nobody to report to: the default action, as without the reporter.
  inFatalSignal = false;
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  errno = savedErrno;
  // A fault comes back when the instruction runs again; a sent signal does not.
  if (!info || info->si_code <= 0) ::raise(signal);
}

// --- Register capture ---------------------------------------------------------------

int CaptureSignal() { return SIGRTMIN + 3; }

struct Capture {
  std::atomic<pid_t> target{0};
  std::atomic<int> stored{0};    // futex word: 1 when the context is in
  std::atomic<int> released{0};  // futex word: 1 lets the thread go on
  ucontext_t context{};
};
Capture capture;
std::mutex& captureLock() {
  static std::mutex& m = *new std::mutex;
  return m;
}

long Futex(std::atomic<int>& word, int op, int value, const timespec* timeout) {
  return ::syscall(SYS_futex, reinterpret_cast<int*>(&word), op, value, timeout, nullptr, 0);
}

void CaptureHandler(int, siginfo_t*, void* raw) {
  const int savedErrno = errno;
  if (capture.target.load() == Gettid() && capture.stored.load() == 0) {
    std::memcpy(&capture.context, raw, sizeof capture.context);
    capture.stored.store(1);
    Futex(capture.stored, FUTEX_WAKE_PRIVATE, 1, nullptr);
    // Bounded: a reporter that never releases does not stop the thread for good.
    for (int i = 0; i < 30 && capture.released.load() == 0; ++i) {
      const timespec second{1, 0};
      Futex(capture.released, FUTEX_WAIT_PRIVATE, 0, &second);
    }
  }
  errno = savedErrno;
}

}  // namespace

bool InstallSignalHandlers() {
  if (installed.exchange(true)) return true;
  bool ok = true;
  for (std::size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i) {
    struct sigaction action {};
    action.sa_sigaction = &FatalSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    ok = ::sigaction(kFatalSignals[i], &action, &previous[i]) == 0 && ok;
  }
  struct sigaction action {};
  action.sa_sigaction = &CaptureHandler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
  ::sigaction(CaptureSignal(), &action, nullptr);
  return ok;
}

void RemoveSignalHandlers() {
  if (!installed.exchange(false)) return;
  for (std::size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i)
    ::sigaction(kFatalSignals[i], &previous[i], nullptr);
}

void InstallAlternateStack() {
  pthread_attr_t attributes;
  if (::pthread_getattr_np(::pthread_self(), &attributes) == 0) {
    void* low = nullptr;
    std::size_t size = 0;
    if (::pthread_attr_getstack(&attributes, &low, &size) == 0) {
      stackLow = reinterpret_cast<std::uintptr_t>(low);
      stackHigh = stackLow + size;
    }
    ::pthread_attr_destroy(&attributes);
  }
  if (altStack) return;
  void* block = ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (block == MAP_FAILED) return;
  stack_t stack{};
  stack.ss_sp = block;
  stack.ss_size = kAltStackSize;
  if (::sigaltstack(&stack, nullptr) != 0) {
    ::munmap(block, kAltStackSize);
    return;
  }
  altStack = block;
}

void RemoveAlternateStack() {
  if (!altStack) return;
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  ::sigaltstack(&off, nullptr);
  ::munmap(altStack, kAltStackSize);
  altStack = nullptr;
}

bool CaptureThreadContext(pid_t threadId, ucontext_t& context, std::chrono::milliseconds limit) {
  if (threadId == Gettid()) return false;
  std::lock_guard lock(captureLock());
  ReleaseCapturedThreads();
  capture.stored.store(0);
  capture.released.store(0);
  capture.target.store(threadId);
  if (::syscall(SYS_tgkill, ::getpid(), threadId, CaptureSignal()) != 0) {
    capture.target.store(0);
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (capture.stored.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    const timespec slice{0, 50 * 1000 * 1000};
    Futex(capture.stored, FUTEX_WAIT_PRIVATE, 0, &slice);
  }
  capture.target.store(0);
  if (capture.stored.load() == 0) return false;
  context = capture.context;
  return true;
}

void ReleaseCapturedThreads() {
  capture.released.store(1);
  Futex(capture.released, FUTEX_WAKE_PRIVATE, 1 << 30, nullptr);
}

}  // namespace zeb
