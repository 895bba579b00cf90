#include "core/kxPathSolve.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "core/bwlFilesPathsWinAPI.h"
#include "core/bwlRegHives.h"
#include "core/bwlRegTools.h"
#include "core/bwlRegistryHistorySQLite.h"
#include "core/kxStrings.h"
#include "platform/Paths.h"
#include "platform/ShellFolders.h"
#include "platform/Text.h"
#include "tests/support/Files.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace fs = std::filesystem;

namespace {

// A fresh registry whose user folders lie below a folder named like the
// ones that need escaping in a pattern.
class PathPlaceholdersTest : public testing::Test {
protected:
  void SetUp() override {
    platform::setDriveTable({{'C', "/"}});
    fs::create_directories(data_);
    RebuildPathPlaceholders();
  }
  void TearDown() override { platform::setDriveTable({}); }

  testsupport::TempDir dir_;
  const fs::path data_ = dir_ / "Program Files (x86)" / "data.d";
  testsupport::ScopedEnv xdg_{"XDG_DATA_HOME", data_.string()};
  testsupport::TempRegistry registry_;
};

}  // namespace

TEST(PathPlaceholders, NormalizeFolderPath) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\a\\\\b\\\\\\\\c\\", "C:\\a\\b\\c"}, {"C:\\", "C:"}, {"C:\\a\\\\", "C:\\a"}, {"", ""}, {"a", "a"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeFolderPath(in), out) << in;
}

TEST(PathPlaceholders, ATokenAddressesItsFirstLine) {
  PlaceholderList list;
  list.Append("<$A>", "one");
  list.Append("<$A>", "two");
  EXPECT_EQ(list.Value("<$a>"), "one");
  list.SetValue("<$A>", "");  // removes the first line
  EXPECT_EQ(list.Value("<$A>"), "two");
  list.SetValue("<$B>", "b");
  list.SetValue("<$C>", "");  // nothing to remove, nothing added
  ASSERT_EQ(list.Lines().size(), 2u);
  EXPECT_EQ(list.Lines()[1].second, "b");
}

TEST_F(PathPlaceholdersTest, ExpandsToThisComputersFoldersInWindowsForm) {
  const std::string appData = platform::linuxToWindowsPath(data_);
  const char* path = std::getenv("PATH");
  std::string firstPath = path ? std::string(path).substr(0, std::string(path).find(':')) : std::string();
  if (!firstPath.empty() && firstPath.back() == '/') firstPath.pop_back();
  const std::string escaped = EscapeRegExprChars(appData);
  struct Case {
    std::string text, expanded;
  } const cases[] = {
      {"<$APPDATA>\\Brantwell\\Hivescope\\history.sqlite", appData + "\\Brantwell\\Hivescope\\history.sqlite"},
      {"<$appdata>\\x", "<$appdata>\\x"},
      {"<$APPDATA>;<$appdata>", appData + ";" + appData},
      {"<regexpr>^<$APPDATA>\\\\x", "<regexpr>^" + escaped + "\\\\x"},
      {"name=<regexpr><$APPDATA>", "name=<regexpr>" + escaped},
      {"<$SYSDRIVE>", "C:"},
      {"<$PATH>", firstPath.empty() ? "<$PATH>" : platform::linuxToWindowsPath(firstPath)},
      {"<$TEMP>\\x", "<$TEMP>\\x"},
      {"<$FIXEDDRIVES>", "<$FIXEDDRIVES>"},
      {"<$NOSUCHFOLDER>", "<$NOSUCHFOLDER>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ExpandPathPlaceholders(c.text), c.expanded);
  }
  // The history keeps its file where it always was.
  EXPECT_EQ(fs::path(TRegistryChangeHistory::DefaultFileName()),
            fs::path(MySpecialDir(platform::CSIDL_APPDATA)) / "Brantwell" / "Hivescope" / "history.sqlite");
  EXPECT_EQ(fs::path(MySpecialDir(platform::CSIDL_APPDATA)), data_);
}

TEST_F(PathPlaceholdersTest, AlternativesCombineEveryFolderOfEveryToken) {
  PathPlaceholderAlternatives().Add("<$T1>", "b");
  PathPlaceholderAlternatives().Add("<$T1>", "a");
  PathPlaceholderAlternatives().Add("<$T1>", "A");  // the same folder
  PathPlaceholderAlternatives().Add("<$T2>", "C:\\x (1)");
  std::vector<std::string> list;
  ExpandPlaceholderAlternatives("<$T1>\\<$T2>\\<$t1>", list);
  std::sort(list.begin(), list.end());
  EXPECT_EQ(testsupport::joinedLines(list), "a\\C:\\x (1)\\<$t1>\nb\\C:\\x (1)\\<$t1>\n");
  list.clear();
  ExpandPlaceholderAlternatives("<regexpr><$T2>", list);
  EXPECT_EQ(testsupport::joinedLines(list), "<regexpr>C:\\\\x \\(1\\)\n");
  // The fixed drives are alternatives only.
  const std::vector<std::string>* drives = PathPlaceholderAlternatives().Folders("<$FIXEDDRIVES>");
  ASSERT_NE(drives, nullptr);
  EXPECT_EQ(testsupport::joinedLines(*drives), "C:\n");
}

TEST_F(PathPlaceholdersTest, UserHivesAddTheirFolders) {
  AddUserHivePlaceholders();
  const std::vector<std::string>* appData = PathPlaceholderAlternatives().Folders("<$APPDATA>");
  ASSERT_NE(appData, nullptr);
  EXPECT_NE(std::find(appData->begin(), appData->end(), platform::linuxToWindowsPath(data_)), appData->end());
  const std::vector<std::string>* desktops = PathPlaceholderAlternatives().Folders("<$DESKTOP>");
  const std::vector<std::string>* profiles = PathPlaceholderAlternatives().Folders("<$PROFILE>");
  ASSERT_TRUE(desktops && profiles && !desktops->empty());
  for (const std::string& desktop : *desktops) {
    SCOPED_TRACE(desktop);
    const std::string parent = desktop.substr(0, desktop.rfind('\\'));
    EXPECT_NE(std::find(profiles->begin(), profiles->end(), parent), profiles->end());
  }
}

TEST_F(PathPlaceholdersTest, MountedInstallationsAddTheirFolders) {
  const fs::path minimal = testsupport::testdataFile("hives/crafted/minimal");
  if (!fs::exists(minimal)) GTEST_SKIP() << "test data hives/crafted/minimal is absent";
  fs::copy_file(minimal, dir_ / "software");
  fs::permissions(dir_ / "software", fs::perms::owner_write, fs::perm_options::add);  // the test data is read-only
  ASSERT_EQ(LoadHive(platform::HKEY_LOCAL_MACHINE, u"PE_D_SOFTWARE", platform::ansiToWide((dir_ / "software").string())),
            platform::ERROR_SUCCESS);
  const auto set = [](const std::string& key, const std::string& name, const std::string& text) {
    ASSERT_TRUE(WriteRegistryString(platform::HKEY_LOCAL_MACHINE, "\\PE_D_SOFTWARE\\Microsoft\\" + key, name,
                                    Bitness::x64, text));
  };
  set("Windows NT\\CurrentVersion", "SystemRoot", "D:\\WINDOWS");
  set("Windows\\CurrentVersion\\Explorer\\Shell Folders", "Common AppData",
      "D:\\Documents and Settings\\All Users\\Application Data\\");
  set("Windows\\CurrentVersion", "ProgramFilesDir", "D:\\Program Files");

  AddMountedInstallationPlaceholders();
  const auto has = [](const char* tokenText, const std::string& folder) {
    const std::vector<std::string>* folders = PathPlaceholderAlternatives().Folders(tokenText);
    return folders && std::find(folders->begin(), folders->end(), folder) != folders->end();
  };
  EXPECT_TRUE(has("<$WINDIR>", "D:\\WINDOWS"));
  EXPECT_TRUE(has("<$SYSDRIVE>", "D:"));
  EXPECT_TRUE(has("<$COMMONAPPDATA>", "D:\\Documents and Settings\\All Users\\Application Data"));
  EXPECT_TRUE(has("<$PROGRAMFILES>", "D:\\Program Files"));
  // This computer's table is not changed by it.
  EXPECT_EQ(ExpandPathPlaceholders("<$SYSDRIVE>"), "C:");
  EXPECT_EQ(UnloadHive(platform::HKEY_LOCAL_MACHINE, u"PE_D_SOFTWARE", u""), platform::ERROR_SUCCESS);
  testsupport::setRestorePrivilege(false);
}
