#include "core/kxFileSys.h"

#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "tests/core/PlainQueue.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

// A small tree mapped as D: for the whole test:
//   data\a\b.txt, data\a\deep\x.dat, data\c.dat, data\noext, data\Upper.DAT,
//   other\o.dat, top.txt
class FileFinderTest : public testing::Test {
protected:
  void SetUp() override {
    const fs::path d = dir_.path();
    fs::create_directories(d / "data" / "a" / "deep");
    fs::create_directories(d / "other");
    for (const char* file : {"data/a/b.txt", "data/a/deep/x.dat", "data/c.dat", "data/noext", "data/Upper.DAT",
                             "other/o.dat", "top.txt"})
      testsupport::writeFileText(d / file, "x");
    platform::setDriveTable({{'C', "/"}, {'D', d.string()}});
  }
  void TearDown() override { platform::setDriveTable({}); }

  testsupport::TempDir dir_;
};

}  // namespace

TEST(FileMask, MatchesAsTheFileSearchDoes) {
  struct Case {
    const char* name;
    const char* mask;
    bool matches;
  } const cases[] = {
      {"noext", "*.*", true},         {"a.b.c", "*.c", true},       {"ABC.txt", "*.TXT", true},
      {"x.dat", "*.da", false},       {"a", "?", true},             {"ab", "?", false},
      {"\xC3\xA9", "?", true},        // one character of two bytes
      {"\xC3\x84rger.dat", "\xC3\xA4*", true},  // "Ärger.dat" by "ä*": case ignored beyond ASCII
      {"abc", "a*c*", true},          {"abc", "", false},           {"abcabd", "*ab?", true},
      {"data", "data", true},         {"data2", "data", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " / " + c.mask);
    EXPECT_EQ(MatchesFileMask(c.name, c.mask), c.matches);
  }
}

TEST_F(FileFinderTest, ReportsWhatTheOptionsAskFor) {
  struct Case {
    const char* roots;
    bool files, folders, full, recursive, relative;
    Lines expected;  // files first, then folders
  } const cases[] = {
      // A drive is its root with "*.*"; breadth-first: data's files before a's.
      {"D:", true, true, true, true, false,
       {"D:\\top.txt", "D:\\data\\c.dat", "D:\\data\\noext", "D:\\data\\Upper.DAT", "D:\\other\\o.dat",
        "D:\\data\\a\\b.txt", "D:\\data\\a\\deep\\x.dat", "D:\\data", "D:\\other", "D:\\data\\a",
        "D:\\data\\a\\deep"}},
      // A mask of its own is kept for every sub-folder; case is ignored.
      {"D:\\data\\*.dat", true, false, true, true, false,
       {"D:\\data\\c.dat", "D:\\data\\Upper.DAT", "D:\\data\\a\\deep\\x.dat"}},
      {"d:\\DATA\\?.dat", true, false, true, false, false, {"d:\\DATA\\c.dat"}},
      // Roots in the given order; sub-folders queue behind the remaining roots.
      {"D:\\data\\a\\;D:\\other\\", true, false, true, true, false,
       {"D:\\data\\a\\b.txt", "D:\\other\\o.dat", "D:\\data\\a\\deep\\x.dat"}},
      // Not recursive: the roots' own entries, folders included when asked.
      {"D:\\data\\", true, true, true, false, false,
       {"D:\\data\\c.dat", "D:\\data\\noext", "D:\\data\\Upper.DAT", "D:\\data\\a"}},
      // A root without a trailing backslash is a folder and a mask.
      {"D:\\data", true, true, true, false, false, {"D:\\data"}},
      // Relative to the one root; with several roots, bare names.
      {"D:\\data\\*.*", true, false, false, true, true,
       {"c.dat", "noext", "Upper.DAT", "a\\b.txt", "a\\deep\\x.dat"}},
      {"D:\\data\\a\\;D:\\other\\", true, false, false, true, true, {"b.txt", "o.dat", "x.dat"}},
      {"D:\\data\\a\\", true, true, false, true, false, {"b.txt", "x.dat", "deep"}},
      // Empty parts and drives the table lacks give nothing.
      {";Q:\\;", true, true, true, true, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.roots);
    Lines found{"kept"};
    FindFiles(c.roots, &found, c.files, c.folders, c.full, c.recursive, c.relative);
    Lines expected{"kept"};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(testsupport::joinedLines(found), testsupport::joinedLines(expected));
  }
}

TEST_F(FileFinderTest, EventsFollowTheQueue) {
  TFileFinder finder;
  Lines events;
  std::int64_t files = -1, folders = -1;
  finder.FRoots = "D:\\data\\a\\;D:\\other\\";
  finder.OnFolderStart = [&](const std::string& entry) { events.push_back("start " + entry); };
  finder.OnFileFound = [&](const std::string& path, const TSearchRec& rec) {
    events.push_back("file " + path + " " + std::to_string(rec.Size()) + " " + std::to_string(rec.Attr()));
  };
  finder.OnFolderFound = [&](const std::string& path, const TSearchRec& rec) {
    events.push_back("folder " + path + " " + std::to_string(rec.Attr()));
  };
  finder.OnFinished = [&](std::int64_t f, std::int64_t d, std::chrono::steady_clock::duration) {
    files = f;
    folders = d;
  };
  Lines log;
  finder.OnLog = [&](const std::string& text) { log.push_back(text); };
  finder.Start();
  EXPECT_EQ(testsupport::joinedLines(events),
            "start D:\\data\\a\\*.*\n"
            "file D:\\data\\a\\b.txt 1 32\n"
            "folder D:\\data\\a\\deep 16\n"
            "start D:\\other\\*.*\n"
            "file D:\\other\\o.dat 1 32\n"
            "start D:\\data\\a\\deep\\*.*\n"
            "file D:\\data\\a\\deep\\x.dat 1 32\n");
  EXPECT_EQ(files, 3);
  EXPECT_EQ(folders, 1);
  EXPECT_FALSE(finder.Running());
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(log[0], "TFileFinder.Start.0");
  EXPECT_EQ(log[4], "TFileFinder.ScanFolder(D:\\data\\a\\*.*): file scan started");
  EXPECT_EQ(log[5], "TFileFinder.ScanFolder(D:\\data\\a\\*.*): file scan found b.txt");
}

TEST_F(FileFinderTest, StopDuringFilePassSkipsTheFolderPassAndCanStartAgain) {
  TFileFinder finder;
  Lines found;
  std::int64_t reported = -1;
  finder.FRoots = "D:\\data\\";
  finder.OnFileFound = [&](const std::string& path, const TSearchRec&) {
    found.push_back(path);
    if (path == "D:\\data\\c.dat") finder.Stop();
  };
  finder.OnFinished = [&](std::int64_t f, std::int64_t, std::chrono::steady_clock::duration) { reported = f; };
  finder.Start();
  EXPECT_EQ(testsupport::joinedLines(found), "D:\\data\\c.dat\n");
  EXPECT_EQ(reported, 1);
  EXPECT_FALSE(finder.Running());

  found.clear();
  finder.OnFileFound = [&](const std::string& path, const TSearchRec&) { found.push_back(path); };
  finder.Start();
  EXPECT_EQ(found.size(), 5u);
}

TEST_F(FileFinderTest, SymbolicLinksToFoldersAreShownButNotEntered) {
  fs::create_directory_symlink("..", dir_.path() / "data" / "up");
  fs::create_directory_symlink(".", dir_.path() / "other" / "self");
  Lines found;
  FindFiles("D:\\other\\;D:\\data\\", &found, true, true, true, true, false);
  EXPECT_EQ(testsupport::joinedLines(found),
            "D:\\other\\o.dat\nD:\\data\\c.dat\nD:\\data\\noext\nD:\\data\\Upper.DAT\nD:\\data\\a\\b.txt\n"
            "D:\\data\\a\\deep\\x.dat\n"
            "D:\\other\\self\nD:\\data\\a\nD:\\data\\up\nD:\\data\\a\\deep\n");
}

TEST_F(FileFinderTest, OnAThreadOfItsOwnEventsRunWhereTheSynchronizerRunsThem) {
  PlainQueue queue;
  TFileFinder finder;
  finder.SetSynchronizer(&queue);
  finder.FRoots = "D:\\other\\";
  const std::thread::id mainThread = std::this_thread::get_id();
  Lines found;
  bool onMain = true, inThread = true;
  std::atomic<bool> finished{false};
  finder.OnFileFound = [&](const std::string& path, const TSearchRec&) {
    found.push_back(path);
    onMain = onMain && std::this_thread::get_id() == mainThread;
    inThread = inThread && finder.InThread();
  };
  finder.OnFinished = [&](std::int64_t, std::int64_t, std::chrono::steady_clock::duration) { finished = true; };
  std::thread worker([&] { finder.Execute(); });
  ASSERT_TRUE(testsupport::waitUntil([&] {
    queue.runPending();
    return finished.load();
  }));
  worker.join();
  EXPECT_EQ(testsupport::joinedLines(found), "D:\\other\\o.dat\n");
  EXPECT_TRUE(onMain);
  EXPECT_TRUE(inThread);
  EXPECT_FALSE(finder.InThread());
}

TEST_F(FileFinderTest, StopsGoingDeeperAtTheDepthBound) {
  // A bind mount holding its own parent looks like this: folders without end.
  fs::path deep = dir_.path() / "deep";
  for (int level = 0; level < TFileFinder::kMaxDepth + 5; ++level) deep /= "n";
  fs::create_directories(deep);
  Lines found;
  FindFiles("D:\\deep\\", &found, false, true, true, true, false);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.size(), static_cast<std::size_t>(TFileFinder::kMaxDepth + 1));
}
