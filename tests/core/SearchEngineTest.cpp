#include "core/SearchEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/kxDate.h"
#include "core/kxNTSTuff.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/hive/HiveFile.h"
#include "tests/support/PinnedZone.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"

using namespace platform;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Records everything the engine reports; can ask to stop at the n-th key.
class RecordingSink : public SearchSink {
public:
  void AddResult(TSearchListItem item) override { rows.push_back(std::move(item)); }
  void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }
  void ProcessMessages() override { ++messageRounds; }
  bool StopRequested() override { return stopAt > 0 && ++stopAsked >= stopAt; }
  void SearchFailed(const std::string& message) override { failures.push_back(message); }

  // "image path :value =data", the fields that tell rows apart.
  std::vector<std::string> described() const {
    std::vector<std::string> out;
    for (const auto& r : rows) {
      std::string d = std::to_string(r.ImageIndex) + " " + r.KeyPath;
      if (!r.ValueName.empty()) d += " :" + r.ValueName;
      if (!r.DataText.empty()) d += " =" + r.DataText;
      out.push_back(d);
    }
    return out;
  }

  std::vector<TSearchListItem> rows;
  std::vector<std::string> statusTexts;
  std::vector<std::string> failures;
  int messageRounds = 0;
  int stopAt = 0;  // 0: never
  int stopAsked = 0;
};

std::u16string widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

hive::FileTime fileTimeOfUnix(std::int64_t seconds) {
  return static_cast<hive::FileTime>(seconds + 11644473600LL) * 10000000ULL;
}

Bytes dword(std::uint32_t v) { return {Bytes::value_type(v), Bytes::value_type(v >> 8), Bytes::value_type(v >> 16),
                                       Bytes::value_type(v >> 24)}; }

// UTF-16LE with its terminator, as strings are stored.
Bytes utf16(const std::string& text) {
  Bytes out;
  for (char c : text) out.insert(out.end(), {static_cast<std::uint8_t>(c), 0});
  out.insert(out.end(), {0, 0});
  return out;
}

// A test hive built cell by cell and mounted as HKEY_LOCAL_MACHINE\<name>,
// so key times and names the registry calls cannot make (a time of 0, a NUL
// in a name) are possible. Paths are relative to the hive root, "\"-separated.
class SearchEngine : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::setRestorePrivilege(true));
    auto made = hive::HiveFile::createEmpty();
    ASSERT_TRUE(made);
    hive_ = std::move(*made);
  }
  void TearDown() override {
    // Refused while any handle into the hive is open: the search leaves none.
    for (const auto& name : mounted_) EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, name.c_str()), ERROR_SUCCESS);
    testsupport::setRestorePrivilege(false);
  }

  hive::KeyId key(const std::string& path) {
    hive::KeyId at = hive_->root();
    std::size_t from = 0;
    while (from < path.size()) {
      std::size_t end = path.find('\\', from);
      if (end == std::string::npos) end = path.size();
      const std::u16string name = widen(path.substr(from, end - from));
      auto found = hive_->findSubkey(at, name);
      if (found) {
        at = *found;
      } else {
        auto created = hive_->createKey(at, name);
        EXPECT_TRUE(created) << path;
        at = created ? *created : at;
      }
      from = end + 1;
    }
    return at;
  }
  void value(const std::string& path, const std::string& name, std::uint32_t type, const Bytes& data) {
    EXPECT_TRUE(hive_->setValue(key(path), widen(name), type, data)) << path << " " << name;
  }
  // Set last, after the key's children and values are made.
  void written(const std::string& path, hive::FileTime time) {
    EXPECT_TRUE(hive_->setLastWritten(key(path), time)) << path;
  }

  void mount(const std::string& name) {
    const auto file = dir_ / name;
    ASSERT_TRUE(hive_->saveAs(file));
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, name.c_str(), file.c_str()), ERROR_SUCCESS);
    mounted_.push_back(name);
  }

  static RecordingSink search(const std::string& startPath, const std::string& term, const SearchOptions& options,
                              int stopAt = 0, TRegistryView view = rvDefault) {
    RecordingSink sink;
    sink.stopAt = stopAt;
    RunSearch(sink, options, HKEY_LOCAL_MACHINE, startPath, view, 0, term);
    return sink;
  }

  testsupport::TempRegistry registry_;
  testsupport::TempDir dir_;
  std::unique_ptr<hive::HiveFile> hive_;
  std::vector<std::string> mounted_;
};

// The key's value names, then its data, then its sub-key names; then the
// sub-keys, the last one first.
TEST_F(SearchEngine, ReportsKeysValueNamesAndDataDepthFirst) {
  value("", "hitCount", 4, dword(42));
  value("", "note", 1, utf16("no hit"));
  value("Ahit", "list", 7, utf16(std::string("x\0hit\0", 6)));
  value("Ahit\\deep", "hitless", 3, Bytes{1});
  key("Bhit");
  key("Zed\\hitZ");
  mount("HsSearch");

  SearchOptions options;
  options.CompareMode = cmpBoolean;  // one term for names and one for a number's text
  const RecordingSink sink = search("\\HsSearch", "hit OR (42)", options);

  const std::vector<std::string> expected = {
      "1 \\HsSearch\\ :hitCount",
      "2 \\HsSearch\\ :hitCount =0x0000002A (42)",
      "3 \\HsSearch\\ :note =no hit",
      "0 \\HsSearch\\Ahit",
      "0 \\HsSearch\\Bhit",
      "0 \\HsSearch\\Zed\\hitZ",
      "3 \\HsSearch\\Ahit\\ :list =x hit  ",
      "1 \\HsSearch\\Ahit\\deep\\ :hitless",
  };
  EXPECT_EQ(sink.described(), expected);
  EXPECT_TRUE(sink.failures.empty());

  const TSearchListItem& key = sink.rows[3];
  EXPECT_EQ(key.Caption, "HKEY_LOCAL_MACHINE\\HsSearch\\Ahit");
  EXPECT_EQ(key.SubItem1, "");
  const TSearchListItem& data = sink.rows[2];
  EXPECT_EQ(data.Caption, "HKEY_LOCAL_MACHINE\\HsSearch\\");
  EXPECT_EQ(data.SubItem1, "note");
  EXPECT_EQ(data.SubItem2, "no hit");
  EXPECT_EQ(data.DataType, rdString);
  EXPECT_EQ(sink.rows[1].DataType, rdInteger);
  for (const auto& row : sink.rows) {
    SCOPED_TRACE(row.KeyPath + row.ValueName);
    EXPECT_TRUE(row.Checked);
    EXPECT_FALSE(row.Failed);
    EXPECT_EQ(row.View, rvDefault);
    EXPECT_EQ(row.RootKey, HKEY_LOCAL_MACHINE);
  }
  ASSERT_FALSE(sink.statusTexts.empty());
  EXPECT_EQ(sink.statusTexts.front(), "Searching HKEY_LOCAL_MACHINE\\HsSearch\\");
  EXPECT_GT(sink.messageRounds, 0);
}

// The data-type boxes pass their kinds; kinds in no box always pass; high
// speed compares every kind. "*" as a wildcard matches every text, the empty
// text of an unknown kind too.
TEST_F(SearchEngine, DataTypeFilter) {
  value("", "sz", 1, utf16("text"));
  value("", "multi", 7, utf16(std::string("a\0", 2)));
  value("", "dw", 4, dword(7));
  value("", "badDw", 4, Bytes(8, 1));  // too long for its kind: cannot be read, skipped alone
  value("", "qw", 11, Bytes(8, 1));
  value("", "bin", 3, Bytes{1, 2});
  value("", "none", 0, Bytes{9});
  value("", "odd", 0x20, Bytes{1, 2});
  mount("HsFilter");

  struct Case {
    int line;
    bool strings, numerics, binary, highSpeed;
    std::vector<std::string> names;  // in value-list order
  };
  const Case cases[] = {
      {__LINE__, true, false, false, false, {"sz", "multi", "none", "odd"}},
      {__LINE__, false, true, false, false, {"dw", "qw", "none", "odd"}},
      {__LINE__, false, false, true, false, {"bin", "none", "odd"}},
      {__LINE__, false, false, false, false, {"none", "odd"}},
      {__LINE__, false, false, false, true, {"sz", "multi", "dw", "qw", "bin", "none", "odd"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    SearchOptions options;
    options.Keys = options.Values = false;
    options.Strings = c.strings;
    options.Numerics = c.numerics;
    options.Binary = c.binary;
    options.HighSpeed = c.highSpeed;
    options.CompareMode = cmpWildcard;
    const RecordingSink sink = search("\\HsFilter", "*", options);
    std::vector<std::string> names;
    for (const auto& row : sink.rows) names.push_back(row.ValueName);
    EXPECT_EQ(names, c.names);
  }

  // What each row keeps of its kind, high speed or not.
  SearchOptions all;
  all.Keys = all.Values = false;
  all.Binary = true;
  all.CompareMode = cmpWildcard;
  for (bool highSpeed : {false, true}) {
    SCOPED_TRACE(highSpeed);
    all.HighSpeed = highSpeed;
    const RecordingSink sink = search("\\HsFilter", "*", all);
    ASSERT_EQ(sink.rows.size(), 7u);
    const TRegDataType kinds[] = {rdString, rdMultiString, rdInteger, rdInt64, rdBinary, rdNone, rdUnknown};
    const TSearchImage images[] = {siStringData, siStringData, siData, siData, siData, siData, siData};
    for (std::size_t i = 0; i < 7; ++i) {
      EXPECT_EQ(sink.rows[i].DataType, kinds[i]) << sink.rows[i].ValueName;
      EXPECT_EQ(sink.rows[i].ImageIndex, images[i]) << sink.rows[i].ValueName;
    }
  }
}

// Key results only, bounds inclusive and never swapped; a time of 0 passes
// every mode; a key whose time cannot be read fails every mode.
TEST_F(SearchEngine, DateTestOfKeyResults) {
  const testsupport::PinnedZone zone("UTC");
  const std::int64_t t2000 = 946728000;   // 2000-01-01 12:00:00
  const std::int64_t t2005 = 1104580800;  // 2005-01-01 12:00:00
  const std::int64_t t2010 = 1262347200;  // 2010-01-01 12:00:00
  value("", "kvalue", 4, dword(1));       // values are not filtered by date
  key("k2000");
  key("k2005");
  key("k2010");
  key("kZero");
  // Listed as "kGone" (names are cut at their NUL), which does not open.
  key(std::string("kGone\0tail", 10));
  written("k2000", fileTimeOfUnix(t2000));
  written("k2005", fileTimeOfUnix(t2005));
  written("k2010", fileTimeOfUnix(t2010));
  written("kZero", 0);
  mount("HsDates");

  const double a2000 = UnixTimeToDateTime(static_cast<std::int32_t>(t2000));
  const double a2010 = UnixTimeToDateTime(static_cast<std::int32_t>(t2010));
  const double day = 1.0;
  struct Case {
    int line;
    TSearchDateMode mode;
    double a, b;
    std::vector<std::string> keys;
  };
  const Case cases[] = {
      {__LINE__, sdAnyDate, 0, 0, {"kGone", "k2000", "k2005", "k2010", "kZero"}},
      {__LINE__, sdNewerThan, a2000, 0, {"k2000", "k2005", "k2010", "kZero"}},
      {__LINE__, sdNewerThan, a2000 + 1.0 / 86400, 0, {"k2005", "k2010", "kZero"}},
      {__LINE__, sdOlderThan, a2000, 0, {"k2000", "kZero"}},
      {__LINE__, sdBetween, a2000, a2010, {"k2000", "k2005", "k2010", "kZero"}},
      {__LINE__, sdBetween, a2010, a2000, {"kZero"}},
      {__LINE__, sdOutsideOf, a2000 + day, a2010 - day, {"k2000", "k2010", "kZero"}},
      {__LINE__, sdOutsideOf, a2010, a2000, {"k2000", "k2005", "k2010", "kZero"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    SearchOptions options;
    options.DateMode = c.mode;
    options.Date1 = c.a;
    options.Date2 = c.b;
    const RecordingSink sink = search("\\HsDates", "k", options);
    std::vector<std::string> keys;
    for (const auto& row : sink.rows) {
      if (row.ImageIndex == siKey) keys.push_back(row.KeyPath.substr(std::string("\\HsDates\\").size()));
    }
    std::sort(keys.begin(), keys.end());
    std::vector<std::string> expected = c.keys;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(keys, expected);
    ASSERT_FALSE(sink.rows.empty());
    EXPECT_EQ(sink.rows.front().ValueName, "kvalue");
  }
}

TEST_F(SearchEngine, MissingStartKeyAndNulNamedKey) {
  key(std::string("\0", 1) + "\\under");
  key("sibling");
  mount("HsEdge");
  SearchOptions options;
  options.CompareMode = cmpWildcard;

  const RecordingSink missing = search("\\HsEdge\\nothere", "*", options);
  EXPECT_TRUE(missing.rows.empty());
  EXPECT_TRUE(missing.failures.empty());

  // The NUL-named key is neither a result nor searched below.
  const RecordingSink sink = search("\\HsEdge", "*", options);
  EXPECT_EQ(sink.described(), std::vector<std::string>{"0 \\HsEdge\\sibling"});
}

// Under WOW64 the machine's software keys are searched once per view, and
// their "Wow6432Node" only through the 32-bit view.
TEST_F(SearchEngine, SoftwareKeysOncePerView) {
  ASSERT_TRUE(IsWow64());  // the program's default
  TMyRegistry reg32;
  reg32.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg32.CreateKey("\\SOFTWARE\\QzxOnly32"));
  TMyRegistry64 reg64;
  reg64.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg64.CreateKey("\\SOFTWARE\\QzxOnly64"));
  ASSERT_TRUE(reg64.CreateKey("\\SOFTWARE\\QzxDeep\\Wow6432Node\\QzxBelow"));
  ASSERT_TRUE(reg64.KeyExists("\\SOFTWARE\\Wow6432Node\\QzxOnly32"));

  SearchOptions options;
  options.Values = options.Data = false;
  const RecordingSink sink = search("\\", "Qzx", options);
  std::vector<std::string> got = sink.described();
  std::sort(got.begin(), got.end());
  const std::vector<std::string> expected = {
      "4 \\SOFTWARE\\QzxOnly32",
      "5 \\SOFTWARE\\QzxDeep",
      "5 \\SOFTWARE\\QzxDeep\\Wow6432Node\\QzxBelow",
      "5 \\SOFTWARE\\QzxOnly64",
  };
  EXPECT_EQ(got, expected);
  for (const auto& row : sink.rows) EXPECT_EQ(row.View, row.ImageIndex == siKey32 ? rv32Bit : rv64Bit);
}

TEST_F(SearchEngine, StopHighSpeedAndStatus) {
  for (const char* k : {"a", "b", "c", "d", "e"}) value(k, std::string("hit_") + k, 4, dword(1));
  mount("HsStop");
  SearchOptions options;
  const RecordingSink whole = search("\\HsStop", "hit", options);
  ASSERT_EQ(whole.rows.size(), 5u);

  // Asked at each key taken from the list: the third ask stops after two keys
  // ("\HsStop\" itself, then "e"), keeping the row found.
  const RecordingSink stopped = search("\\HsStop", "hit", options, 3);
  EXPECT_EQ(stopped.described(), std::vector<std::string>{whole.described().front()});

  options.HighSpeed = true;
  const RecordingSink fast = search("\\HsStop", "hit", options);
  EXPECT_EQ(fast.described(), whole.described());
  EXPECT_EQ(fast.messageRounds, 0);
  EXPECT_TRUE(fast.statusTexts.empty());

  // The status style: the path, the path with "...", nothing.
  options.HighSpeed = false;
  options.StatusFormat = "Looking in %s now";
  const std::pair<int, std::string> styles[] = {
      {0, "Looking in HKEY_LOCAL_MACHINE\\HsStop\\ now"},
      {1, "Looking in HKEY_LOCAL_MACHINE\\HsStop\\ now"},
      {2, "Looking in HKEY_LOCAL_MACHINE\\HsStop\\... now"},
      {3, ""},
  };
  for (const auto& [style, first] : styles) {
    SCOPED_TRACE(style);
    RecordingSink sink;
    RunSearch(sink, options, HKEY_LOCAL_MACHINE, "\\HsStop", rvDefault, style, "hit");
    EXPECT_EQ(sink.statusTexts.empty() ? std::string() : sink.statusTexts.front(), first);
    EXPECT_EQ(sink.rows.size(), 5u);
  }
}

TEST_F(SearchEngine, RegularExpressionErrorsEndTheSearch) {
  value("", "aab", 1, utf16(std::string(9998, 'a') + "cb"));
  key("aab");
  mount("HsRegExp");
  SearchOptions options;
  options.CompareMode = cmpRegExpr;

  // Not compiled: nothing is searched.
  const RecordingSink bad = search("\\HsRegExp", "(abc", options);
  EXPECT_TRUE(bad.rows.empty());
  EXPECT_TRUE(bad.statusTexts.empty());
  ASSERT_EQ(bad.failures.size(), 1u);
  EXPECT_TRUE(bad.failures[0].ends_with(" (pos 4)")) << bad.failures[0];

  // Past the step limit on the value's data: the value-name row found before
  // stays, the key name after it is not compared.
  const RecordingSink runaway = search("\\HsRegExp", "(a+)+b", options);
  EXPECT_EQ(runaway.described(), std::vector<std::string>{"1 \\HsRegExp\\ :aab"});
  ASSERT_EQ(runaway.failures.size(), 1u);
  EXPECT_NE(runaway.failures[0].find("\"(a+)+b\""), std::string::npos) << runaway.failures[0];

  // The same pattern on texts it settles quickly finds what is there.
  options.Data = false;
  const RecordingSink names = search("\\HsRegExp", "(a+)+b", options);
  EXPECT_EQ(names.described(), (std::vector<std::string>{"1 \\HsRegExp\\ :aab", "0 \\HsRegExp\\aab"}));
  EXPECT_TRUE(names.failures.empty());
}

}  // namespace
