// The call stacks of a whole process as the bug report takes them, beside
// eu-stack on the same process: 30 threads parked 20 calls deep, every
// thread's registers taken by a signal, walked through the unwind tables and
// named with module, unit, line and function.
//
//   build/bench/crash-stacks [THREADS] [RUNS]
//
// Prints the milliseconds of the first walk (debug information read), of the
// fastest later walk, and of the fastest eu-stack -p <pid> -s run.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/zebStackTrace.h"

using namespace zeb;
using Clock = std::chrono::steady_clock;

namespace {

int parkFd = -1;

template <int N>
__attribute__((noinline)) int Frame(int v) {
  int r = Frame<N - 1>(v + 1);
  asm volatile("" : "+r"(r));
  return r + 1;
}

template <>
__attribute__((noinline)) int Frame<0>(int v) {
  char c = 0;
  const ssize_t n = read(parkFd, &c, 1);
  return v + int(n);
}

// The snapshot: the handler keeps the interrupted context and waits until
// the walker has its frames. Rounds are numbered, so a handler that has not
// yet seen its release cannot be confused by the next round.
ucontext_t snapshot;
std::atomic<int> round{0}, captured{0}, released{0};

void SnapshotHandler(int, siginfo_t*, void* context) {
  const int mine = round.load();
  snapshot = *static_cast<ucontext_t*>(context);
  captured.store(mine);
  while (released.load() < mine) {
  }
}

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Every thread's stack, as text; the number of lines.
std::size_t WalkAll(const std::vector<pthread_t>& threads) {
  std::size_t lines = 0;
  for (pthread_t t : threads) {
    const int mine = ++round;
    pthread_kill(t, SIGURG);
    while (captured.load() != mine) {
    }
    const std::vector<TRawFrame> frames = UnwindFrames(RegistersFromContext(snapshot), 256);
    released = mine;
    const TTraceResult r = TraceFrames(frames, {});
    for (char c : r.text) lines += c == '\n';
    ++lines;
  }
  return lines;
}

double EuStack(std::size_t& lines) {
  const std::string command = "eu-stack -p " + std::to_string(getpid()) + " -s 2>/dev/null";
  const auto start = Clock::now();
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  lines = 0;
  char buffer[4096];
  while (fgets(buffer, sizeof buffer, p)) ++lines;
  const int status = pclose(p);
  const double ms = Milliseconds(Clock::now() - start);
  return status == 0 ? ms : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int threadCount = argc > 1 ? std::atoi(argv[1]) : 30;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
  int fds[2];
  if (pipe(fds) != 0) return 1;
  parkFd = fds[0];
  struct sigaction action {};
  action.sa_sigaction = SnapshotHandler;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGURG, &action, nullptr);

  std::vector<std::thread> workers;
  std::vector<pthread_t> handles(static_cast<std::size_t>(threadCount));
  std::atomic<int> started{0};
  for (int i = 0; i < threadCount; ++i)
    workers.emplace_back([&, i] {
      handles[std::size_t(i)] = pthread_self();
      ++started;
      Frame<20>(i);
    });
  while (started < threadCount) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // all parked in read()

  auto start = Clock::now();
  const std::size_t ourLines = WalkAll(handles);
  const double first = Milliseconds(Clock::now() - start);
  double best = 1e18;
  for (int r = 0; r < runs; ++r) {
    start = Clock::now();
    WalkAll(handles);
    best = std::min(best, Milliseconds(Clock::now() - start));
  }
  double euBest = 1e18;
  std::size_t euLines = 0;
  for (int r = 0; r < runs; ++r) {
    const double ms = EuStack(euLines);
    if (ms >= 0) euBest = std::min(euBest, ms);
  }
  std::printf("threads %d, frames per thread 20+\n", threadCount);
  std::printf("ours:     first %.1f ms, best of %d %.1f ms, %zu lines\n", first, runs, best, ourLines);
  if (euBest < 1e18)
    std::printf("eu-stack: best of %d %.1f ms, %zu lines\n", runs, euBest, euLines);
  else
    std::printf("eu-stack: not run (missing, or not allowed to attach)\n");

  char c[64] = {};
  if (write(fds[1], c, std::size_t(threadCount)) != threadCount) return 1;
  for (std::thread& w : workers) w.join();
  return 0;
}
