#include "core/SearchEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/RegExpEngine.h"
#include "core/bwlRegTools.h"
#include "core/kxDate.h"
#include "core/kxNTSTuff.h"
#include "core/kxStrings.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Text.h"
#include "platform/hive/HiveFile.h"
#include "tests/support/PinnedZone.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

// The search as it was before it walked the keys through the native calls:
// every key opened through a registry object, names listed through the 8-bit
// calls, each value looked up by its name for its kind and again for its
// text. The comparison tests below hold the engine to this one's rows.
namespace reference {

using platform::HKEY;

// One key still to search. A key in a view branch (the 32-bit or 64-bit copy
// of the machine's software keys) passes its view down unchanged and never
// splits again.
struct TSearchLocation {
  HKEY RootKey;
  std::string KeyPath;  // leading "\"; ends with "\" once taken from the stack
  TRegistryView View = rvDefault;
  bool InViewBranch = false;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// Only the machine's software keys have a 32-bit copy of their own (under
// "Wow6432Node"), and only when the program runs under WOW64.
enum class ViewSplit { none, searchBothViews, skip };

ViewSplit viewSplitOf(const TSearchLocation& at, std::string_view name, bool wow64) {
  if (!wow64 || at.RootKey != platform::HKEY_LOCAL_MACHINE) return ViewSplit::none;
  const bool atRoot = at.KeyPath == "\\";
  const bool atSoftware = equalsIgnoringCase(at.KeyPath, "\\SOFTWARE\\");
  const bool atClasses = equalsIgnoringCase(at.KeyPath, "\\SOFTWARE\\Classes\\");
  if ((atSoftware || atClasses) && equalsIgnoringCase(name, "Wow6432Node")) return ViewSplit::skip;
  if (at.InViewBranch) return ViewSplit::none;
  if ((atRoot && equalsIgnoringCase(name, "SOFTWARE")) || (atSoftware && equalsIgnoringCase(name, "Classes")))
    return ViewSplit::searchBothViews;
  return ViewSplit::none;
}

TSearchImage keyImage(TRegistryView view) {
  switch (view) {
    case rv32Bit: return siKey32;
    case rv64Bit: return siKey64;
    default: return siKey;
  }
}

bool isStringKind(TRegDataType kind) {
  return kind == rdString || kind == rdExpandString || kind == rdMultiString;
}

// The data-type boxes; kinds in none of their groups always pass.
bool kindPasses(const SearchOptions& options, TRegDataType kind) {
  switch (kind) {
    case rdString: case rdExpandString: case rdMultiString:
      return options.Strings;
    case rdBinary: case rdLink: case rdResourceList: case rdFullResourceDescriptor: case rdResourceRequirementsList:
      return options.Binary;
    case rdInteger: case rdLittleEndianInteger: case rdBigEndianInteger: case rdInt64: case rdLittleEndianInt64:
      return options.Numerics;
    default:
      return true;
  }
}

std::string formatStatus(const std::string& format, const std::string& location) {
  std::string text = format;
  const std::size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, location);
  return text;
}

// Local date-times to whole seconds, so a bound typed to the second equals a
// key time read from the registry although their day fractions were computed
// differently.
std::int64_t toSeconds(double dateTime) { return std::llround(dateTime * 86400.0); }

// The term in its comparison mode. A regular expression is compiled once for
// the whole search instead of once per text.
class TermMatcher {
public:
  TermMatcher(const std::string& term, std::uint8_t mode, bool ignoreCase)
      : term_(term), mode_(mode % 128), ignoreCase_(ignoreCase) {
    if (mode_ == cmpRegExpr) {
      regExp_.emplace();
      regExp_->SetModifierFlag(TRegExpEngine::modI, ignoreCase);
      regExp_->SetExpression(term);
      regExp_->CompileProgram();  // raises ERegExpEngine before anything is searched
    }
  }

  bool matches(std::string_view text) {
    if (regExp_) return regExp_->Exec(text);
    return MatchString(text, term_, mode_, ignoreCase_);
  }

  // Raises what the regular expression raises.
  std::optional<StringList> filter(const std::vector<std::string>& names) const {
    StringList list;
    list.reserve(names.size());
    for (const std::string& name : names) list.push_back({name, nullptr});
    return FilterStrings(list, term_, mode_, ignoreCase_);
  }

private:
  std::string term_;
  std::uint8_t mode_;
  bool ignoreCase_;
  std::optional<TRegExpEngine> regExp_;
};

class Search {
public:
  Search(SearchSink& sink, const SearchOptions& options, TermMatcher& matcher, HKEY root, int statusStyle)
      : sink_(sink),
        options_(options),
        matcher_(matcher),
        rootName_(RootKeyToLongName(root)),
        statusStyle_(statusStyle),
        wow64_(IsWow64()) {}

  // Raises ERegExpEngine when the regular expression gives up.
  void run(HKEY root, const std::string& startPath, TRegistryView view) {
    std::vector<TSearchLocation> stack;
    stack.push_back({root, startPath, view, false});
    while (!stack.empty()) {
      TSearchLocation at = std::move(stack.back());
      stack.pop_back();
      processMessages();
      if (sink_.StopRequested()) return;
      processMessages();
      if (at.KeyPath.empty() || at.KeyPath.back() != '\\') at.KeyPath += '\\';
      searchKey(at, stack);
    }
  }

private:
  // The registry object open on the key being searched.
  TMyRegistry& walker() { return *open_.back().reg; }

  // Opens the location read-only as the last of open_; false when it does not open.
  bool openKey(const TSearchLocation& at) {
    while (!open_.empty() && !(open_.back().view == at.View && at.KeyPath.size() > open_.back().path.size() &&
                               at.KeyPath.starts_with(open_.back().path)))
      open_.pop_back();
    auto reg = std::make_unique<TMyRegistry64>();
    reg->SetRootKey(open_.empty() ? at.RootKey : open_.back().reg->CurrentKey());
    reg->SetView(at.View);
    const std::string below = open_.empty() ? at.KeyPath : at.KeyPath.substr(open_.back().path.size() - 1);
    if (!reg->OpenKeyReadOnly(below)) return false;
    open_.push_back({at.KeyPath, at.View, std::move(reg)});
    return true;
  }

  void processMessages() {
    if (!options_.HighSpeed) sink_.ProcessMessages();
  }

  void searchKey(const TSearchLocation& at, std::vector<TSearchLocation>& stack) {
    if (!options_.HighSpeed && statusStyle_ <= 2)
      sink_.SetStatusText(
          formatStatus(options_.StatusFormat, rootName_ + at.KeyPath + (statusStyle_ == 2 ? "..." : "")));

    if (!openKey(at)) return;
    walker().GetKeyNames(keyNames_);
    walker().GetValueNames(valueNames_);
    valueCaption_.clear();

    if (options_.Values) valueNameResults(at);
    if (options_.Data) dataResults(at);
    if (options_.Keys) keyResults(at);

    for (const std::string& name : keyNames_) {
      if (name.empty()) continue;
      switch (viewSplitOf(at, name, wow64_)) {
        case ViewSplit::skip:
          break;
        case ViewSplit::searchBothViews:
          stack.push_back({at.RootKey, at.KeyPath + name + "\\", rv32Bit, true});
          stack.push_back({at.RootKey, at.KeyPath + name + "\\", rv64Bit, true});
          break;
        case ViewSplit::none:
          stack.push_back({at.RootKey, at.KeyPath + name + "\\", at.View, at.InViewBranch});
          break;
      }
    }
  }

  // The caption of this key's value rows, made for its first row.
  const std::string& valueCaption(const TSearchLocation& at) {
    if (valueCaption_.empty()) valueCaption_ = ShowNulChars(rootName_ + at.KeyPath);
    return valueCaption_;
  }

  TSearchListItem valueRow(const TSearchLocation& at, const std::string& name, TSearchImage image) {
    TSearchListItem row;
    row.Caption = valueCaption(at);
    row.SubItem1 = ShowNulChars(name);
    row.ImageIndex = image;
    row.RootKey = at.RootKey;
    row.KeyPath = at.KeyPath;
    row.ValueName = name;
    row.View = at.View;
    return row;
  }

  void valueNameResults(const TSearchLocation& at) {
    std::optional<StringList> found;
    try {
      found = matcher_.filter(valueNames_);
    } catch (const ERegExpEngine&) {
      throw;
    } catch (const std::exception&) {
      return;  // this key's value names give no rows
    }
    if (!found) return;
    for (const StringListItem& item : *found) sink_.AddResult(valueRow(at, item.text, siValueName));
  }

  void dataResults(const TSearchLocation& at) {
    for (const std::string& name : valueNames_) {
      processMessages();
      try {
        TRegDataType kind = rdUnknown;
        if (!options_.HighSpeed) {
          kind = walker().GetDataType(name);
          if (!kindPasses(options_, kind)) continue;
        }
        std::string text = walker().ReadValueAsText(name);
        if (!matcher_.matches(text)) continue;
        // High speed reads the kind only for what it reports.
        if (options_.HighSpeed) kind = walker().GetDataType(name);
        TSearchListItem row = valueRow(at, name, isStringKind(kind) ? siStringData : siData);
        row.SubItem2 = text;
        row.DataType = kind;
        row.DataText = std::move(text);
        sink_.AddResult(std::move(row));
      } catch (const ERegExpEngine&) {
        throw;
      } catch (const std::exception&) {
        // a value that cannot be read is skipped alone
      }
    }
  }

  void keyResults(const TSearchLocation& at) {
    for (const std::string& name : keyNames_) {
      if (name.empty() || name == std::string_view("\0", 1)) continue;
      processMessages();
      try {
        if (!matcher_.matches(name)) continue;
        if (options_.DateMode != sdAnyDate && !datePasses(at, name)) continue;
        TSearchListItem row;
        row.KeyPath = at.KeyPath + name;
        row.Caption = ShowNulChars(rootName_ + row.KeyPath);
        row.ImageIndex = keyImage(at.View);
        row.RootKey = at.RootKey;
        row.View = at.View;
        sink_.AddResult(std::move(row));
      } catch (const ERegExpEngine&) {
        throw;
      } catch (const std::exception&) {
        // a name that cannot be compared is skipped alone
      }
    }
  }

  // A key whose time cannot be read fails; a time of 0 (unknown, or outside
  // what a local date-time holds) passes every mode.
  bool datePasses(const TSearchLocation& at, const std::string& name) {
    dater_.SetRootKey(walker().CurrentKey());
    dater_.SetView(at.View);
    if (!dater_.OpenKeyReadOnly("\\" + name)) return false;
    TRegKeyInfo info;
    const bool known = dater_.GetKeyInfo(info);
    dater_.CloseKey();
    if (!known) return false;
    const double written = FileTimeToDateTime(info.FileTime);
    if (written == 0) return true;
    const std::int64_t k = toSeconds(written);
    const std::int64_t a = toSeconds(options_.Date1);
    const std::int64_t b = toSeconds(options_.Date2);
    switch (options_.DateMode) {
      case sdNewerThan: return k >= a;
      case sdOlderThan: return k <= a;
      case sdBetween: return a <= k && k <= b;
      case sdOutsideOf: return k <= a || k >= b;
      default: return true;
    }
  }

  SearchSink& sink_;
  const SearchOptions& options_;
  TermMatcher& matcher_;
  const std::string rootName_;
  int statusStyle_;
  bool wow64_;
  // The keys from the start down to the one being searched, each open, so a
  // sub-key opens from its parent instead of from the root through every
  // level again (the registry resolves such an open exactly like the whole
  // path, view redirection included). Left as the walk leaves their subtree.
  struct OpenKey {
    std::string path;
    TRegistryView view;
    std::unique_ptr<TMyRegistry64> reg;
  };
  std::vector<OpenKey> open_;
  TMyRegistry64 dater_;
  std::vector<std::string> keyNames_;
  std::vector<std::string> valueNames_;
  std::string valueCaption_;
};

void RunReferenceSearch(SearchSink& sink, const SearchOptions& options, HKEY root, const std::string& startPath,
               TRegistryView view, int statusStyle, const std::string& term) {
  try {
    TermMatcher matcher(term, options.CompareMode, options.IgnoreCase);
    Search(sink, options, matcher, root, statusStyle).run(root, startPath, view);
  } catch (const ERegExpEngine& e) {
    sink.SearchFailed(e.what());
  }
}

}  // namespace reference


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


// ---- the engine against the search it replaced

// Every field of every row, and what else the sink heard.
std::vector<std::string> everything(const RecordingSink& sink) {
  std::vector<std::string> out;
  for (const auto& r : sink.rows) {
    out.push_back(std::to_string(r.ImageIndex) + "|" + r.Caption + "|" + r.SubItem1 + "|" + r.SubItem2 + "|" +
                  r.KeyPath + "|" + r.ValueName + "|" + std::to_string(r.DataType) + "|" + r.DataText + "|" +
                  std::to_string(r.View) + "|" + std::to_string(r.RootKey.value) + "|" + std::to_string(r.Checked) +
                  std::to_string(r.Failed));
  }
  for (const auto& f : sink.failures) out.push_back("failed: " + f);
  out.push_back("status texts: " + std::to_string(sink.statusTexts.size()) +
                (sink.statusTexts.empty() ? "" : " last " + sink.statusTexts.back()));
  out.push_back("message rounds: " + std::to_string(sink.messageRounds));
  return out;
}

struct CompareCase {
  std::string term;
  std::uint8_t mode;
  bool ignoreCase = true;
  bool keys = true, values = true, data = true;
  bool strings = true, numerics = true, binary = true;
  bool highSpeed = true;
  TSearchDateMode dateMode = sdAnyDate;
};

// Terms for every style, chosen so that names, strings, numbers, hex text,
// empty texts and nothing at all each match somewhere.
std::vector<CompareCase> compareCases() {
  std::vector<CompareCase> cases = {
      {"tcpip", cmpSubstring},
      {"Tcpip", cmpSubstring, false},
      {"0x000", cmpSubstring},
      {"00 0", cmpSubstring},
      {"-1", cmpSubstring},
      {"e", cmpSubstring},
      {"\xC3\xA4", cmpSubstring},
      {"zero", cmpSubstring},
      {"*ser*", cmpWildcard},
      {"s?r*e", cmpWildcard, false},
      {"*", cmpWildcard},
      {"tcp AND NOT ip", cmpBoolean},
      {"service OR (42)", cmpBoolean, false},
      {"Tcp.p", cmpRegExpr},
      {"^Ser", cmpRegExpr, false},
      {"[0-9]{3}\\)", cmpRegExpr},
      {"^$", cmpRegExpr},
      {"x0+1", cmpRegExpr},
      {"Start", cmpExact},
      {"ROOT", cmpBoyerMoore},
  };
  // The focus and type boxes, not at high speed.
  CompareCase names{"s", cmpSubstring};
  names.data = false;
  names.highSpeed = false;
  cases.push_back(names);
  CompareCase stringsOnly{"1", cmpSubstring};
  stringsOnly.keys = stringsOnly.values = false;
  stringsOnly.numerics = stringsOnly.binary = false;
  stringsOnly.highSpeed = false;
  cases.push_back(stringsOnly);
  CompareCase numbersOnly{"(1", cmpSubstring};
  numbersOnly.strings = false;
  numbersOnly.highSpeed = false;
  cases.push_back(numbersOnly);
  CompareCase binaryOnly{"*0*", cmpWildcard};
  binaryOnly.strings = binaryOnly.numerics = false;
  binaryOnly.highSpeed = false;
  cases.push_back(binaryOnly);
  CompareCase dated{"e", cmpSubstring};
  dated.dateMode = sdNewerThan;
  cases.push_back(dated);
  return cases;
}

class SearchEngineAsBefore : public SearchEngine {
protected:
  void TearDown() override {
    testsupport::setBackupPrivilege(false);
    SearchEngine::TearDown();
  }

  // Mounts a copy of a hive file; false when it does not mount (a hive too
  // damaged to open).
  bool mountFile(const std::filesystem::path& file, const std::string& name) {
    const auto copy = dir_ / name;
    std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    if (RegLoadKeyA(HKEY_LOCAL_MACHINE, name.c_str(), copy.c_str()) != ERROR_SUCCESS) return false;
    mounted_.push_back(name);
    return true;
  }

  static void expectSameRows(const std::string& startPath, const CompareCase& c) {
    SCOPED_TRACE("term \"" + c.term + "\" mode " + std::to_string(c.mode) + (c.ignoreCase ? " ignoring case" : "") +
                 (c.highSpeed ? " high speed" : ""));
    SearchOptions options;
    options.CompareMode = c.mode;
    options.IgnoreCase = c.ignoreCase;
    options.Keys = c.keys;
    options.Values = c.values;
    options.Data = c.data;
    options.Strings = c.strings;
    options.Numerics = c.numerics;
    options.Binary = c.binary;
    options.HighSpeed = c.highSpeed;
    options.DateMode = c.dateMode;
    options.Date1 = 40000;  // 2009-07-06
    RecordingSink ours;
    RunSearch(ours, options, HKEY_LOCAL_MACHINE, startPath, rvDefault, 0, c.term);
    RecordingSink before;
    reference::RunReferenceSearch(before, options, HKEY_LOCAL_MACHINE, startPath, rvDefault, 0, c.term);
    const std::vector<std::string> got = everything(ours);
    const std::vector<std::string> expected = everything(before);
    EXPECT_EQ(got.size(), expected.size());
    // The first difference, readable, rather than two lists of thousands.
    const auto [a, b] = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
    if (a != got.end() || b != expected.end())
      ADD_FAILURE() << "first difference at row " << (a - got.begin()) << ":\n  now:    "
                    << (a != got.end() ? *a : "(none)") << "\n  before: " << (b != expected.end() ? *b : "(none)");
    EXPECT_EQ(registry::openHandleCountForTests(), 0u);
  }
};

// The real SYSTEM hive, with the backup privilege (every key reads) and
// without it (the keys only SYSTEM may read are refused and skipped, with
// everything below them).
TEST_F(SearchEngineAsBefore, RealSystemHive) {
  HS_TESTDATA_OR_SKIP(system, testsupport::unpackedTestdata("hives/real/SYSTEM.xz"));
  ASSERT_TRUE(mountFile(system, "HsReal"));
  const std::vector<CompareCase> cases = compareCases();
  ASSERT_TRUE(testsupport::setBackupPrivilege(true));
  for (const CompareCase& c : cases) expectSameRows("\\HsReal", c);
  ASSERT_TRUE(testsupport::setBackupPrivilege(false));
  for (const CompareCase& c : {cases[0], cases[10], cases[13], cases[20]}) expectSameRows("\\HsReal", c);
  // A start below the mount point.
  expectSameRows("\\HsReal\\ControlSet001\\Services", cases[0]);
}

// Hives made to show edge cases: names with NULs, CR LF and symbols, Latin-1
// and Cyrillic names, two values of one name, big data, odd strings and
// numbers, damaged lists. Also with a single-byte and a double-byte code page,
// where not every name comes back the same from the 8-bit form.
TEST_F(SearchEngineAsBefore, CraftedHives) {
  HS_TESTDATA_OR_SKIP(special, testsupport::testdataFile("hives/crafted/special"));
  std::vector<std::filesystem::path> files = {special, testsupport::testdataFile("hives/crafted/rlenvalue_test_hive")};
  for (const auto& entry : std::filesystem::directory_iterator(special.parent_path() / "pwr")) files.push_back(entry);
  for (const char* member :
       {"EmptyHive", "BigDataHive", "DupNameHive", "UnicodeHive", "BadListHive", "SlackHive", "StringValuesHive",
        "TruncatedPairHive2", "OffHive", "ManySubkeysHive", "DuplicateSubkeysHive", "BadSubkeyHive", "PairHive",
        "NewFlagsHive", "WrongOrderHive", "EffectiveSizeHive", "TruncatedPairHive", "ExtendedASCIIHive",
        "ReallocValueDataHive", "ValuesOrderHive", "CompHive", "BogusKeyNamesHive", "TwoOwnersHive", "HealedHive",
        "System_Delta", "ReallocValueHive", "TruncatedNameHive", "UpcaseHive", "MultiSzHive"}) {
    files.push_back(testsupport::unpackedTestdataMember("hives/crafted/yarp-hives.tar.xz", member));
  }
  ASSERT_TRUE(testsupport::setBackupPrivilege(true));
  const std::vector<CompareCase> cases = compareCases();
  const unsigned codePage = activeCodePage();
  int mountedCount = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].empty()) continue;
    const std::string file = files[i].filename().string();
    SCOPED_TRACE(file);
    const std::string name = "HsCrafted" + std::to_string(i);
    if (!mountFile(files[i], name)) continue;
    ++mountedCount;
    // Thousands of keys each: a few styles are enough there.
    if (file == "ManySubkeysHive" || file == "DuplicateSubkeysHive" || file == "SlackHive") {
      for (std::size_t k : {0, 10, 13, 20}) expectSameRows("\\" + name, cases[k]);
      continue;
    }
    for (const CompareCase& c : cases) expectSameRows("\\" + name, c);
    // The hives whose names are not all ASCII, once more with other code pages.
    if (file == "special" || file == "ExtendedASCIIHive" || file == "UnicodeHive" || file == "BogusKeyNamesHive" ||
        file == "DupNameHive" || file == "winnt_key_tests.rf" || file == "winnt_value_tests.rf") {
      for (unsigned page : {1252u, 932u}) {
        SCOPED_TRACE("code page " + std::to_string(page));
        setActiveCodePage(page);
        for (std::size_t k : {0, 6, 7, 10, 14, 18}) expectSameRows("\\" + name, cases[k]);
      }
      setActiveCodePage(codePage);
    }
  }
  setActiveCodePage(codePage);
  EXPECT_GT(mountedCount, 20);
}

}  // namespace
