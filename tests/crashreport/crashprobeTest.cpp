// The crash reporter inside a program that fails on purpose (crashprobe):
// fatal signals, uncaught and thread exceptions, the Qt event loop, restart,
// the disabled reporter, the checksum test and the freeze watchdog. Each case
// runs crashprobe as a child with its own temporary home, data and temporary
// folders, and a kill timer; a passing case ends in a few seconds.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "crashreport/zebExceptChecksum.h"
#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct ProbeRun {
  bool finished = false;  // false: killed by the timer
  bool exited = false;
  int exitCode = -1;
  int signal = 0;
  pid_t pid = 0;
  std::string out;
  std::string err;
};

bool Blocked(const std::string& entry) {
  for (const char* name : {"TMPDIR=", "HOME=", "XDG_", "CRASHPROBE_", "QT_QPA_PLATFORM=", "ZEBEXCEPT_"})
    if (entry.rfind(name, 0) == 0) return true;
  return false;
}

// Runs crashprobe (or another program) in a process group of its own and
// collects its output until every process of the group has closed it.
ProbeRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& extraEnv = {}) {
  testsupport::TempDir home("crashprobe");
  fs::create_directories(home / "tmp");
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (!Blocked(*e)) env.emplace_back(*e);
  env.push_back("HOME=" + home.path().string());
  const bool ownTemp = std::any_of(extraEnv.begin(), extraEnv.end(),
                                   [](const std::string& e) { return e.rfind("TMPDIR=", 0) == 0; });
  if (!ownTemp) env.push_back("TMPDIR=" + (home / "tmp").string());
  env.push_back("XDG_DATA_HOME=" + (home / "data").string());
  env.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
  env.push_back("XDG_CACHE_HOME=" + (home / "cache").string());
  env.push_back("XDG_RUNTIME_DIR=" + home.path().string());
  env.push_back("QT_QPA_PLATFORM=offscreen");
  env.push_back("HIVESCOPE_REGISTRY=" + (home / "registry").string());
  for (const std::string& e : extraEnv) env.push_back(e);
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> argvp, envp;
  for (std::string& a : argv) argvp.push_back(a.data());
  argvp.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2], err[2];
  EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
  EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  ProbeRun run;
  const int spawned = ::posix_spawn(&run.pid, program.c_str(), &actions, &attributes, argvp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(out[1]);
  ::close(err[1]);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << program;
    ::close(out[0]);
    ::close(err[0]);
    return run;
  }
  // The kill timer: a hung child (or the process it restarted) is ended.
  const auto deadline = std::chrono::steady_clock::now() + testsupport::kPatience;
  bool outOpen = true, errOpen = true, killed = false;
  while (outOpen || errOpen) {
    if (std::chrono::steady_clock::now() > deadline && !killed) {
      ::kill(-run.pid, SIGKILL);
      killed = true;
    }
    pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    ::poll(fds, 2, 200);
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? run.out : run.err).append(buffer, std::size_t(n));
      } else {
        (i == 0 ? outOpen : errOpen) = false;
      }
    }
  }
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  while (::waitpid(run.pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline && !killed) {
      ::kill(-run.pid, SIGKILL);
      killed = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  run.finished = !killed;
  run.exited = WIFEXITED(status);
  run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return run;
}

ProbeRun RunProbe(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
  return RunProgram(CRASHPROBE_PATH, args, extraEnv);
}

std::string Describe(const ProbeRun& run) {
  return "exit " + std::to_string(run.exitCode) + ", signal " + std::to_string(run.signal) + "\n--- stdout\n" +
         run.out + "--- stderr\n" + run.err;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

struct FatalCase {
  const char* mode;
  const char* message;  // a regular expression
  int source;
};

TEST(CrashProbe, FatalFaultsAreReportedWithTheirMessageAndCloseWithExitCode1) {
  const FatalCase cases[] = {
      {"segv-write", "Access violation at address \\$[0-9a-f]+ in module 'crashprobe'\\. Write of address \\$0", 14},
      {"segv-read", "Access violation at address \\$[0-9a-f]+ in module 'crashprobe'\\. Read of address \\$0", 14},
      {"div0", "Division by zero", 14},
      {"abort", "Abnormal program termination", 2},
      {"stack-overflow", "Stack overflow", 14},
      {"uncaught", "uncaught in main", 13},
      {"uncaught-thread", "uncaught in a thread", 13},
  };
  for (const FatalCase& c : cases) {
    SCOPED_TRACE(c.mode);
    const ProbeRun run = RunProbe({c.mode});
    ASSERT_TRUE(run.finished) << Describe(run);
    EXPECT_TRUE(run.exited) << Describe(run);
    EXPECT_EQ(run.exitCode, 1) << Describe(run);
    EXPECT_TRUE(std::regex_search(run.out, std::regex(c.message))) << Describe(run);
    EXPECT_NE(run.out.find("handler: source " + std::to_string(c.source) + ", can continue no"), std::string::npos)
        << Describe(run);
  }
}

TEST(CrashProbe, AnUncaughtExceptionShowsItsClassAndWhereItWasThrown) {
  const ProbeRun run = RunProbe({"uncaught"});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_NE(run.out.find("runtime_error"), std::string::npos) << Describe(run);
  // The raise hook's prepared stack: the thread's call stack starts where
  // the exception was thrown.
  EXPECT_TRUE(std::regex_search(run.out, std::regex("main thread \\(\\$[0-9a-f]+\\):\r?\n[0-9a-f]{16} [^\n]*ThrowFromHere")))
      << Describe(run);
}

TEST(CrashProbe, ThreadExceptionsAreReportedAndTheProgramGoesOn) {
  const ProbeRun run = RunProbe({"thread-throw"});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_NE(run.out.find("handler: source 16, can continue yes"), std::string::npos) << Describe(run);
  EXPECT_NE(run.out.find("failure in a thread"), std::string::npos) << Describe(run);
  EXPECT_NE(run.out.find("main goes on"), std::string::npos) << Describe(run);
}

// The exit waits for a report another thread's exception began: the report
// is finished and the globals are still there while it is made.
TEST(CrashProbe, AnExitWaitsForTheReportInProgress) {
  const ProbeRun run = RunProbe({"exit-during-report"});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_NE(run.out.find("main returns"), std::string::npos) << Describe(run);
  EXPECT_NE(run.out.find("globals intact under the report"), std::string::npos) << Describe(run);
  EXPECT_NE(run.out.find("failure as main returns"), std::string::npos) << Describe(run);
}

TEST(CrashProbe, ASilentAbortIsNeverReported) {
  const ProbeRun run = RunProbe({"silent-abort"});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_EQ(run.out, "main goes on\n") << Describe(run);
}

TEST(CrashProbe, TwoFailingThreadsAreReportedOneAfterTheOther) {
  const ProbeRun run = RunProbe({"two-threads"});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_EQ(Count(run.out, "handler: source 16"), 1u) << Describe(run);
  EXPECT_EQ(Count(run.out, "handler: source 17"), 1u) << Describe(run);
  // Each report is whole before the next begins: a handler line, its
  // message, its report, in that order, twice.
  const std::regex oneReport("handler: source 1[67][^\n]*\n(first|second) failure\\.\n\n[\\s\\S]*?callstack crc");
  const auto begin = std::sregex_iterator(run.out.begin(), run.out.end(), oneReport);
  EXPECT_EQ(std::distance(begin, std::sregex_iterator()), 2) << Describe(run);
  EXPECT_NE(run.out.find("TProbeThread"), std::string::npos) << Describe(run);
}


TEST(CrashProbe, AnExceptionInAQueuedSlotIsReportedAndTheLoopGoesOn) {
  const ProbeRun run = RunProbe({"qt-slot-throw"});
  ASSERT_TRUE(run.finished) << Describe(run);
  if (run.exitCode == 3) GTEST_SKIP() << "crashprobe was built without Qt";
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_NE(run.out.find("handler: source 5, can continue yes"), std::string::npos) << Describe(run);
  EXPECT_NE(run.out.find("failure in a slot"), std::string::npos) << Describe(run);
  EXPECT_NE(run.out.find("the loop goes on, mouse grab released"), std::string::npos) << Describe(run);
}

// The window branch: the dialog in the crash-UI process, with this
// program's buttons, and what each choice does to the program.
TEST(CrashProbe, TheWindowBranchDoesWhatTheUserChooses) {
  struct Case {
    const char* ui;
    int exitCode;
    const char* seen;
  } cases[] = {
      {"escape", 0, "the loop goes on"},
      {"close", 1, "ui: "},
      {"restart", 2, "restarted from "},
      {"close-request", 0, "ui: close request ignored"},
      // A C++ exception carries the registers and stack of its throw.
      {"show", 0, "ui: tabs general,call stack,modules,processes,hardware,cpu regs,stack dump,disasm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ui);
    const ProbeRun run = RunProbe({"qt-slot-throw"}, {std::string("CRASHPROBE_UI=") + c.ui});
    ASSERT_TRUE(run.finished) << Describe(run);
    if (run.exitCode == 3) GTEST_SKIP() << "crashprobe was built without Qt";
    EXPECT_EQ(run.exitCode, c.exitCode) << Describe(run);
    EXPECT_NE(run.out.find("ui: send bug report and show bug report at the bottom left, continue application, "
                           "restart application, close application stacked at the right, focus on sendButton"),
              std::string::npos)
        << Describe(run);
    EXPECT_NE(run.out.find(c.seen), std::string::npos) << Describe(run);
    if (c.exitCode == 2) {
      // A new process, started after the old one.
      const std::size_t first = run.out.find("first run ");
      ASSERT_NE(first, std::string::npos) << Describe(run);
      const std::string oldPid = run.out.substr(first + 10, run.out.find('\n', first) - first - 10);
      EXPECT_NE(run.out.find("restarted from " + oldPid + " as "), std::string::npos) << Describe(run);
    }
  }
}

TEST(CrashProbe, TheFrozenDialogGoesWhenTheMainThreadAnswers) {
  const ProbeRun run = RunProbe(
      {"qt-freeze"}, {"CRASHPROBE_SETTINGS=CheckFreeze bool true;FreezeTimeout int 1000", "CRASHPROBE_UI=wait"});
  ASSERT_TRUE(run.finished) << Describe(run);
  if (run.exitCode == 3) GTEST_SKIP() << "crashprobe was built without Qt";
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_NE(run.out.find("ui: text The application seems to be frozen."), std::string::npos) << Describe(run);
  EXPECT_NE(run.out.find("ui: dialog gone, no action"), std::string::npos) << Describe(run);
  EXPECT_NE(run.out.find("main goes on"), std::string::npos) << Describe(run);
  EXPECT_NE(run.out.find("action 8"), std::string::npos) << Describe(run);
}

TEST(CrashProbe, AFaultWhileAReportIsMadeEndsTheProcessWithExitCode1) {
  const ProbeRun run = RunProbe({"fault-in-report"});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_TRUE(run.exited) << Describe(run);
  EXPECT_EQ(run.exitCode, 1) << Describe(run);
  EXPECT_NE(run.err.find("Fatal signal $b at address $"), std::string::npos) << Describe(run);
}

TEST(CrashProbe, TheRegistersOfAnotherThreadAreTakenBySignal) {
  const ProbeRun run = RunProbe({"capture"});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_EQ(run.out, "captured in module crashprobe\n") << Describe(run);
}

TEST(CrashProbe, TenExceptionsWithinAutoRestartSecondsRestartTheProgramAfterTheOldOneIsGone) {
  const ProbeRun run = RunProbe({"restart", "9"}, {"CRASHPROBE_SETTINGS=AutoRestart int 30"});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_EQ(run.exitCode, 2) << Describe(run);
  EXPECT_EQ(Count(run.out, "handler: source 16"), 9u) << Describe(run);
  EXPECT_NE(run.out.find("restarted from " + std::to_string(run.pid) + ", history 10, old process gone"),
            std::string::npos)
      << Describe(run);
}

TEST(CrashProbe, NineExceptionsWithinAutoRestartSecondsClose) {
  const ProbeRun run = RunProbe({"restart", "8"}, {"CRASHPROBE_SETTINGS=AutoRestart int 30"});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_EQ(run.exitCode, 1) << Describe(run);
  EXPECT_EQ(run.out.find("restarted from"), std::string::npos) << Describe(run);
}

TEST(CrashProbe, WithTheReporterOffAFaultKillsTheProgramSilently) {
  const ProbeRun run = RunProbe({"segv-write"}, {"CRASHPROBE_SETTINGS=Enabled bool false"});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_EQ(run.signal, SIGSEGV) << Describe(run);
  EXPECT_EQ(run.out, "") << Describe(run);
}

TEST(CrashProbe, AFrozenMainThreadIsReported) {
  const ProbeRun run = RunProbe({"freeze"}, {"CRASHPROBE_SETTINGS=CheckFreeze bool true;FreezeTimeout int 1000"});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_NE(run.out.find("The application seems to be frozen."), std::string::npos) << Describe(run);
  EXPECT_NE(run.out.find("handler: source 1, can continue yes"), std::string::npos) << Describe(run);
  EXPECT_NE(run.out.find("main goes on"), std::string::npos) << Describe(run);
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TEST(CrashProbe, AStampedProgramFileWithAChangedByteSaysItIsCorruptAndEndsWithExitCode0) {
  testsupport::TempDir dir("crashprobe-stamp");
  const fs::path copy = dir / "crashprobe";
  fs::copy_file(CRASHPROBE_PATH, copy);
  fs::permissions(copy, fs::perms::owner_all);
  const ProbeRun stamp = RunProgram(CRASHREPORT_STAMP_PATH, {copy.string()});
  ASSERT_EQ(stamp.exitCode, 0) << Describe(stamp);

  // Stamped and whole: it runs as before.
  const ProbeRun whole = RunProgram(copy.string(), {"thread-throw"});
  EXPECT_EQ(whole.exitCode, 0) << Describe(whole);
  EXPECT_EQ(whole.err.find("seems to be corrupt"), std::string::npos) << Describe(whole);

  // One byte of the compiler's comment changed: the code still runs, the test finds it.
  std::vector<std::uint8_t> bytes = ReadBytes(copy);
  const auto comment = zeb::FindFileSection(bytes, ".comment");
  ASSERT_TRUE(comment && comment->size > 0);
  bytes[comment->offset] ^= 0x20;
  WriteBytes(copy, bytes);
  const ProbeRun corrupt = RunProgram(copy.string(), {"segv-write"});
  ASSERT_TRUE(corrupt.finished) << Describe(corrupt);
  EXPECT_EQ(corrupt.exitCode, 0) << Describe(corrupt);
  EXPECT_NE(corrupt.err.find("The file \"crashprobe\" seems to be corrupt!"), std::string::npos) << Describe(corrupt);
  EXPECT_EQ(corrupt.out, "") << Describe(corrupt);
}

// --- The bug report of a fault -----------------------------------------------

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> SplitText(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  for (std::size_t at; (at = text.find(separator, pos)) != std::string::npos; pos = at + separator.size())
    parts.push_back(text.substr(pos, at - pos));
  parts.push_back(text.substr(pos));
  return parts;
}

// The saved report of one run of a mode, from the bug-report file.
struct SavedReport {
  ProbeRun run;
  std::string text;
  std::vector<std::string> blocks;  // the header, then one per section
  std::string Header(const std::string& item) const {
    for (const std::string& line : SplitText(blocks.empty() ? "" : blocks[0], "\r\n"))
      if (line.rfind(item + " ", 0) == 0) return line.substr(line.find(": ") + 2);
    return {};
  }
  std::string Section(const std::string& title) const {
    for (std::size_t i = 1; i < blocks.size(); ++i)
      if (blocks[i].rfind(title, 0) == 0) return blocks[i];
    return {};
  }
};

SavedReport SaveReportOf(const std::string& program, const std::string& mode) {
  testsupport::TempDir dir("crashprobe-report");
  const fs::path file = dir / "bugs.txt";
  SavedReport r;
  r.run = RunProgram(program, {mode},
                     {"CRASHPROBE_SETTINGS=AutoSave bool true;BugRepFile text " + file.string()});
  r.text = ReadText(file);
  // One report followed by its empty line.
  std::string report = r.text;
  if (report.size() >= 4 && report.compare(report.size() - 4, 4, "\r\n\r\n") == 0) report.resize(report.size() - 4);
  r.blocks = SplitText(report, "\r\n\r\n");
  return r;
}

std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string f; in >> f;) fields.push_back(f);
  return fields;
}

std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}

TEST(CrashProbe, TheFaultsCallStackNamesItsFunctionUnitAndTheLineAddr2lineGives) {
  const bool haveAddr2line = std::system("command -v eu-addr2line >/dev/null 2>&1") == 0;
  for (const std::string& program : std::vector<std::string>{CRASHPROBE_PATH, CRASHPROBE_O0_PATH}) {
    SCOPED_TRACE(program);
    const SavedReport r = SaveReportOf(program, "segv-write");
    ASSERT_EQ(r.run.exitCode, 1) << Describe(r.run);
    ASSERT_GE(r.blocks.size(), 3u) << r.text;
    const std::string name = fs::path(program).filename().string();

    // Header lines: the name padded to one more than the longest, ": ", the content.
    const std::vector<std::string> header = SplitText(r.blocks[0], "\r\n");
    std::size_t longest = 0;
    for (const std::string& line : header)
      if (line.find(" :") != std::string::npos) longest = std::max(longest, line.find(" :"));
    for (const std::string& line : header) {
      EXPECT_TRUE(std::regex_match(line, std::regex("^[A-Za-z./ ]+ *: .+$"))) << line;
      EXPECT_EQ(line.find(": "), longest + 1) << line;
    }
    EXPECT_EQ(r.Header("exception number"), "1");

    // The first section is the faulting thread; its first line the fault.
    const std::vector<std::string> stack = SplitText(r.blocks[1], "\r\n");
    ASSERT_GE(stack.size(), 3u) << r.blocks[1];
    EXPECT_NE(stack[0].find("main thread ($"), std::string::npos) << stack[0];
    const std::vector<std::string> top = Fields(stack[1]);
    ASSERT_GE(top.size(), 7u) << stack[1];
    EXPECT_EQ(top[2], name);
    EXPECT_EQ(top[3], "crashprobe.cpp");
    EXPECT_NE(stack[1].find("WriteNowhere"), std::string::npos) << stack[1];
    EXPECT_NE(r.blocks[1].find("main"), std::string::npos);  // then its callers

    // The program's base from the modules section gives the file address.
    std::uint64_t base = 0;
    bool libc = false;
    for (const std::string& line : SplitText(r.Section("modules:"), "\r\n")) {
      const std::vector<std::string> f = Fields(line);
      if (f.size() >= 2 && f[1] == name) base = std::stoull(f[0], nullptr, 16);
      if (f.size() >= 2 && f[1] == "libc.so.6") libc = true;
    }
    ASSERT_NE(base, 0u) << r.Section("modules:");
    EXPECT_TRUE(libc);
    const std::uint64_t pc = std::stoull(top[0], nullptr, 16);
    if (haveAddr2line) {
      std::ostringstream command;
      command << "eu-addr2line -e '" << program << "' 0x" << std::hex << (pc - base);
      const std::string answer = RunCommand(command.str());
      EXPECT_NE(answer.find("crashprobe.cpp:" + top[4] + ":"), std::string::npos) << answer << " vs " << stack[1];
    }

    // Registers and the stack dump of the fault.
    EXPECT_EQ(SplitText(r.Section("cpu registers:"), "\r\n").size(), 18u);
    const std::vector<std::string> dump = SplitText(r.Section("stack dump:"), "\r\n");
    ASSERT_GE(dump.size(), 2u);
    EXPECT_LE(dump.size(), 21u);
    for (std::size_t i = 1; i < dump.size(); ++i) EXPECT_EQ(dump[i].substr(16 + 2 + 8 * 3, 2), "- ") << dump[i];
  }
}

TEST(CrashProbe, TheSameFaultHasTheSameChecksumsInEveryRun) {
  const SavedReport first = SaveReportOf(CRASHPROBE_PATH, "segv-write");
  const SavedReport second = SaveReportOf(CRASHPROBE_PATH, "segv-write");
  const SavedReport other = SaveReportOf(CRASHPROBE_PATH, "segv-read");
  const std::string crc = first.Header("callstack crc");
  ASSERT_TRUE(std::regex_match(crc, std::regex(R"(\$[0-9a-f]{8}, \$[0-9a-f]{8}, \$[0-9a-f]{8})"))) << first.text;
  // Loaded elsewhere (address randomisation), the same stack.
  EXPECT_EQ(second.Header("callstack crc").substr(0, 20), crc.substr(0, 20));
  EXPECT_NE(other.Header("callstack crc").substr(0, 9), crc.substr(0, 9));
}

TEST(CrashProbe, ASecondReportOfTheProcessHasTheNextNumber) {
  const ProbeRun run = RunProbe({"two-threads"});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_TRUE(std::regex_search(run.out, std::regex("exception number +: 1\r?\n"))) << Describe(run);
  EXPECT_TRUE(std::regex_search(run.out, std::regex("exception number +: 2\r?\n"))) << Describe(run);
}

// The listing of the faulting function: the marked row is the faulting write.
TEST(CrashProbe, TheDisassemblingSectionMarksTheFaultingMov) {
  const SavedReport r = SaveReportOf(CRASHPROBE_PATH, "segv-write");
  ASSERT_EQ(r.run.exitCode, 1) << Describe(r.run);
  const std::vector<std::string> listing = SplitText(r.Section("disassembling:"), "\r\n");
  ASSERT_GE(listing.size(), 3u) << r.text;
  EXPECT_NE(listing[1].find("WriteNowhere"), std::string::npos) << listing[1];
  EXPECT_NE(listing[1].find("; function entry point"), std::string::npos) << listing[1];
  std::vector<std::string> marked;
  for (const std::string& line : listing)
    if (std::regex_search(line, std::regex("^[0-9a-f]{16} [ 0-9]*> "))) marked.push_back(line);
  ASSERT_EQ(marked.size(), 1u) << r.Section("disassembling:");
  EXPECT_TRUE(std::regex_search(marked[0], std::regex("> mov +dword ptr \\[r[a-z0-9]+\\], 1$"))) << marked[0];
  // The marked row is the address the call stack shows for the fault.
  EXPECT_EQ(marked[0].substr(0, 16), Fields(SplitText(r.blocks[1], "\r\n")[1])[0]);
}

std::vector<std::string> MarkedRows(const std::string& listing) {
  std::vector<std::string> marked;
  for (const std::string& line : SplitText(listing, "\r\n"))
    if (std::regex_search(line, std::regex("^[0-9a-f]{16} [ 0-9]*> "))) marked.push_back(line);
  return marked;
}

// A program as a distribution ships it: stripped, with the MiniDebugInfo
// section the install step adds (and then the stamp). Its report names the
// faulting function and lists it with the faulting write marked, although no
// frame of the program has a line number (and the C library's may have).
TEST(CrashProbe, AStrippedProgramWithMiniDebugInfoNamesAndListsTheFaultingFunction) {
  for (const char* tool : {HIVESCOPE_OBJCOPY, HIVESCOPE_NM, HIVESCOPE_STRIP, HIVESCOPE_XZ})
    if (std::string(tool).empty()) GTEST_SKIP() << "needs objcopy, nm, strip and xz (binutils, xz-utils)";
  testsupport::TempDir dir("crashprobe-stripped");
  const fs::path copy = dir / "crashprobe";
  fs::copy_file(CRASHPROBE_PATH, copy);
  fs::permissions(copy, fs::perms::owner_all);
  const ProbeRun strip =
      RunProgram(HIVESCOPE_STRIP, {"--remove-section=.comment", "--remove-section=.note", copy.string()});
  ASSERT_EQ(strip.exitCode, 0) << Describe(strip);
  // Stripped: nothing names the function.
  const SavedReport bare = SaveReportOf(copy.string(), "segv-write");
  ASSERT_EQ(bare.run.exitCode, 1) << Describe(bare.run);
  EXPECT_EQ(bare.text.find("WriteNowhere"), std::string::npos) << bare.text;

  const ProbeRun section = RunProgram(
      HIVESCOPE_CMAKE, {"-DSYMBOLS_FROM=" CRASHPROBE_PATH, "-DPROGRAM=" + copy.string(),
                        "-DWORK_DIR=" + (dir / "work").string(), "-DOBJCOPY=" HIVESCOPE_OBJCOPY,
                        "-DNM=" HIVESCOPE_NM, "-DXZ=" HIVESCOPE_XZ, "-P",
                        HIVESCOPE_SOURCE_DIR "/cmake/MiniDebugInfo.cmake"});
  ASSERT_EQ(section.exitCode, 0) << Describe(section);
  const ProbeRun stamp = RunProgram(CRASHREPORT_STAMP_PATH, {copy.string()});
  ASSERT_EQ(stamp.exitCode, 0) << Describe(stamp);
  ASSERT_TRUE(zeb::FindFileSection(ReadBytes(copy), ".gnu_debugdata"));
  EXPECT_FALSE(zeb::FindFileSection(ReadBytes(copy), ".symtab"));

  const SavedReport r = SaveReportOf(copy.string(), "segv-write");
  ASSERT_EQ(r.run.exitCode, 1) << Describe(r.run);
  EXPECT_EQ(r.run.err.find("seems to be corrupt"), std::string::npos) << Describe(r.run);
  const std::vector<std::string> stack = SplitText(r.blocks.size() > 1 ? r.blocks[1] : "", "\r\n");
  ASSERT_GE(stack.size(), 3u) << r.text;
  EXPECT_NE(stack[1].find("crashprobe"), std::string::npos) << stack[1];
  EXPECT_NE(stack[1].find("WriteNowhere"), std::string::npos) << stack[1];
  EXPECT_NE(r.blocks[1].find(" main"), std::string::npos) << r.blocks[1];

  const std::string listing = r.Section("disassembling:");
  const std::vector<std::string> rows = SplitText(listing, "\r\n");
  ASSERT_GE(rows.size(), 3u) << r.text;
  EXPECT_NE(rows[1].find("WriteNowhere"), std::string::npos) << listing;
  const std::vector<std::string> marked = MarkedRows(listing);
  ASSERT_EQ(marked.size(), 1u) << listing;
  EXPECT_TRUE(std::regex_search(marked[0], std::regex("> mov +dword ptr \\[r[a-z0-9]+\\], 1$"))) << marked[0];
  EXPECT_EQ(marked[0].substr(0, 16), Fields(stack[1])[0]);
}

// The fault lies in an assembly function without unwind entries: its C++
// callers still follow in order, and the value it keeps on its stack that
// points just behind a call nobody is in shows nowhere.
TEST(CrashProbe, AFaultInAssemblyWithoutUnwindEntriesStillListsItsCallers) {
  const SavedReport r = SaveReportOf(CRASHPROBE_PATH, "asm-no-cfi");
  ASSERT_EQ(r.run.exitCode, 1) << Describe(r.run);
  const std::vector<std::string> stack = SplitText(r.blocks.size() > 1 ? r.blocks[1] : "", "\r\n");
  ASSERT_GE(stack.size(), 5u) << r.text;
  EXPECT_NE(stack[1].find("crashprobe_asm_fault"), std::string::npos) << stack[1];
  EXPECT_NE(stack[2].find("AsmCallerInner"), std::string::npos) << stack[2];
  EXPECT_NE(stack[3].find("AsmCallerOuter"), std::string::npos) << stack[3];
  EXPECT_NE(stack[4].find("main"), std::string::npos) << stack[4];
  EXPECT_EQ(r.blocks[1].find("decoy"), std::string::npos) << r.blocks[1];
  EXPECT_NE(r.Section("disassembling:").find("crashprobe_asm_fault"), std::string::npos);
}

// The copy of the program that shows the crash reporter's windows starts no
// reporter of its own: its start would empty the temp folder where the
// failing process keeps the screenshot and the attachments.
TEST(CrashProbe, TheCrashUiCopyLeavesTheTempFolderAlone) {
  testsupport::TempDir temp("crashprobe-temp");
  fs::create_directories(temp / "crashprobe.zebExcept");
  const fs::path kept = temp / "crashprobe.zebExcept" / "crashUiScreenshot.bmp";
  std::ofstream(kept) << "BM";
  // No peer on the descriptor: the copy finds nobody to greet and ends.
  const ProbeRun run = RunProbe({"--zeb-crash-ui", "987"}, {"TMPDIR=" + temp.path().string()});
  ASSERT_TRUE(run.finished) << Describe(run);
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_TRUE(fs::exists(kept));
}

// --- The registers of a throw ------------------------------------------------

std::map<std::string, std::uint64_t> RegistersOf(const std::string& section) {
  std::map<std::string, std::uint64_t> registers;
  for (const std::string& line : SplitText(section, "\r\n")) {
    const std::vector<std::string> f = Fields(line);
    if (f.size() == 3 && f[1] == "=") registers[f[0]] = std::stoull(f[2], nullptr, 16);
  }
  return registers;
}

// The 8-byte words of a stack dump by their address.
std::map<std::uint64_t, std::uint64_t> StackWordsOf(const std::string& section) {
  std::map<std::uint64_t, std::uint64_t> words;
  for (const std::string& line : SplitText(section, "\r\n")) {
    // Not the title: 16 hex digits of address first.
    if (line.size() < 18 + 16 * 3 + 2 ||
        !std::all_of(line.begin(), line.begin() + 16, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
      continue;
    const std::uint64_t address = std::stoull(line.substr(0, 16), nullptr, 16);
    std::uint8_t bytes[16];
    std::size_t pos = 18;
    int valid = 0;
    for (; valid < 16; ++valid) {
      if (valid == 8) pos += 2;  // "- "
      if (!std::isxdigit(static_cast<unsigned char>(line[pos]))) break;  // past the end of the stack
      bytes[valid] = std::uint8_t(std::stoul(line.substr(pos, 2), nullptr, 16));
      pos += 3;
    }
    for (int half = 0; half < valid / 8; ++half) {
      std::uint64_t word = 0;
      for (int i = 7; i >= 0; --i) word = word << 8 | bytes[half * 8 + i];
      words[address + std::uint64_t(half) * 8] = word;
    }
  }
  return words;
}

// A thrown exception's report has the registers of the throwing function at
// its throw, and the top of its stack as it was then: its saved frame pointer
// and the return address into its caller lie where rbp says (crashprobe keeps
// frame pointers). The listing marks the throw's call at rip.
TEST(CrashProbe, AThrownExceptionShowsTheRegistersAndStackOfItsThrow) {
  struct Case {
    std::string program, mode;
  } cases[] = {{CRASHPROBE_PATH, "uncaught"}, {CRASHPROBE_O0_PATH, "uncaught"}, {CRASHPROBE_PATH, "qt-slot-throw"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program + " " + c.mode);
    const SavedReport r = SaveReportOf(c.program, c.mode);
    if (r.run.exitCode == 3) continue;  // built without Qt
    ASSERT_FALSE(r.text.empty()) << Describe(r.run);
    const std::vector<std::string> stack = SplitText(r.blocks.size() > 1 ? r.blocks[1] : "", "\r\n");
    ASSERT_GE(stack.size(), 3u) << r.text;
    ASSERT_NE(stack[1].find("ThrowFromHere"), std::string::npos) << stack[1];
    const std::uint64_t throwSite = std::stoull(Fields(stack[1])[0], nullptr, 16);
    const std::uint64_t callerSite = std::stoull(Fields(stack[2])[0], nullptr, 16);

    const std::string cpu = r.Section("cpu registers:");
    const auto registers = RegistersOf(cpu);
    ASSERT_EQ(registers.size(), 17u) << cpu;
    EXPECT_EQ(registers.at("rip"), throwSite) << cpu;

    const std::string dump = r.Section("stack dump:");
    const auto words = StackWordsOf(dump);
    ASSERT_FALSE(words.empty()) << dump;
    EXPECT_EQ(words.begin()->first, registers.at("rsp")) << dump;
    const std::uint64_t rbp = registers.at("rbp");
    ASSERT_TRUE(words.count(rbp + 8)) << "rbp " << rbp << "\n" << dump;
    // The return address behind the caller's call (a call takes 2 to 7 bytes).
    const std::uint64_t returnAddress = words.at(rbp + 8);
    EXPECT_GE(returnAddress, callerSite + 2) << dump;
    EXPECT_LE(returnAddress, callerSite + 7) << dump;

    const std::vector<std::string> listing = SplitText(r.Section("disassembling:"), "\r\n");
    std::vector<std::string> marked;
    for (const std::string& line : listing)
      if (std::regex_search(line, std::regex("^[0-9a-f]{16} [ 0-9]*> "))) marked.push_back(line);
    ASSERT_EQ(marked.size(), 1u) << r.Section("disassembling:");
    EXPECT_EQ(std::stoull(marked[0].substr(0, 16), nullptr, 16), throwSite) << marked[0];
    EXPECT_NE(marked[0].find("call"), std::string::npos) << marked[0];
  }
}

}  // namespace

#include "tests/crashreport/LoopbackServer.h"

// The dialog's send and save with this program's delivery (the HTTP upload,
// no mail program): a failed upload says so in a box, in the background
// (a crash-UI process of the send's own) or while the dialog waits; a
// successful one deletes the bug-report file and marks the report sent, so
// the automatic save of an unsent report leaves the file alone.
TEST(CrashProbe, TheDialogSendsTheReportAsTheUserAsks) {
  crashtest::LoopbackServer server(
      [](crashtest::LoopbackServer::Connection& c) {
        if (c.readHttpRequest()) c.send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        c.waitForClose();
      },
      2);
  struct Case {
    const char* name;
    bool reachable;
    bool background;
  } cases[] = {
      {"shipped endpoint, in the background", false, true},
      {"shipped endpoint, the dialog waits", false, false},
      {"loopback server, the dialog waits", true, false},
  };
  int uploads = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir("crashprobe-send");
    const fs::path file = dir / "bugreport.txt";
    std::ofstream(file, std::ios::binary) << "date/time : yesterday\r\n\r\n";
    std::string settings =
        "UploadViaHttp bool true;MailViaMapi bool false;MailViaMailto bool false;SendAssis text none;"
        "AutoSave bool true;AutoSaveIfNotSent bool true;BugRepFile text " + file.string() + ";SendInBackgr bool " +
        (c.background ? "true" : "false");
    settings += c.reachable ? ";HttpServer text http://127.0.0.1/submit.php;HttpPort int " + std::to_string(server.port())
                            : ";HttpServer text http://bugreports.brantwell.invalid/submit.php";
    const ProbeRun run =
        RunProbe({"qt-slot-throw"}, {"CRASHPROBE_UI=send", "CRASHPROBE_SETTINGS=" + settings, "no_proxy=*"});
    ASSERT_TRUE(run.finished) << Describe(run);
    if (run.exitCode == 3) GTEST_SKIP() << "crashprobe was built without Qt";
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_NE(run.out.find("ui: send answered"), std::string::npos) << Describe(run);
    EXPECT_NE(run.out.find("the loop goes on"), std::string::npos) << Describe(run);
    const bool box = run.out.find("ui: box Sorry, sending the bug report didn't work.") != std::string::npos;
    EXPECT_EQ(box, !c.reachable) << Describe(run);
    if (c.reachable) {
      ASSERT_TRUE(server.waitServed(++uploads));
      EXPECT_NE(server.transcript(std::size_t(uploads - 1)).find("yesterday"), std::string::npos);
      EXPECT_FALSE(fs::exists(file)) << Describe(run);
    } else {
      // Unsent: the automatic save added the report to the file.
      std::ifstream in(file, std::ios::binary);
      const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(content.rfind("date/time : yesterday\r\n\r\ndate/time ", 0), 0u) << content;
      EXPECT_EQ(Count(content, "\r\n\r\ndate/time "), 1u) << content;
    }
  }
}

// Save: the save dialog of the crash-UI process proposes the configured file;
// with its absolute name nothing is left to choose, so the button goes.
TEST(CrashProbe, TheDialogSavesTheReportWhereTheUserSays) {
  testsupport::TempDir dir("crashprobe-save");
  const fs::path file = dir / "bugreport.txt";
  const ProbeRun run = RunProbe(
      {"qt-slot-throw"},
      {"CRASHPROBE_UI=save", "CRASHPROBE_SETTINGS=SaveBtnVis bool true;SaveAssis text none;BugRepFile text " +
                                 file.string()});
  ASSERT_TRUE(run.finished) << Describe(run);
  if (run.exitCode == 3) GTEST_SKIP() << "crashprobe was built without Qt";
  EXPECT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_NE(run.out.find("ui: save dialog save bug report"), std::string::npos) << Describe(run);
  EXPECT_NE(run.out.find("ui: save answered, save button gone"), std::string::npos) << Describe(run);
  std::ifstream in(file, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content.rfind("date/time ", 0), 0u) << content;
  EXPECT_NE(content.find("failure in a slot"), std::string::npos) << content;
}
