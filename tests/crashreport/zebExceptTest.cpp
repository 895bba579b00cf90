// The crash reporter's run-time services: variables in texts, paths, the
// temporary folder, the module list and exception texts.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <stdexcept>

#include "crashreport/zebExcept.h"
#include "tests/support/TempDir.h"

using namespace zeb;

namespace {

// Points TMPDIR at a fresh folder for the test's lifetime.
struct TempRoot {
  testsupport::TempDir dir;
  std::string previous;
  bool had = false;
  TempRoot() {
    if (const char* p = std::getenv("TMPDIR")) previous = p, had = true;
    setenv("TMPDIR", dir.path().c_str(), 1);
  }
  ~TempRoot() { had ? setenv("TMPDIR", previous.c_str(), 1) : unsetenv("TMPDIR"); }
};

}  // namespace

TEST(zebExcept, ExpandVariables) {
  EXPECT_EQ(ExpandVariables("m.so", "%AppName%|%lf%|%exceptMsg%", "", ""), ProgramFileName() + "|\r\n|Unknown");
  EXPECT_EQ(ExpandVariables("m.so", "%MODNAME% %bugreport% %EXCEPTMSG%", "boom", "report"), "m.so report boom");
  EXPECT_EQ(ExpandVariables("m.so", "%appversion%", "", ""), "0.1.0.0");
  EXPECT_EQ(ExpandVariables("m.so", "%modversion%", "", "", "2.5"), "2.5");
  EXPECT_TRUE(std::regex_match(ExpandVariables("", "%time%", "", ""), std::regex(R"(^\d\d:\d\d:\d\d, \d+ms$)")));
  EXPECT_TRUE(std::regex_match(ExpandVariables("", "%datetime%", "", ""),
                               std::regex(R"(^\d{4}-\d\d-\d\d, \d\d:\d\d:\d\d, \d+ms$)")));
  const std::string folder = ExpandVariables("", "%userappdata%", "", "");
  EXPECT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '/');
}

TEST(zebExcept, NamesAndSettingsPaths) {
  EXPECT_EQ(FileNameOf("C:\\a\\b.txt"), "b.txt");
  EXPECT_EQ(FileNameOf("plain"), "plain");
  EXPECT_EQ(FolderOf("/a/b.txt"), "/a/");
  EXPECT_EQ(WithoutExtension("a.b.c"), "a.b");
  EXPECT_EQ(WithoutExtension("abc"), "abc");
  EXPECT_EQ(ResolveSettingsPath(""), std::filesystem::path());
  const auto relative = ResolveSettingsPath("logs\\..\\bugreport.txt");
  EXPECT_EQ(relative.filename(), "bugreport.txt");
  EXPECT_EQ(relative.parent_path().filename(), "hivescope");
  EXPECT_EQ(ResolveSettingsPath("/var/x/../y.txt"), std::filesystem::path("/var/y.txt"));
}

TEST(zebExcept, ClearTempFolderKeepsAFolderHoldingASubfolder) {
  TempRoot root;
  const std::string folder = TempFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder, (root.dir.path() / (WithoutExtension(ProgramFileName()) + ".zebExcept")).string() + "/");
  EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all, std::filesystem::perms::owner_all);
  std::ofstream(folder + "a.txt") << "x";
  std::filesystem::create_directory(folder + "sub");
  ClearTempFolder();
  EXPECT_FALSE(std::filesystem::exists(folder + "a.txt"));
  EXPECT_TRUE(std::filesystem::exists(folder + "sub"));
  std::filesystem::remove(folder + "sub");
  ClearTempFolder();
  EXPECT_FALSE(std::filesystem::exists(folder));
}

// The folder sits in a place every user may write: one that another user
// made, or that others may write into, is never used.
TEST(zebExcept, TempFolderIsRefusedUnlessItIsTheUsersOwnAndClosed) {
  TempRoot root;
  const std::filesystem::path folder = root.dir.path() / (WithoutExtension(ProgramFileName()) + ".zebExcept");
  std::filesystem::create_directory(folder);
  ::chmod(folder.c_str(), 0777);
  EXPECT_EQ(TempFolder(), "") << "open to others";
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(TempFolder(), folder.string() + "/");
  EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all, std::filesystem::perms::owner_all);
  std::filesystem::remove(folder);
  std::filesystem::create_directory_symlink(root.dir.path(), folder);
  EXPECT_EQ(TempFolder(), "") << "a link";
  std::filesystem::remove(folder);
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a folder of another user";
  std::filesystem::create_directory(folder);
  ::chmod(folder.c_str(), 0700);
  ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
  EXPECT_EQ(TempFolder(), "") << "another user's";
}

TEST(zebExcept, ModuleListFromTheMaps) {
  const auto modules = ParseModuleMaps(
      "55d0c0000000-55d0c0001000 r--p 00000000 08:01 11 /usr/bin/prog\n"
      "55d0c0001000-55d0c0005000 r-xp 00001000 08:01 11 /usr/bin/prog\n"
      "7f0000000000-7f0000001000 rw-p 00000000 00:00 0 [heap]\n"
      "7f0000002000-7f0000003000 r-xp 00000000 08:01 12 /lib/libc.so.6 (deleted)\n"
      "garbage line\n");
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[0].fileName, "prog");
  EXPECT_EQ(modules[0].base, 0x55d0c0000000u);
  EXPECT_EQ(modules[0].end, 0x55d0c0005000u);
  EXPECT_EQ(modules[1].path, "/lib/libc.so.6");
  const auto own = ModuleList();
  EXPECT_TRUE(std::any_of(own.begin(), own.end(), [](const TModule& m) { return m.fileName == ProgramFileName(); }));
  EXPECT_FALSE(IsProcessLocked(0));
}

TEST(zebExcept, ExceptionTexts) {
  struct Case {
    std::exception_ptr exception;
    const char* className;
    const char* message;
  };
  const Case cases[] = {
      {std::make_exception_ptr(std::runtime_error(" \x01\x02 ")), "runtime_error", "Unknown"},
      {std::make_exception_ptr(std::runtime_error("two\r\nlines\t")), "runtime_error", "two\r\nlines"},
      {std::make_exception_ptr(3.5), "double", "double"},
      {nullptr, "Unknown", "Unknown"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.className);
    EXPECT_EQ(ExceptionClassName(c.exception), c.className);
    EXPECT_EQ(ExceptionMessageText(c.exception), c.message);
  }
  EXPECT_TRUE(IsOfClass(ExceptionType(std::make_exception_ptr(std::out_of_range("x"))), "logic_error"));
  EXPECT_TRUE(IsOfClass(ExceptionType(std::make_exception_ptr(std::out_of_range("x"))), "std::exception"));
  EXPECT_FALSE(IsOfClass(ExceptionType(std::make_exception_ptr(std::out_of_range("x"))), "Exception"));
  for (auto [in, out] : {std::pair{"Done!!", "Done."}, {"ok...", "ok."}, {".", "."}, {"", "."}, {"x", "x."}})
    EXPECT_EQ(AsSentence(in), out) << in;
}

TEST(zebExcept, RegistryTexts) {
  testsupport::TempRegistry registry;
  constexpr std::uintptr_t kCurrentUser = 0x80000001u;
  EXPECT_EQ(ReadRegistryText(kCurrentUser, "Software\\Zeb", "Name"), "");
  ASSERT_TRUE(WriteRegistryText(kCurrentUser, "Software\\Zeb", "Name", "value"));
  EXPECT_EQ(ReadRegistryText(kCurrentUser, "Software\\Zeb", "Name"), "value");
  EXPECT_TRUE(DeleteRegistryValue(kCurrentUser, "Software\\Zeb", "Name"));
  EXPECT_FALSE(DeleteRegistryValue(kCurrentUser, "Software\\Zeb", "Name"));
  EXPECT_EQ(ReadRegistryText(kCurrentUser, "Software\\Zeb", "Name"), "");
  EXPECT_FALSE(ComputerName().empty());
}
