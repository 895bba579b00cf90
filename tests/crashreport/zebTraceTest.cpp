// The whole-process report on request, asked of this test process itself:
// through the caller's function and through the hivescope-trace tool, into
// shared memory of several sizes and onto the clipboard.
//
// The shared memory and the semaphore have fixed names, so every request
// stands in this one test (one process) and none runs beside another.

#include "crashreport/zebTrace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "crashreport/zebExcept.h"
#include "crashreport/zebTools.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

extern char** environ;

using namespace zeb;

namespace {

// crashprobe idling with its named threads until its stdin closes.
class WaitingProbe {
public:
  explicit WaitingProbe(const std::string& program) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (const char* name : {"TMPDIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
      env.push_back(std::string(name) + "=" + home_.path().string());
    env.push_back("HIVESCOPE_REGISTRY=" + (home_ / "registry").string());
    env.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<std::string> argv = {program, "wait"};
    std::vector<char*> argvp, envp;
    for (std::string& a : argv) argvp.push_back(a.data());
    argvp.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argvp.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    char line[8];
    ready_ = pid_ > 0 && testsupport::readFully(out[0], line, sizeof line) && std::string(line, 8) == "waiting\n";
    ::close(out[0]);
  }
  ~WaitingProbe() {
    if (stdin_ >= 0) ::close(stdin_);
    if (pid_ > 0) {
      if (!testsupport::waitUntil([&] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; })) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
      }
    }
  }
  bool ready() const { return ready_; }
  pid_t pid() const { return pid_; }

private:
  testsupport::TempDir home_{"trace-probe"};
  pid_t pid_ = -1;
  int stdin_ = -1;
  bool ready_ = false;
};

}  // namespace

TEST(zebTrace, RequestsAreAnsweredIntoSharedMemoryOrClipboard) {
  std::string current;
  std::mutex lock;
  SetTraceReportMaker([&] {
    std::lock_guard guard(lock);
    return current;
  });
  auto setReport = [&](std::string text) {
    std::lock_guard guard(lock);
    current = std::move(text);
  };
  ASSERT_TRUE(InstallTraceSignal());
  ASSERT_TRUE(InstallTraceSignal());  // a second install changes nothing

  std::string longReport;
  for (int i = 0; longReport.size() < 10000; ++i) longReport += "thread " + std::to_string(i) + "\r\n";
  setReport(longReport);
  struct Case {
    int mapSize;
    std::string report;
    std::string expected;
  } cases[] = {
      {4096, longReport, longReport.substr(0, 4095)},
      {1, longReport, ""},
      {100, longReport.substr(0, 100), longReport.substr(0, 99)},
      {4096, "short", "short"},
      {4096, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mapSize) + " " + std::to_string(c.report.size()));
    setReport(c.report);
    std::string report, error;
    ASSERT_TRUE(RequestProcessTrace(::getpid(), c.mapSize, 60, report, error)) << error;
    EXPECT_EQ(report, c.expected);
  }

#ifdef HIVESCOPE_TRACE_TOOL
  setReport(longReport);
  int status = -1;
  const std::string printed = testsupport::commandOutput(
      std::string(HIVESCOPE_TRACE_TOOL) + " " + std::to_string(::getpid()) + " 4096", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(printed, longReport.substr(0, 4095));
#endif

  // Size 0: the clipboard, through the main thread when it answers.
  std::string clipboard;
  SetClipboardSink([&](const std::string& text) { clipboard = text; });
  MainThreadDispatcher& dispatcher = MainThreadDispatcher::Instance();
  dispatcher.SetMainThread();
  setReport("on the clipboard");
  std::atomic<bool> answered{false};
  std::thread caller([&] {
    std::string report, error;
    EXPECT_TRUE(RequestProcessTrace(::getpid(), 0, 60, report, error)) << error;
    answered = true;
  });
  EXPECT_TRUE(testsupport::waitUntil([&] {
    dispatcher.RunPendingCalls();
    return answered.load();
  }));
  caller.join();
  EXPECT_EQ(clipboard, "on the clipboard");

  // A main thread that does not answer leaves the clipboard alone, and the
  // caller still gets its answer.
  clipboard.clear();
  std::string report, error;
  EXPECT_TRUE(RequestProcessTrace(::getpid(), 0, 60, report, error)) << error;
  dispatcher.RunPendingCalls();
  EXPECT_EQ(clipboard, "");
  SetClipboardSink(nullptr);

  // Nobody there to ask.
  RemoveTraceSignal();
  EXPECT_FALSE(RequestProcessTrace(0x7FFFFFF0, 16, 1, report, error));
  EXPECT_FALSE(error.empty());
  SetTraceReportMaker(nullptr);

#if defined(CRASHPROBE_PATH) && defined(HIVESCOPE_TRACE_TOOL)
  // A running program with the crash reporter answers the tool.
  WaitingProbe probe(CRASHPROBE_PATH);
  ASSERT_TRUE(probe.ready());
  const std::string tool = std::string(HIVESCOPE_TRACE_TOOL) + " " + std::to_string(probe.pid());
  status = -1;
  const std::string whole = testsupport::commandOutput(tool + " 1000000", &status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(whole.starts_with("date/time")) << whole.substr(0, 200);
  // Every thread with its call stack, the idle ones by their names.
  for (const char* title : {"\r\nmain thread (", "\r\nidle worker (", " (TProbeThread):\r\n"})
    EXPECT_NE(whole.find(title), std::string::npos) << title;
  EXPECT_NE(whole.find("crashprobe.cpp"), std::string::npos);
  // The reporter's own handling thread stays in a trace.
  EXPECT_NE(whole.find("HandlingThreadBody"), std::string::npos);
  const std::string trace = testsupport::commandOutput(tool + " 4096", &status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(trace.starts_with("date/time"));
  ASSERT_GT(whole.size(), 4095u);  // the modules alone fill more
  EXPECT_EQ(trace.size(), 4095u);
  EXPECT_EQ(trace.find('\0'), std::string::npos);
  EXPECT_EQ(testsupport::commandOutput(tool + " 1", &status), "");
  EXPECT_EQ(status, 0);
#endif
}
