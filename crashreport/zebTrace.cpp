#include "crashreport/zebTrace.h"

#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

#include "crashreport/zebDispatch.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebExceptObject.h"
#include "crashreport/zebReport.h"
#include "crashreport/zebTools.h"
#include "platform/Threads.h"

namespace zeb {

namespace {

std::atomic<bool> traceInProgress{false};
std::mutex makerLock;
std::function<std::string()> reportMaker;

// The signal handler may only write to the pipe; the trace thread reads it.
std::atomic<int> requestPipe{-1};

struct TraceThread {
  std::mutex lock;
  bool installed = false;
  int readEnd = -1;
  std::thread thread;
  struct sigaction previous {};
};
TraceThread& traceThread() {
  static TraceThread* t = new TraceThread;  // outlives every static destructor
  return *t;
}

void onTraceSignal(int, siginfo_t* info, void*) {
  if (!info || info->si_code != SI_QUEUE) return;
  const int saved = errno;
  const int mapSize = info->si_value.sival_int;
  const int fd = requestPipe.load();
  if (fd >= 0) (void)!::write(fd, &mapSize, sizeof mapSize);
  errno = saved;
}

// Puts the text on the clipboard when the main thread takes the call within
// 1.5 s; a main thread that hangs is what a trace is often asked about.
void copyThroughMainThread(const std::string& text) {
  MainThreadDispatcher& dispatcher = MainThreadDispatcher::Instance();
  if (dispatcher.IsMainThread()) {
    CopyToClipboard(text);
    return;
  }
  // 0: waiting, 1: taken by the main thread, 2: given up.
  auto state = std::make_shared<std::atomic<int>>(0);
  if (dispatcher.Post([state, text] {
        int waiting = 0;
        if (state->compare_exchange_strong(waiting, 1)) CopyToClipboard(text);
      }) == 0)
    return;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  while (state->load() == 0 && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  int waiting = 0;
  state->compare_exchange_strong(waiting, 2);
}

// Writes the report into the caller's shared memory, which must belong to
// this process's user: another user's object of that name gets nothing.
void writeToSharedMemory(const std::string& report, int mapSize) {
  const int fd = ::shm_open(kTraceMapName, O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && st.st_size > 0) {
    const std::size_t size = std::min<std::size_t>(std::size_t(mapSize), std::size_t(st.st_size));
    void* view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view != MAP_FAILED) {
      const std::size_t length = std::min(report.size(), size - 1);
      std::memcpy(view, report.data(), length);
      static_cast<char*>(view)[length] = '\0';
      ::munmap(view, size);
    }
  }
  ::close(fd);
}

struct SharedMemoryName {
  ~SharedMemoryName() {
    if (created) ::shm_unlink(kTraceMapName);
  }
  bool created = false;
};
struct SemaphoreName {
  ~SemaphoreName() {
    if (sem != SEM_FAILED) {
      ::sem_close(sem);
      ::sem_unlink(kTraceDoneName);
    }
  }
  sem_t* sem = SEM_FAILED;
};

// The report of every thread, each stack walked from registers taken by
// signal. Unlike an exception's report it keeps the crash reporter's own
// threads: a trace is often asked about a reporter that hangs.
void ComposeTraceReport(TIZeqException& exception, const std::atomic<bool>& abort) {
  ComposeReport(exception, RunningReporterSources(exception, true), false, &abort);
}

}  // namespace

int TraceSignal() { return SIGRTMIN + kTraceSignalOffset; }

std::string TraceProcessReport() {
  ExceptionFacts facts;
  facts.kind = ExceptionKind::Frozen;
  facts.canContinue = true;
  facts.threadId = platform::CurrentThreadId();
  const std::shared_ptr<TIZeqException> exception = NewExceptionObject(std::move(facts));
  exception->SetPlWaitBox(false);
  exception->SetListThreads(true);
  exception->StartCompletion(ComposeTraceReport);
  return exception->CompleteReportText();
}

bool TraceInProgress() { return traceInProgress.load(); }

void SetTraceReportMaker(std::function<std::string()> maker) {
  std::lock_guard lock(makerLock);
  reportMaker = std::move(maker);
}

int zebTraceProcess(int mapSize) {
  std::function<std::string()> maker;
  {
    std::lock_guard lock(makerLock);
    maker = reportMaker;
  }
  traceInProgress = true;
  const std::string report = maker ? maker() : TraceProcessReport();
  traceInProgress = false;
  if (!report.empty()) {
    if (mapSize < 1) copyThroughMainThread(report);
    else writeToSharedMemory(report, mapSize);
  }
  // The caller waits for this, report or not.
  sem_t* done = ::sem_open(kTraceDoneName, 0);
  if (done != SEM_FAILED) {
    ::sem_post(done);
    ::sem_close(done);
  }
  return 0;
}

bool InstallTraceSignal() {
  TraceThread& t = traceThread();
  std::lock_guard lock(t.lock);
  if (t.installed) return true;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  t.readEnd = fds[0];
  requestPipe = fds[1];
  try {
    t.thread = std::thread([readEnd = fds[0]] {
      // One of the crash reporter's own threads: reports leave it out.
      platform::RegisterThread(platform::CurrentThreadId(), "-");
      int mapSize = 0;
      while (true) {
        const ssize_t n = ::read(readEnd, &mapSize, sizeof mapSize);
        if (n < 0 && errno == EINTR) continue;
        if (n != ssize_t(sizeof mapSize)) break;
        try {
          zebTraceProcess(mapSize);
        } catch (...) {
          // A failed trace leaves the program running.
        }
      }
      platform::UnregisterThread(platform::CurrentThreadId());
    });
  } catch (const std::system_error&) {
    ::close(fds[0]);
    ::close(fds[1]);
    requestPipe = -1;
    return false;
  }
  struct sigaction action {};
  action.sa_sigaction = onTraceSignal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  if (::sigaction(TraceSignal(), &action, &t.previous) != 0) {
    ::close(requestPipe.exchange(-1));
    t.thread.join();
    ::close(t.readEnd);
    return false;
  }
  t.installed = true;
  return true;
}

void RemoveTraceSignal() {
  TraceThread& t = traceThread();
  std::lock_guard lock(t.lock);
  if (!t.installed) return;
  ::sigaction(TraceSignal(), &t.previous, nullptr);
  ::close(requestPipe.exchange(-1));  // the thread reads the end and stops
  t.thread.join();
  ::close(t.readEnd);
  t.readEnd = -1;
  t.installed = false;
}

bool RequestProcessTrace(pid_t pid, int mapSize, int timeoutSeconds, std::string& report, std::string& error) {
  report.clear();
  error.clear();
  SharedMemoryName map;
  int fd = -1;
  if (mapSize >= 1) {
    ::shm_unlink(kTraceMapName);  // left over from a run that was cut short
    fd = ::shm_open(kTraceMapName, O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
      error = std::string("cannot create the shared memory: ") + std::strerror(errno);
      return false;
    }
    map.created = true;
    if (::ftruncate(fd, mapSize) != 0) {
      error = std::string("cannot size the shared memory: ") + std::strerror(errno);
      ::close(fd);
      return false;
    }
  }
  SemaphoreName done;
  ::sem_unlink(kTraceDoneName);
  done.sem = ::sem_open(kTraceDoneName, O_CREAT | O_EXCL, 0600, 0);
  if (done.sem == SEM_FAILED) {
    error = std::string("cannot create the semaphore: ") + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  sigval value{};
  value.sival_int = mapSize;
  if (::sigqueue(pid, TraceSignal(), value) != 0) {
    error = std::string("cannot signal the process: ") + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  timespec limit{};
  ::clock_gettime(CLOCK_REALTIME, &limit);
  limit.tv_sec += timeoutSeconds;
  int r;
  while ((r = ::sem_timedwait(done.sem, &limit)) != 0 && errno == EINTR) {
  }
  if (r != 0) {
    error = "the process did not answer";
    if (fd >= 0) ::close(fd);
    return false;
  }
  if (fd >= 0) {
    void* view = ::mmap(nullptr, std::size_t(mapSize), PROT_READ, MAP_SHARED, fd, 0);
    if (view != MAP_FAILED) {
      const char* text = static_cast<const char*>(view);
      report.assign(text, ::strnlen(text, std::size_t(mapSize)));
      ::munmap(view, std::size_t(mapSize));
    }
    ::close(fd);
  }
  return true;
}

}  // namespace zeb
