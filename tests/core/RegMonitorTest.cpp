// The key monitor thread over the registry store: what it reports, for which
// key, from this process and from another one, and how it stops.

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/core/PlainQueue.h"
#include "core/UnitRegMonitorThread.h"
#include "core/bwlRegistry.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

extern char** environ;

using namespace platform;
using namespace std::chrono_literals;

namespace {

struct Report {
  HKEY root;
  std::string path;
};

constexpr const char* kWatched = "Software\\HivescopeTests\\Watch";
constexpr const char* kDeep = "\\Software\\HivescopeTests\\Watch\\a\\b\\c";
constexpr const char* kChildEnv = "HS_REGMONITOR_CHILD_KEY";

class RegMonitorTest : public ::testing::Test {
protected:
  void SetUp() override {
    registry::shutdownForTests();
    TMyRegistry reg;
    reg.CreateKey(kDeep);
    reg.CreateKey("\\Software\\HivescopeTests\\Other");
  }
  void TearDown() override { registry::shutdownForTests(); }

  std::unique_ptr<TRegMonitorThread> start(const std::string& path, HKEY root = HKEY_CURRENT_USER,
                                           Bitness bitness = Bitness::x32,
                                           TRegMonitorThread::TRegChangeEvent handler = nullptr) {
    auto t = std::make_unique<TRegMonitorThread>(queue);
    t->FRootKey = root;
    t->FKeyPath = path;
    t->FBitness = bitness;
    t->OnChange = handler ? handler : [this](HKEY r, const std::string& p) { reports.push_back({r, p}); };
    t->Resume();
    return t;
  }

  // Runs queued calls until `done` holds or `limit` passes; the result of `done`.
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = testsupport::kPatience) {
    return testsupport::waitUntil(
        [&] {
          queue.runPending();
          return done();
        },
        limit);
  }
  // Gives a report that should not come a chance to arrive; a slow machine
  // can only make such a check miss a fault, never fail a sound run.
  void settle(std::chrono::milliseconds time = 300ms) {
    pumpUntil([] { return false; }, time);
  }
  bool watching(TRegMonitorThread& t) {
    return pumpUntil([&] { return t.Watching() || t.Finished(); }) && t.Watching();
  }

  static void setDword(const std::string& key, const std::string& name, std::int32_t value) {
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(key, false)) << key;
    reg.WriteInteger(name, value);
  }

  testsupport::TempRegistry tempRegistry;
  PlainQueue queue;
  std::vector<Report> reports;
};

}  // namespace

TEST_F(RegMonitorTest, OneReportForAValueThreeLevelsDownNamingTheWatchedKey) {
  auto monitor = start(kWatched);
  ASSERT_TRUE(watching(*monitor));
  setDword(kDeep, "deep", 1);
  ASSERT_TRUE(pumpUntil([&] { return !reports.empty(); }));
  settle();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].root, HKEY_CURRENT_USER);
  EXPECT_EQ(reports[0].path, kWatched);
  // Armed again: the next change is reported too.
  setDword(kDeep, "deep", 2);
  EXPECT_TRUE(pumpUntil([&] { return reports.size() == 2; }));
}

TEST_F(RegMonitorTest, AChangeFromAnotherProcessIsReported) {
  ASSERT_EQ(registry::flushAll(), ERROR_SUCCESS);
  auto monitor = start(kWatched);
  ASSERT_TRUE(watching(*monitor));

  // This test binary again, running only the child's test below.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.push_back(std::string(kChildEnv) + "=" + (kDeep + 1));
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  std::string filter = "--gtest_filter=RegMonitorChildProcess.SetsTheValueItIsAskedTo";
  char* argv[] = {exe.data(), filter.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, exe.c_str(), nullptr, nullptr, argv, envp.data()), 0);
  int status = 0;
  ASSERT_TRUE(pumpUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;

  ASSERT_TRUE(pumpUntil([&] { return !reports.empty(); }));
  settle(500ms);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].path, kWatched);
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly(kDeep));
  EXPECT_EQ(reg.ReadInteger("fromChild"), 42);
}

// The other process of the test above; does nothing when run on its own.
TEST(RegMonitorChildProcess, SetsTheValueItIsAskedTo) {
  const char* key = std::getenv(kChildEnv);
  if (!key) GTEST_SKIP() << "runs only as the child of RegMonitorTest.AChangeFromAnotherProcessIsReported";
  HKEY k;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &k), ERROR_SUCCESS);
  const DWORD value = 42;
  EXPECT_EQ(RegSetValueExA(k, "fromChild", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4), ERROR_SUCCESS);
  EXPECT_EQ(RegFlushKey(k), ERROR_SUCCESS);
  RegCloseKey(k);
  registry::shutdownForTests();
}

TEST_F(RegMonitorTest, NothingIsReportedOnceStopped) {
  auto monitor = start(kWatched);
  ASSERT_TRUE(watching(*monitor));
  // A report already on its way to the main thread is dropped by Stop.
  setDword(kDeep, "deep", 1);
  ASSERT_TRUE(testsupport::waitUntil([&] { return queue.pending() > 0; }));
  monitor->Stop();
  monitor->WaitFor();
  EXPECT_TRUE(monitor->Finished());
  setDword(kDeep, "deep", 2);
  settle(200ms);
  EXPECT_TRUE(reports.empty());
}

// Stop wakes the thread from its wait: it ends with no change to the key.
TEST_F(RegMonitorTest, StopEndsAWaitingThread) {
  auto monitor = start(kWatched);
  ASSERT_TRUE(watching(*monitor));
  monitor->Stop();
  ASSERT_TRUE(testsupport::waitUntil([&] { return monitor->Finished(); }));
  monitor->WaitFor();
  EXPECT_TRUE(reports.empty());
}

TEST_F(RegMonitorTest, AKeyThatDoesNotOpenEndsTheThreadAtOnce) {
  auto monitor = start("Software\\HivescopeTests\\Missing");
  ASSERT_TRUE(pumpUntil([&] { return monitor->Finished(); }));
  EXPECT_TRUE(monitor->Terminated());
  EXPECT_FALSE(monitor->Watching());
  TMyRegistry reg;
  reg.CreateKey("\\Software\\HivescopeTests\\Missing\\now");
  settle(100ms);
  EXPECT_TRUE(reports.empty());
  monitor->Stop();
  monitor->WaitFor();
}

TEST_F(RegMonitorTest, TheViewDecidesWhichKeyIsWatched) {
  // A key that only the 64-bit view has: the 32-bit view of HKLM\Software is
  // its Wow6432Node.
  const std::string only64 = "\\Software\\HivescopeTests64";
  TMyRegistry64 reg64;
  reg64.SetRootKey(HKEY_LOCAL_MACHINE);
  reg64.CreateKey(only64 + "\\a\\b\\c");
  TMyRegistry reg32;
  reg32.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_FALSE(reg32.KeyExists(only64));

  auto in32 = start(only64.substr(1), HKEY_LOCAL_MACHINE, Bitness::x32);
  ASSERT_TRUE(pumpUntil([&] { return in32->Finished(); }));

  auto in64 = start(only64.substr(1), HKEY_LOCAL_MACHINE, Bitness::x64);
  ASSERT_TRUE(watching(*in64));
  ASSERT_TRUE(reg64.OpenKey(only64 + "\\a\\b\\c", false));
  reg64.WriteInteger("v", 1);
  ASSERT_TRUE(pumpUntil([&] { return !reports.empty(); }));
  EXPECT_EQ(reports[0].root, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(reports[0].path, only64.substr(1));
  reg64.CloseKey();
  reg64.DeleteKey(only64);
}

TEST_F(RegMonitorTest, EachThreadHasItsOwnEvent) {
  auto watch = start(kWatched);
  auto other = start("Software\\HivescopeTests\\Other");
  ASSERT_TRUE(watching(*watch));
  ASSERT_TRUE(watching(*other));
  other->Wake();
  ASSERT_TRUE(pumpUntil([&] { return reports.size() == 1; }));
  setDword("\\Software\\HivescopeTests\\Other", "x", 1);
  ASSERT_TRUE(pumpUntil([&] { return reports.size() == 2; }));
  settle();
  // Both reports are the other thread's: its wake and its change.
  ASSERT_EQ(reports.size(), 2u);
  for (const auto& r : reports) EXPECT_EQ(r.path, "Software\\HivescopeTests\\Other");
}

TEST_F(RegMonitorTest, AChangeMadeWhileAReportIsHandledIsReportedToo) {
  int calls = 0;
  auto monitor = start(kWatched, HKEY_CURRENT_USER, Bitness::x32, [&](HKEY, const std::string&) {
    if (++calls == 1) setDword(kDeep, "duringReport", 1);
  });
  ASSERT_TRUE(watching(*monitor));
  setDword(kDeep, "first", 1);
  ASSERT_TRUE(pumpUntil([&] { return calls == 2; }));
  settle();
  EXPECT_EQ(calls, 2);
}

TEST_F(RegMonitorTest, AReportHandlerMayStopItsThread) {
  std::unique_ptr<TRegMonitorThread> monitor;
  monitor = start(kWatched, HKEY_CURRENT_USER, Bitness::x32, [&](HKEY r, const std::string& p) {
    reports.push_back({r, p});
    monitor->Stop();
  });
  ASSERT_TRUE(watching(*monitor));
  setDword(kDeep, "deep", 1);
  ASSERT_TRUE(pumpUntil([&] { return monitor->Finished(); }));
  monitor->WaitFor();
  EXPECT_EQ(reports.size(), 1u);
}

TEST_F(RegMonitorTest, TheFilterDecidesWhatCounts) {
  TRegMonitorThread unset(queue);
  EXPECT_EQ(unset.GetNotifyFilter(), 15u);

  auto t = std::make_unique<TRegMonitorThread>(queue);
  t->FRootKey = HKEY_CURRENT_USER;
  t->FKeyPath = kWatched;
  t->FNotifyFilter = REG_NOTIFY_CHANGE_NAME;
  EXPECT_EQ(t->GetNotifyFilter(), REG_NOTIFY_CHANGE_NAME);
  t->OnChange = [this](HKEY r, const std::string& p) { reports.push_back({r, p}); };
  t->Resume();
  ASSERT_TRUE(watching(*t));
  setDword(kDeep, "value", 1);
  settle(200ms);
  EXPECT_TRUE(reports.empty());
  TMyRegistry reg;
  reg.CreateKey(std::string(kDeep) + "\\newKey");
  EXPECT_TRUE(pumpUntil([&] { return reports.size() == 1; }));
}
