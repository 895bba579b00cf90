#include "platform/AtomicFile.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using platform::AtomicFile;

namespace {

void writePlain(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

std::size_t entries(const fs::path& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

}  // namespace

TEST(AtomicFile, NewFileGetsItsBytesAndTheUmaskedMode) {
  testsupport::TempDir dir;
  const mode_t mask = ::umask(022);
  AtomicFile f;
  ASSERT_EQ(f.open(dir / "new.reg"), 0);
  ASSERT_EQ(f.write("abc", 3), 0);
  ASSERT_EQ(f.write("def", 3), 0);
  EXPECT_FALSE(fs::exists(dir / "new.reg")) << "the target appears only on commit";
  ASSERT_EQ(f.commit(), 0);
  ::umask(mask);
  EXPECT_EQ(testsupport::readFileText(dir / "new.reg"), "abcdef");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "new.reg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(entries(dir.path()), 1u) << "no temporary file is left";
}

TEST(AtomicFile, ReplacingKeepsThePermissionsOfTheOldFile) {
  testsupport::TempDir dir;
  writePlain(dir / "t", "old");
  fs::permissions(dir / "t", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                  fs::perm_options::replace);
  const std::string text = "new content";
  ASSERT_EQ(platform::writeFileAtomically(dir / "t", std::as_bytes(std::span(text))), 0);
  EXPECT_EQ(testsupport::readFileText(dir / "t"), text);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "t").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(AtomicFile, AnUncommittedOrFailedWriteLeavesTheOldFileWhole) {
  testsupport::TempDir dir;
  writePlain(dir / "t", "old");
  {
    AtomicFile f;
    ASSERT_EQ(f.open(dir / "t"), 0);
    ASSERT_EQ(f.write("partial", 7), 0);
  }  // dropped without commit, as when an export fails half way
  EXPECT_EQ(testsupport::readFileText(dir / "t"), "old");
  EXPECT_EQ(entries(dir.path()), 1u);

  AtomicFile g;
  ASSERT_EQ(g.open(dir / "t"), 0);
  g.discard();
  EXPECT_EQ(g.write("x", 1), EBADF);
  EXPECT_NE(g.commit(), 0);
  EXPECT_EQ(testsupport::readFileText(dir / "t"), "old");
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, AMissingFolderIsReportedAtOpen) {
  testsupport::TempDir dir;
  AtomicFile f;
  EXPECT_EQ(f.open(dir / "no" / "such" / "file"), ENOENT);
  EXPECT_NE(f.commit(), 0);
}

TEST(AtomicFile, OnlyTheTemporaryFilesOfDeadWritersAreSwept) {
  testsupport::TempDir dir;
  const fs::path target = dir / "t";
  writePlain(target, "old");
  // A writer killed half way leaves its temporary file behind.
  const pid_t dead = ::fork();
  ASSERT_GE(dead, 0);
  if (dead == 0) {
    AtomicFile f;
    if (f.open(target) != 0 || f.write("partial", 7) != 0) ::_exit(1);
    ::raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(dead, &status, 0), dead);
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  const std::string deadPrefix = platform::temporaryNamePrefix(target, dead);
  fs::path leftover;
  for (const auto& e : fs::directory_iterator(dir.path()))
    if (e.path().filename().string().starts_with(deadPrefix)) leftover = e.path();
  ASSERT_FALSE(leftover.empty()) << "the killed writer left nothing";

  // This process writes too, and is alive.
  AtomicFile live;
  ASSERT_EQ(live.open(target), 0);
  ASSERT_EQ(live.write("new", 3), 0);

  // Names that look alike but are not a dead writer's temporary file of `t`.
  const std::string d = std::to_string(dead);
  const char* const kept[] = {".other.tmp{}-0-1", ".t.tmp{}-0", ".t.tmp{}-0-1~", ".t.tmp{}--1", ".t.tmp-{}-0-1",
                              ".t.tmp5-x.tmp{}-0-1", "t.tmp{}-0-1"};
  std::vector<fs::path> keptPaths;
  for (const char* pattern : kept) {
    std::string name = pattern;
    name.replace(name.find("{}"), 2, d);
    keptPaths.push_back(dir / name);
    writePlain(keptPaths.back(), "x");
  }
  keptPaths.push_back(dir / (deadPrefix + "7-7"));  // a folder, not a file we wrote
  fs::create_directory(keptPaths.back());

  EXPECT_EQ(platform::removeStaleTemporaries(target), 1u);
  EXPECT_FALSE(fs::exists(leftover));
  for (const fs::path& p : keptPaths) EXPECT_TRUE(fs::exists(p)) << p.filename();
  EXPECT_EQ(testsupport::readFileText(target), "old");
  ASSERT_EQ(live.commit(), 0) << "a live writer's file survives";
  EXPECT_EQ(testsupport::readFileText(target), "new");
}

// A new file only: whatever lies at the name (a file, a link, even one that
// leads nowhere) stays as it is.
TEST(AtomicFile, ACommitOfANewFileNeverReplacesAnything) {
  testsupport::TempDir dir;
  writePlain(dir / "file", "old");
  fs::create_symlink(dir / "file", dir / "link");
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  for (const char* name : {"file", "link", "dangling"}) {
    SCOPED_TRACE(name);
    AtomicFile f;
    ASSERT_EQ(f.open(dir / name), 0);
    ASSERT_EQ(f.write("new", 3), 0);
    EXPECT_EQ(f.commitNew(), EEXIST);
  }
  EXPECT_EQ(testsupport::readFileText(dir / "file"), "old");
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  EXPECT_EQ(entries(dir.path()), 3u) << "no temporary file is left";
  AtomicFile f;
  ASSERT_EQ(f.open(dir / "new"), 0);
  ASSERT_EQ(f.write("new", 3), 0);
  ASSERT_EQ(f.commitNew(), 0);
  EXPECT_EQ(testsupport::readFileText(dir / "new"), "new");
  EXPECT_EQ(entries(dir.path()), 4u);
}

// A replacement keeps the owner and group of the file it replaces: a user's
// file written by the superuser stays the user's.
TEST(AtomicFile, ReplacingKeepsTheOwnerAndGroupOfTheOldFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file to another user";
  testsupport::TempDir dir;
  writePlain(dir / "t", "old");
  ASSERT_EQ(::chown((dir / "t").c_str(), 65534, 65533), 0);
  ASSERT_EQ(::chmod((dir / "t").c_str(), 02640), 0);
  const std::string text = "new";
  ASSERT_EQ(platform::writeFileAtomically(dir / "t", std::as_bytes(std::span(text))), 0);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "t").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65533u);
  EXPECT_EQ(st.st_mode & 07777, 02640u) << "the set-group-id bit survives the change of owner";
}

// A save may replace only a file someone may write, whoever saves: the
// superuser does not override a file's read-only mode.
TEST(AtomicFile, ReplaceableOnlyWhatMayBeWritten) {
  testsupport::TempDir dir;
  writePlain(dir / "t", "x");
  const struct {
    unsigned mode;
    int want;
  } cases[] = {{0644, 0}, {0600, 0}, {0444, EACCES}, {0400, EACCES}, {0000, EACCES}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_EQ(::chmod((dir / "t").c_str(), c.mode), 0);
    EXPECT_EQ(platform::checkReplaceable(dir / "t"), c.want);
  }
  EXPECT_EQ(platform::checkReplaceable(dir / "missing"), ENOENT);
}

// Per-user folders in a place others may write: made 0700, and used only
// when they are this user's own, real folders closed to others.
TEST(AtomicFile, APrivateFolderIsOnlyTheUsersOwn) {
  testsupport::TempDir dir;
  testsupport::ScopedUmask umask(022);
  EXPECT_EQ(platform::usePrivateFolder(dir / "new"), 0);
  EXPECT_EQ(testsupport::permissionBits(dir / "new"), 0700u);
  fs::create_directory(dir / "readable");
  ::chmod((dir / "readable").c_str(), 0755);
  EXPECT_EQ(platform::usePrivateFolder(dir / "readable"), 0);
  EXPECT_EQ(testsupport::permissionBits(dir / "readable"), 0700u) << "closed";
  fs::create_directory(dir / "open");
  ::chmod((dir / "open").c_str(), 0777);
  EXPECT_EQ(platform::usePrivateFolder(dir / "open"), EPERM) << "others may have put things there";
  fs::create_directory_symlink(dir / "new", dir / "link");
  EXPECT_EQ(platform::usePrivateFolder(dir / "link"), ENOTDIR);
  writePlain(dir / "file", "x");
  EXPECT_EQ(platform::usePrivateFolder(dir / "file"), ENOTDIR);
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a folder of another user";
  fs::create_directory(dir / "theirs");
  ::chmod((dir / "theirs").c_str(), 0700);
  ASSERT_EQ(::chown((dir / "theirs").c_str(), 65534, 65534), 0);
  EXPECT_EQ(platform::usePrivateFolder(dir / "theirs"), EPERM);
}
