// The registry store across processes and against real hives read by hivexsh.
//
// "Another process" is this test program run again with a filter that picks
// one of the Child.* tests below; they do nothing unless HIVESCOPE_CHILD is set.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"
#include "platform/hive/HiveFile.h"
#include "tests/support/Files.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"
#include "tests/support/Waiting.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Starts one Child.* test in a new process of this program, with its own
// XDG_RUNTIME_DIR when one is given.
pid_t startChild(const std::string& test, const std::string& arg, const std::string& runtimeDir = {}) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("HIVESCOPE_CHILD", arg.c_str(), 1);
    if (!runtimeDir.empty()) ::setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    std::string filter = "--gtest_filter=Child." + test;
    ::execl("/proc/self/exe", "child", filter.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// True when the child passed.
bool childPassed(pid_t pid) {
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool runChild(const std::string& test, const std::string& arg, const std::string& runtimeDir = {}) {
  return childPassed(startChild(test, arg, runtimeDir));
}

const char* childArg() { return std::getenv("HIVESCOPE_CHILD"); }

std::string shell(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  std::array<char, 4096> buf;
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), n);
  ::pclose(p);
  return out;
}

bool haveHivexsh() { return std::system("command -v hivexsh >/dev/null 2>&1") == 0; }

void setDword(HKEY root, const char* path, const char* name, DWORD v) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_SUCCESS);
  RegCloseKey(k);
}

DWORD getDword(HKEY root, const char* path, const char* name) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &k) != ERROR_SUCCESS) return 0xFFFFFFFF;
  DWORD v = 0, size = 4;
  LSTATUS rc = RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
  RegCloseKey(k);
  return rc == ERROR_SUCCESS ? v : 0xFFFFFFFF;
}

class RegistryProcessTest : public ::testing::Test {
protected:
  void SetUp() override {
    registry::shutdownForTests();
    resetProcessTokenForTests();
    setWow64ForTests(true);
  }
  void TearDown() override { registry::shutdownForTests(); }
  testsupport::TempRegistry reg_;
};

}  // namespace

// ---- the children

TEST(Child, SetValue) {
  if (!childArg()) GTEST_SKIP() << "runs only as a child process";
  // arg: "<key path>|<value name>|<number>"
  std::string a = childArg();
  auto p1 = a.find('|'), p2 = a.rfind('|');
  std::string path = a.substr(0, p1), name = a.substr(p1 + 1, p2 - p1 - 1);
  DWORD v = DWORD(std::stoul(a.substr(p2 + 1)));
  setDword(HKEY_CURRENT_USER, path.c_str(), name.c_str(), v);
  EXPECT_EQ(registry::flushAll(), ERROR_SUCCESS);
}

TEST(Child, SetValues) {
  if (!childArg()) GTEST_SKIP() << "runs only as a child process";
  // arg: "<value name prefix>|<count>": each value saved on its own.
  std::string a = childArg();
  const auto bar = a.find('|');
  const std::string prefix = a.substr(0, bar);
  const int count = std::stoi(a.substr(bar + 1));
  for (int i = 0; i < count; ++i) {
    setDword(HKEY_CURRENT_USER, "Software\\Shared", (prefix + std::to_string(i)).c_str(), DWORD(i));
    ASSERT_EQ(registry::flushAll(), ERROR_SUCCESS);
  }
}

TEST(Child, LoadHive) {
  if (!childArg()) GTEST_SKIP() << "runs only as a child process";
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "OTHER", childArg()), ERROR_SHARING_VIOLATION);
}

// ---- the tests

TEST_F(RegistryProcessTest, WatchFiresOnceForAnotherProcessesChange) {
  HKEY watched = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Watched", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &watched,
                            nullptr),
            ERROR_SUCCESS);
  setDword(HKEY_CURRENT_USER, "Software\\Watched\\a\\b\\c", "seed", 0);
  ASSERT_EQ(registry::flushAll(), ERROR_SUCCESS);

  HANDLE ev = CreateEventA(nullptr, true, false, "RegMonitorChange");
  ASSERT_EQ(RegNotifyChangeKeyValue(watched, true, REG_LEGAL_CHANGE_FILTER, ev, true), ERROR_SUCCESS);
  ASSERT_TRUE(runChild("SetValue", "Software\\Watched\\a\\b\\c|v|1"));
  // The change arrives through the file watch, on the store's own thread.
  EXPECT_EQ(WaitForSingleObject(ev, DWORD(testsupport::kPatience.count())), WAIT_OBJECT_0);
  EXPECT_EQ(getDword(HKEY_CURRENT_USER, "Software\\Watched\\a\\b\\c", "v"), 1u) << "reloaded";

  ResetEvent(ev);
  ASSERT_TRUE(runChild("SetValue", "Software\\Watched\\a\\b\\c|v|2"));
  // Once the second change is read in, the watch would have fired for it.
  EXPECT_TRUE(testsupport::waitUntil(
      [] { return getDword(HKEY_CURRENT_USER, "Software\\Watched\\a\\b\\c", "v") == 2u; }));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT) << "fires once per arming";
  RegCloseKey(watched);
  CloseHandle(ev);
}

TEST_F(RegistryProcessTest, TwoProcessesKeepTheirChanges) {
  setDword(HKEY_CURRENT_USER, "Software\\Shared", "mine", 0);
  ASSERT_EQ(registry::flushAll(), ERROR_SUCCESS);
  setDword(HKEY_CURRENT_USER, "Software\\Shared", "mine", 7);  // not yet saved
  ASSERT_TRUE(runChild("SetValue", "Software\\Shared|theirs|9"));
  ASSERT_EQ(registry::flushAll(), ERROR_SUCCESS);
  registry::shutdownForTests();
  EXPECT_EQ(getDword(HKEY_CURRENT_USER, "Software\\Shared", "mine"), 7u);
  EXPECT_EQ(getDword(HKEY_CURRENT_USER, "Software\\Shared", "theirs"), 9u);
}

TEST_F(RegistryProcessTest, MountedHiveIsLockedAgainstOtherProcesses) {
  HS_TESTDATA_OR_SKIP(minimal, testsupport::testdataFile("hives/crafted/minimal"));
  testsupport::TempDir dir;
  fs::copy_file(minimal, dir / "hive");
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "MINE", (dir / "hive").c_str()), ERROR_SUCCESS);
  EXPECT_TRUE(runChild("LoadHive", (dir / "hive").string()));
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "MINE"), ERROR_SUCCESS);
}

// The lock on a hive is found by every process that reaches the file,
// whatever its environment: processes with runtime folders of their own still
// exclude each other, and none of their saved changes is lost.
TEST_F(RegistryProcessTest, LocksHoldBetweenProcessesWithDifferentEnvironments) {
  testsupport::TempDir dir;
  const fs::path file = dir / "hive";
  {
    auto h = hive::HiveFile::createEmpty().value();
    ASSERT_TRUE(h->saveAs(file).ok());
  }
  testsupport::ScopedEnv mine("XDG_RUNTIME_DIR", (dir / "mine").string());
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "MINE", file.c_str()), ERROR_SUCCESS);
  EXPECT_TRUE(runChild("LoadHive", file.string(), (dir / "theirs").string())) << "the mount is refused";
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "MINE"), ERROR_SUCCESS);

  setDword(HKEY_CURRENT_USER, "Software\\Shared", "seed", 0);
  ASSERT_EQ(registry::flushAll(), ERROR_SUCCESS);
  registry::shutdownForTests();
  constexpr int kWriters = 4, kValues = 15;
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const fs::path runtime = dir / ("runtime" + std::to_string(w));
    fs::create_directory(runtime);
    writers.push_back(startChild("SetValues", "w" + std::to_string(w) + "_|" + std::to_string(kValues), runtime));
  }
  for (pid_t pid : writers) EXPECT_TRUE(childPassed(pid));
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kValues; ++i) {
      const std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
      EXPECT_EQ(getDword(HKEY_CURRENT_USER, "Software\\Shared", name.c_str()), DWORD(i)) << name;
    }
}

TEST_F(RegistryProcessTest, MountedSystemHiveWrittenBackForHivex) {
  if (!haveHivexsh()) GTEST_SKIP() << "hivexsh not installed";
  HS_TESTDATA_OR_SKIP(system, testsupport::unpackedTestdata("hives/real/SYSTEM.xz"));
  testsupport::TempDir dir;
  const fs::path file = dir / "SYSTEM";
  fs::copy_file(system, file);
  // hivexsh reads its commands from standard input.
  const auto controlValues = [](const fs::path& hive) {
    return shell("printf 'cd \\\\ControlSet001\\\\Control\\nlsval\\n' | hivexsh '" + hive.string() + "' 2>&1 | sort");
  };
  const std::string before = controlValues(system);
  ASSERT_NE(before.find("\"CurrentUser\"=\"USERNAME\""), std::string::npos) << before.substr(0, 500);

  ASSERT_TRUE(testsupport::setRestorePrivilege());
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "TEMPHIVE", file.c_str()), ERROR_SUCCESS);
  setDword(HKEY_LOCAL_MACHINE, "TEMPHIVE\\Select", "HivescopeTest", 0x1234);
  ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "TEMPHIVE"), ERROR_SUCCESS);

  EXPECT_EQ(shell("hivexget '" + file.string() + "' '\\Select' HivescopeTest 2>&1"), "4660\n");
  const std::string after = controlValues(file);
  EXPECT_EQ(after, before);
  // Every key and value: hivexml's listing of the whole hive without times
  // and file offsets differs only by the new value (its element and the
  // closing tag of that element).
  const fs::path listBefore = dir / "before.txt", listAfter = dir / "after.txt";
  auto list = [&](const fs::path& hive, const fs::path& out) {
    shell("hivexml '" + hive.string() + "' 2>/dev/null | tr '>' '\\n' | grep -v -e byte_run -e '</mtime$' | sed 's/ mtime=\"[^\"]*\"//' > '" + out.string() + "'");
  };
  list(system, listBefore);
  list(file, listAfter);
  const std::string delta = shell("diff '" + listBefore.string() + "' '" + listAfter.string() + "' | grep '^[<>]'");
  EXPECT_EQ(delta, "> <value type=\"int32\" key=\"HivescopeTest\" value=\"4660\"\n> </value\n");
}

TEST_F(RegistryProcessTest, FirstRunShellFoldersForHivex) {
  if (!haveHivexsh()) GTEST_SKIP() << "hivexsh not installed";
  const fs::path folder = registry::registryFolder();
  registry::shutdownForTests();
  const fs::path ntuser = folder / "users" / currentUserSid() / "NTUSER.DAT";
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const std::string data = (xdg && *xdg) ? xdg : std::string(std::getenv("HOME")) + "/.local/share";
  EXPECT_EQ(shell("hivexget '" + ntuser.string() +
                  "' '\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders' AppData 2>&1"),
            data + "\n");
}

// A save cut short by a dead process leaves its temporary file beside the
// hive; the next mount clears it out, while the file of a process that is
// still saving stays.
TEST_F(RegistryProcessTest, MountSweepsWhatKilledSavesLeftBehind) {
  testsupport::TempDir dir;
  const fs::path file = dir / "hive";
  {
    auto h = hive::HiveFile::createEmpty().value();
    const hive::KeyId k = *h->createKey(h->root(), u"kept");
    ASSERT_TRUE(h->setValue(k, u"v", REG_DWORD, std::vector<std::uint8_t>{7, 0, 0, 0}).ok());
    ASSERT_TRUE(h->saveAs(file).ok());
  }
  // A save killed half way: the file size limit stops the child in the
  // middle of writing the new hive (SIGXFSZ).
  const pid_t killed = ::fork();
  ASSERT_GE(killed, 0);
  if (killed == 0) {
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    auto h = hive::HiveFile::open(file, hive::OpenMode::ReadWrite);
    if (!h) ::_exit(1);
    const hive::KeyId k = *(*h)->findSubkey((*h)->root(), u"kept");
    if (!(*h)->setValue(k, u"big", REG_BINARY, std::vector<std::uint8_t>(64 * 1024, 0xAB))) ::_exit(1);
    const rlimit small{16 * 1024, 16 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &small);
    (void)(*h)->save();
    ::_exit(2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(killed, &status, 0), killed);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;

  // A process still saving: it has written part of its file and waits for
  // us to close its pipe.
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t live = ::fork();
  ASSERT_GE(live, 0);
  if (live == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    AtomicFile f;
    if (f.open(file) != 0 || f.write("regf", 4) != 0 || ::write(ready[1], "r", 1) != 1) ::_exit(1);
    char c;
    while (::read(release[0], &c, 1) > 0) {
    }
    ::_exit(0);  // without the destructor: its file stays for the check below
  }
  ::close(ready[1]);
  ::close(release[0]);
  char c = 0;
  const bool started = testsupport::readFully(ready[0], &c, 1);
  ::close(ready[0]);

  const auto temporaries = [&](pid_t pid) {
    std::vector<fs::path> out;
    const std::string prefix = temporaryNamePrefix(file, pid);
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.path().filename().string().starts_with(prefix)) out.push_back(e.path());
    return out;
  };
  if (started) {
    EXPECT_EQ(temporaries(killed).size(), 1u) << "the killed save left its file";
    EXPECT_EQ(temporaries(live).size(), 1u);
    ASSERT_TRUE(testsupport::setRestorePrivilege());
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "SWEPT", file.c_str()), ERROR_SUCCESS);
    EXPECT_TRUE(temporaries(killed).empty());
    EXPECT_EQ(temporaries(live).size(), 1u) << "a running process's file is kept";
    EXPECT_EQ(getDword(HKEY_LOCAL_MACHINE, "SWEPT\\kept", "v"), 7u) << "the old hive, whole";
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "SWEPT"), ERROR_SUCCESS);
  }
  ::close(release[1]);
  ASSERT_EQ(::waitpid(live, &status, 0), live);
  ASSERT_TRUE(started) << "the saving child never got going";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}
