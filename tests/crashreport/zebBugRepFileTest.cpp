// The bug-report file: duplicates counted, the file trimmed to its newest
// whole reports, appends that stay appends, the writers' lock, and rewrites
// that a killed writer cannot tear.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "crashreport/zebBugRepFile.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebExceptObject.h"
#include "crashreport/zebStrings.h"
#include "tests/support/TempDir.h"

using namespace zeb;

namespace {

struct ReportFacts {
  std::string crc = "$0badf00d, $11112222, $33334444";
  std::string exceptionClass = "EAccessViolation";
  std::string version = "1.2.0.0";
  std::string executable = "crashprobe";
  std::string date = "2026-12-11, 05:00:00, 12ms";
  std::string execDate = "2026-12-01 10:00";
  std::string section = "main thread ($1a2b):\r\n0000000000401000 +010 crashprobe crashprobe.cpp 12 +2 crashWrite()";
  std::size_t padding = 0;  // extra section text, for size fixtures
};

// A report as the composition lays it out.
std::string Report(const ReportFacts& f) {
  std::vector<std::pair<std::string, std::string>> items = {{"date/time", f.date},
                                                            {"computer name", "builder"},
                                                            {"executable", f.executable},
                                                            {"exec. date/time", f.execDate},
                                                            {"version", f.version},
                                                            {"callstack crc", f.crc},
                                                            {"exception number", "1"}};
  if (!f.exceptionClass.empty()) items.emplace_back("exception class", f.exceptionClass);
  items.emplace_back("exception message", "Access violation.");
  std::size_t width = 0;
  for (const auto& [name, value] : items) width = std::max(width, name.size());
  std::string text;
  for (const auto& [name, value] : items) {
    if (!value.empty() || name == "version") {
      if (!text.empty()) text += "\r\n";
      text += PadText(name, -int(width + 1), ' ') + ": " + value;
    }
  }
  text += "\r\n\r\n" + f.section;
  if (f.padding) text += "\r\n" + std::string(f.padding, 'x');
  return text;
}

int CountOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
  return n;
}

std::string Apply(const std::string& old, const std::string& report, BugReportRules rules = {}) {
  bool plain = false;
  return ApplyBugReportRules(old, report, rules, plain);
}

std::string FileText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(zebBugRepFile, HeaderItemsAreReadOnlyFromHeaderLines) {
  ReportFacts f;
  f.section = "notes:\r\ncallstack crc   : $ffffffff, $ffffffff, $ffffffff\r\nversion: 9";
  const std::string r = Report(f);
  EXPECT_EQ(ReadHeaderItem(r, "callstack crc"), f.crc);
  EXPECT_EQ(ReadHeaderItem(r, "date/time"), f.date);  // the first line too
  EXPECT_EQ(ReadHeaderItem(r, "exception"), "");      // only a longer name begins so
  EXPECT_EQ(ReadHeaderItem(r, "count"), "");
  EXPECT_EQ(ReadHeaderItem(r, "notes"), "");          // a section title is no item

  std::string withCount = r;
  InsertHeaderItem(withCount, "count", "callstack crc", "2");
  const std::size_t crcLine = withCount.find("\r\ncallstack crc");
  const std::size_t countLine = withCount.find("\r\ncount");
  ASSERT_NE(countLine, std::string::npos);
  EXPECT_EQ(withCount.find(':', countLine) - countLine, withCount.find(':', crcLine) - crcLine);
  EXPECT_EQ(ReadHeaderItem(withCount, "count"), "2");
  EXPECT_GT(countLine, crcLine);
  EXPECT_LT(countLine, withCount.find("\r\nexception number"));
  std::string unchanged = r;
  InsertHeaderItem(unchanged, "count", "no such item", "2");
  EXPECT_EQ(unchanged, r);
}

TEST(zebBugRepFile, RepeatedCrashIsCountedAndMovedToTheEnd) {
  const std::string first = Report({});
  ReportFacts otherFacts;
  otherFacts.crc = "$12345678, $11112222, $33334444";
  const std::string other = Report(otherFacts);

  std::string file = Apply("", first);
  EXPECT_EQ(file, first + "\r\n\r\n");
  file = Apply(file, other);
  file = Apply(file, first);
  EXPECT_EQ(CountOf(file, "computer name"), 2);
  EXPECT_EQ(file.find(other), 0u);  // the older copy of the repeated crash is gone
  const std::size_t last = file.rfind("date/time");
  EXPECT_EQ(ReadHeaderItem(file.substr(last), "count"), "2");
  file = Apply(file, first);
  EXPECT_EQ(CountOf(file, "computer name"), 2);
  EXPECT_EQ(ReadHeaderItem(file.substr(file.rfind("date/time")), "count"), "3");
  EXPECT_EQ(file.find(other), 0u);
  EXPECT_TRUE(file.ends_with("\r\n\r\n"));
}

TEST(zebBugRepFile, WhatCountsAsTheSameCrash) {
  struct Case {
    const char* what;
    ReportFacts newer;
    BugReportRules rules;
    bool duplicate;
  };
  ReportFacts base;
  std::vector<Case> cases;
  auto add = [&](const char* what, auto change, BugReportRules rules, bool duplicate) {
    ReportFacts f = base;
    change(f);
    cases.push_back({what, f, rules, duplicate});
  };
  BugReportRules def0, def2, off;
  def0.duplicateDefinition = 0;
  def2.duplicateDefinition = 2;
  off.noDuplicates = false;
  add("same", [](ReportFacts&) {}, {}, true);
  add("other thread stacks, definition 1", [](ReportFacts& f) { f.crc = "$0badf00d, $11112222, $99999999"; }, {}, true);
  add("other thread stacks, definition 2", [](ReportFacts& f) { f.crc = "$0badf00d, $11112222, $99999999"; }, def2,
      false);
  add("other stack, definition 0", [](ReportFacts& f) { f.crc = "$0badf00d, $99999999, $99999999"; }, def0, true);
  add("other stack, definition 1", [](ReportFacts& f) { f.crc = "$0badf00d, $99999999, $99999999"; }, {}, false);
  add("other executable", [](ReportFacts& f) { f.executable = "other"; }, {}, false);
  add("other class", [](ReportFacts& f) { f.exceptionClass = "EOther"; }, {}, false);
  add("other version", [](ReportFacts& f) { f.version = "1.3.0.0"; }, {}, false);
  add("duplicates off", [](ReportFacts&) {}, off, false);
  add("checksums not ready", [](ReportFacts& f) { f.crc = "will be calculated soon"; }, {}, false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReportFacts olderFacts = base;
    if (std::string(c.what) == "checksums not ready") olderFacts.crc = c.newer.crc;
    const std::string file = Apply(Report(olderFacts) + "\r\n\r\n", Report(c.newer), c.rules);
    EXPECT_EQ(CountOf(file, "computer name"), c.duplicate ? 1 : 2);
  }

  // Without a version the file dates must match too.
  ReportFacts noVersion = base;
  noVersion.version = "";
  ReportFacts laterBuild = noVersion;
  laterBuild.execDate = "2026-12-02 10:00";
  EXPECT_EQ(CountOf(Apply(Report(noVersion) + "\r\n\r\n", Report(noVersion)), "computer name"), 1);
  EXPECT_EQ(CountOf(Apply(Report(noVersion) + "\r\n\r\n", Report(laterBuild)), "computer name"), 2);
}

TEST(zebBugRepFile, TrimmingKeepsTheNewestWholeReports) {
  std::string file;
  for (int i = 0; i < 12; ++i) {
    ReportFacts f;
    f.crc = "$" + PadText(HexText(std::uint64_t(i)), 8, '0') + ", $11112222, $33334444";
    f.date = "2026-12-11, 05:00:" + DecimalTextPadded(i, 2, '0') + ", 1ms";
    f.padding = 10000 - Report(f).size() - 4 - 2;
    file += Report(f) + "\r\n\r\n";
  }
  ASSERT_EQ(file.size(), 120000u);
  ReportFacts newest;
  newest.crc = "$aaaaaaaa, $11112222, $33334444";
  const std::string report = Report(newest);
  const std::string trimmed = Apply(file, report);
  const std::string kept = trimmed.substr(0, trimmed.size() - report.size() - 4);
  EXPECT_LT(kept.size(), 75000u);
  EXPECT_GE(kept.size() + 10000, 75000u);  // no more dropped than needed
  EXPECT_EQ(kept.rfind("date/time", 0), 0u);
  EXPECT_TRUE(file.ends_with(kept));

  BugReportRules unlimited;
  unlimited.sizeLimit = 0;
  EXPECT_EQ(Apply(file, report, unlimited).size(), file.size() + report.size() + 4);
  // One old report of 75,000 bytes or more: nothing can be dropped.
  ReportFacts big;
  big.padding = 90000;
  const std::string bigFile = Report(big) + "\r\n\r\n" + Report(newest) + "\r\n\r\n";
  EXPECT_TRUE(Apply(bigFile, Report(newest)).starts_with(bigFile.substr(0, 100)));

  BugReportRules replace;
  replace.append = false;
  EXPECT_EQ(Apply(file, report, replace), report + "\r\n\r\n");
}

TEST(zebBugRepFile, WritingTheFileAppendsLocksAndMarksTheReportSaved) {
  testsupport::TempDir dir;
  const auto path = dir / "sub" / "reports.txt";
  auto exception = NewExceptionObject({});
  const std::string first = Report({});
  const mode_t mask = ::umask(022);
  ASSERT_TRUE(WriteBugReportFile(path.string(), first, true, *exception));
  ::umask(mask);
  EXPECT_EQ(FileText(path), first + "\r\n\r\n");
  struct stat made {};
  ASSERT_EQ(::stat(path.c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 0777, 0600u) << "the reports are the user's alone";
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".lock")) << "the lock goes with its writer";
  EXPECT_FALSE(exception->ReportSaved());  // a named file is not the configured one

  // A plain append keeps the file (same inode, old bytes untouched).
  struct stat before {}, after {};
  ::stat(path.c_str(), &before);
  ReportFacts other;
  other.crc = "$12345678, $11112222, $33334444";
  ASSERT_TRUE(WriteBugReportFile(path.string(), Report(other), true, *exception));
  ::stat(path.c_str(), &after);
  EXPECT_EQ(before.st_ino, after.st_ino);
  // A removal rewrites it whole.
  ASSERT_TRUE(WriteBugReportFile(path.string(), first, true, *exception));
  EXPECT_EQ(CountOf(FileText(path), "computer name"), 2);

  // Another writer holds the lock: false, the file unchanged.
  const std::string held = FileText(path);
  const int lock = ::open((path.string() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(WriteBugReportFile(path.string(), Report(other), true, *exception));
  EXPECT_EQ(FileText(path), held);
  ::close(lock);
  EXPECT_TRUE(WriteBugReportFile(path.string(), Report(other), true, *exception));
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".lock"));

  // The configured file, without a dialog: the report counts as saved.
  exception->SetBugRepFile((dir / "%AppName%-bugs.txt").string());
  EXPECT_EQ(ResolveBugReportFileName(*exception), (dir / (WithoutExtension(ProgramFileName()) + "-bugs.txt")).string());
  ASSERT_TRUE(WriteBugReportFile("", first, true, *exception));
  EXPECT_TRUE(exception->ReportSaved());
  EXPECT_EQ(FileText(dir / (WithoutExtension(ProgramFileName()) + "-bugs.txt")), first + "\r\n\r\n");

  // With a dialog: its answer, or nothing when cancelled or without one.
  EXPECT_FALSE(WriteBugReportFile("", first, false, *exception));
  std::string askedFolder, askedName, askedTitle;
  const SaveDialogFunction cancelled = [&](const std::string& folder, const std::string& name,
                                           const std::string& title) {
    askedFolder = folder;
    askedName = name;
    askedTitle = title;
    return std::string();
  };
  EXPECT_FALSE(WriteBugReportFile("", first, false, *exception, cancelled));
  EXPECT_EQ(askedFolder, dir.path().string() + "/");
  EXPECT_EQ(askedName, WithoutExtension(ProgramFileName()) + "-bugs.txt");
  EXPECT_EQ(askedTitle, "save bug report");
  exception->SetBugRepFile("bugreport.txt");
  const auto chosen = dir / "chosen.txt";
  const SaveDialogFunction choosing = [&](const std::string& folder, const std::string&, const std::string&) {
    askedFolder = folder;
    return chosen.string();
  };
  EXPECT_TRUE(WriteBugReportFile("", first, false, *exception, choosing));
  EXPECT_EQ(askedFolder, DesktopFolder());  // a name without folder opens on the desktop
  EXPECT_EQ(FileText(chosen), first + "\r\n\r\n");
}

TEST(zebBugRepFile, KilledWriterLeavesAWholeFile) {
  testsupport::TempDir dir;
  const auto path = dir / "reports.txt";
  // Reports that each replace the one before (same crash) and grow the file
  // past its limit now and then: every write is a rewrite.
  auto exception = NewExceptionObject({});
  exception->SetBugRepFileSize(60000);
  std::vector<std::string> reports;
  for (int i = 0; i < 4; ++i) {
    ReportFacts f;
    f.crc = "$0000000" + std::to_string(i) + ", $11112222, $33334444";
    f.padding = 20000;
    reports.push_back(Report(f));
  }
  for (const std::string& r : reports) ASSERT_TRUE(WriteBugReportFile(path.string(), r, true, *exception));
  for (int round = 0; round < 5; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) WriteBugReportFile(path.string(), reports[std::size_t(i) % 4], true, *exception);
    }
    usleep(useconds_t(3000 + round * 2000));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const std::string text = FileText(path);
    SCOPED_TRACE(round);
    ASSERT_TRUE(text.rfind("date/time", 0) == 0);
    ASSERT_TRUE(text.ends_with("\r\n\r\n"));
    // Whole reports only: each padding run complete and followed by its separator.
    EXPECT_EQ(CountOf(text, std::string(20000, 'x') + "\r\n\r\n"), CountOf(text, "computer name"));
  }
}
