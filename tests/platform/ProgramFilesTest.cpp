// Where the program's own files are read and written, and that what the
// program makes for itself is the user's alone whatever the umask.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ProgramFiles.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

TEST(ProgramFiles, NewFoldersAndFilesArePrivateAndExistingOnesKeepTheirMode) {
  testsupport::ScopedUmask umask(022);
  testsupport::TempDir dir("hivescope-private");
  fs::create_directory(dir / "open");
  fs::permissions(dir / "open", fs::perms(0755), fs::perm_options::replace);

  ASSERT_EQ(platform::createPrivateFolders(dir / "open" / "a" / "b"), 0);
  EXPECT_EQ(testsupport::permissionBits(dir / "open"), 0755u);
  EXPECT_EQ(testsupport::permissionBits(dir / "open" / "a"), 0700u);
  EXPECT_EQ(testsupport::permissionBits(dir / "open" / "a" / "b"), 0700u);
  EXPECT_EQ(platform::createPrivateFolders(dir / "open" / "a" / "b"), 0);  // a second time: nothing to do

  ASSERT_EQ(platform::createPrivateFile(dir / "open" / "a" / "new"), 0);
  EXPECT_EQ(testsupport::permissionBits(dir / "open" / "a" / "new"), 0600u);

  std::ofstream(dir / "shared") << "kept";
  fs::permissions(dir / "shared", fs::perms(0644), fs::perm_options::replace);
  ASSERT_EQ(platform::createPrivateFile(dir / "shared"), 0);
  EXPECT_EQ(testsupport::permissionBits(dir / "shared"), 0644u);
  std::ifstream in(dir / "shared");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept");

  // A file where a folder should be is an error, not a silent success.
  EXPECT_EQ(platform::createPrivateFolders(dir / "shared" / "below"), ENOTDIR);
  EXPECT_NE(platform::createPrivateFile(dir / "missing" / "file"), 0);
}

TEST(ProgramFiles, ReadFromTheUsersFolderFirstThenBesideTheProgramWrittenToTheUsersFolder) {
  testsupport::TempDir data("hivescope-xdg");
  testsupport::ScopedEnv xdg("XDG_DATA_HOME", data.path().string());
  const fs::path user = data / "hivescope";
  EXPECT_EQ(platform::userDataFolder(), user);
  EXPECT_EQ(platform::programFileWritePlace(platform::kBookmarksFile), user / "Bookmarks.txt");

  const auto places = platform::programFileReadPlaces("Help/English.chm");
  ASSERT_EQ(places.size(), 3u);
  EXPECT_EQ(places[0], user / "Help/English.chm");
  EXPECT_EQ(places[1], platform::programFolder() / "Help/English.chm");
  EXPECT_EQ(places[2], platform::installedDataFolder() / "Help/English.chm");
  EXPECT_TRUE(fs::exists(platform::programFolder()));  // this test's own folder

  // Nothing anywhere: no file, no error.
  EXPECT_TRUE(platform::findProgramFile("no-such-file.ini").empty());
  // The program's folder holds the file; a copy the user's folder holds wins.
  const std::string name = "hivescope-program-files-test.txt";
  const fs::path beside = platform::programFolder() / name;
  std::ofstream(beside) << "beside";
  EXPECT_EQ(platform::findProgramFile(name), beside);
  ASSERT_EQ(platform::createPrivateFolders(user), 0);
  std::ofstream(user / name) << "user";
  EXPECT_EQ(platform::findProgramFile(name), user / name);
  fs::remove(beside);

  // Without XDG_DATA_HOME (or with a relative one) the folder is below $HOME.
  testsupport::ScopedEnv relative("XDG_DATA_HOME", "relative/path");
  testsupport::ScopedEnv home("HOME", data.path().string());
  EXPECT_EQ(platform::userDataFolder(), data / ".local/share/hivescope");
}

}  // namespace
