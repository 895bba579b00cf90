#include "core/SearchEngine.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "core/RegExpEngine.h"
#include "core/bwlRegTools.h"
#include "core/kxDate.h"
#include "core/kxNTSTuff.h"
#include "core/kxStrings.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Text.h"
#include "platform/hive/HiveFormat.h"

// The search walks the keys through the registry's native calls: each key is
// opened from its open parent with the same access masks and by the same name
// the registry object would use, so views, links, volatile keys and every
// access check stay the registry's own. What it saves is the rest: sub-key and
// value names are listed once per key and converted once; each value is read
// once, with its name, kind and data in one call, into buffers kept for the
// whole search instead of being looked up by name twice; the text form of
// data is made only where the term could match it; a substring is found with
// a skip table built once.
//
// A value is looked up by its 8-bit name, as the registry object would, only
// where that lookup could find something else than the value listed: a name
// with a NUL (cut in its 8-bit form), a name that does not come back the same
// from the code page, two names of one key that are equal ignoring case (a
// damaged hive), or data that cannot be read. Sub-keys are opened by their
// 8-bit path in the same cases.

namespace {

using platform::DWORD;
using platform::HKEY;
using platform::LSTATUS;
namespace registry = platform::registry;

// One key still to search. A key in a view branch (the 32-bit or 64-bit copy
// of the machine's software keys) passes its view down unchanged and never
// splits again.
// A key handle the search opened and closes.
class OwnedKey {
public:
  OwnedKey() = default;
  explicit OwnedKey(HKEY key) : key_(key) {}
  OwnedKey(OwnedKey&& other) noexcept : key_(other.key_) { other.key_ = HKEY(); }
  OwnedKey& operator=(OwnedKey&& other) noexcept {
    if (this != &other) {
      reset();
      key_ = other.key_;
      other.key_ = HKEY();
    }
    return *this;
  }
  ~OwnedKey() { reset(); }
  HKEY get() const { return key_; }
  explicit operator bool() const { return static_cast<bool>(key_); }

private:
  void reset() {
    if (key_) registry::closeKey(key_);
    key_ = HKEY();
  }
  HKEY key_ = HKEY();
};

// How a key still to search was opened ahead: its parent opens its sub-keys
// in list order as soon as it has listed them (the registry finds a sub-key
// it has just listed without a lookup by name), with the masks and by the
// name the key's own turn would use.
enum class Opened : std::uint8_t { notYet, open, failed };

struct TSearchLocation {
  TSearchLocation(HKEY root, std::string keyPath, TRegistryView view, bool inViewBranch)
      : RootKey(root), KeyPath(std::move(keyPath)), View(view), InViewBranch(inViewBranch) {}
  HKEY RootKey;
  std::string KeyPath;  // leading "\"; ends with "\" once taken from the stack
  TRegistryView View = rvDefault;
  bool InViewBranch = false;
  Opened State = Opened::notYet;
  OwnedKey Key;  // when State is open
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

std::string_view upToNul(std::string_view text) {
  const void* nul = std::memchr(text.data(), 0, text.size());
  return nul ? text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data())) : text;
}

bool isDoubleByteCodePage(unsigned codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

// What the text form of a value's data is made of, by its stored type.
enum TextShape : std::uint8_t {
  shapeText,    // string kinds: the text itself
  shapeHex,     // "AB CD " for binary and the other byte kinds
  shapeDWord,   // "0x0000002A (42)"
  shapeQWord,   // the same with 16 digits and a signed decimal
  shapeEmpty,   // a type the registry object does not know: no text
  kShapeCount,
};

TextShape shapeOf(DWORD type) {
  switch (RegTypeToRegDataType(type)) {
    case rdString: case rdExpandString: case rdMultiString: return shapeText;
    case rdInteger: case rdBigEndianInteger: return shapeDWord;
    case rdInt64: return shapeQWord;
    case rdUnknown: return shapeEmpty;
    default: return shapeHex;
  }
}

// Every character the text form of a shape can hold.
std::bitset<256> alphabetOf(TextShape shape) {
  std::string chars;
  const std::string hexDigits = "0123456789" + ByteToHex(0xAB) + ByteToHex(0xCD) + ByteToHex(0xEF);
  switch (shape) {
    case shapeHex: chars = "0123456789ABCDEF "; break;
    case shapeDWord: chars = hexDigits + "x() "; break;
    case shapeQWord: chars = hexDigits + "x() -"; break;
    default: break;
  }
  std::bitset<256> set;
  for (char c : chars) set.set(static_cast<unsigned char>(c));
  return set;
}

char asciiUpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// The term in its comparison mode. A regular expression is compiled once for
// the whole search instead of once per text; a substring gets its skip table
// once.
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
    for (int c = 0; c < 256; ++c)
      fold_[c] = ignoreCase ? static_cast<unsigned char>(asciiUpperChar(static_cast<char>(c)))
                            : static_cast<unsigned char>(c);
    // The double-byte code pages also ask whether a hit starts a character:
    // those keep the general comparison.
    if (mode_ == cmpSubstring && !isDoubleByteCodePage(platform::activeCodePage())) {
      fastSubstring_ = true;
      for (char c : upToNul(term)) pattern_.push_back(static_cast<char>(fold_[static_cast<unsigned char>(c)]));
      const std::size_t m = pattern_.size();
      skip_.fill(m);
      for (std::size_t i = 0; i + 1 < m; ++i)
        for (int c = 0; c < 256; ++c)
          if (fold_[c] == static_cast<unsigned char>(pattern_[i])) skip_[c] = m - 1 - i;
    }
    for (int shape = 0; shape < kShapeCount; ++shape) mayMatch_[shape] = mayMatchShape(static_cast<TextShape>(shape));
  }

  // Raises what the regular expression raises.
  bool matches(std::string_view text) {
    if (regExp_) return regExp_->Exec(text);
    if (fastSubstring_) return findFolded(upToNul(text));
    return MatchString(text, term_, mode_, ignoreCase_);
  }

  // False when no text of the shape can match, so it need not be made.
  bool mayMatch(TextShape shape) const { return mayMatch_[shape]; }

private:
  // Whether the (folded) text holds the pattern: a Horspool search whose
  // table is indexed by the raw byte and compares folded bytes.
  bool findFolded(std::string_view text) const {
    const std::size_t m = pattern_.size(), n = text.size();
    if (m == 0 || n < m) return false;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const auto* p = reinterpret_cast<const unsigned char*>(pattern_.data());
    if (m == 1) {
      for (std::size_t i = 0; i < n; ++i)
        if (fold_[s[i]] == p[0]) return true;
      return false;
    }
    const unsigned char last = p[m - 1];
    for (std::size_t k = m - 1; k < n; k += skip_[s[k]]) {
      if (fold_[s[k]] != last) continue;
      std::size_t j = 1;
      while (j < m && fold_[s[k - j]] == p[m - 1 - j]) ++j;
      if (j == m) return true;
    }
    return false;
  }

  bool mayMatchShape(TextShape shape) {
    if (shape == shapeText || shape == shapeEmpty) return true;
    const std::bitset<256> alphabet = alphabetOf(shape);
    if (regExp_) return regExp_->MayMatchWithin(alphabet);
    std::bitset<256> folded;
    for (int c = 0; c < 256; ++c)
      if (alphabet.test(static_cast<std::size_t>(c))) folded.set(fold_[c]);
    // Every character of a substring, and every literal character of a
    // wildcard pattern, must be in the text.
    if (mode_ == cmpSubstring || mode_ == cmpWildcard) {
      const std::string_view pattern = upToNul(term_);
      if (mode_ == cmpSubstring && pattern.empty()) return false;
      for (char c : pattern) {
        if (mode_ == cmpWildcard && (c == '*' || c == '?')) continue;
        if (!folded.test(fold_[static_cast<unsigned char>(c)])) return false;
      }
    }
    return true;
  }

  std::string term_;
  std::uint8_t mode_;
  bool ignoreCase_;
  std::optional<TRegExpEngine> regExp_;
  std::array<unsigned char, 256> fold_{};
  bool fastSubstring_ = false;
  std::string pattern_;  // the substring up to its NUL, folded
  std::array<std::size_t, 256> skip_{};
  std::array<bool, kShapeCount> mayMatch_{};
};

// A key open while the search is below it: a handle of the search's own, or
// the start key's registry object.
class OpenedKey {
public:
  OpenedKey(std::string path, TRegistryView view, OwnedKey key)
      : path_(std::move(path)), view_(view), owned_(std::move(key)), key_(owned_.get()) {}
  OpenedKey(std::string path, TRegistryView view, std::unique_ptr<TMyRegistry64> reg)
      : path_(std::move(path)), view_(view), key_(reg->CurrentKey()), reg_(std::move(reg)) {}
  const std::string& path() const { return path_; }
  TRegistryView view() const { return view_; }
  HKEY key() const { return key_; }

private:
  std::string path_;
  TRegistryView view_;
  OwnedKey owned_;
  HKEY key_;
  std::unique_ptr<TMyRegistry64> reg_;
};

// A sub-key as listed: its 8-bit name (cut at a NUL) and its stored name.
struct SubKeyName {
  std::string name;
  std::u16string stored;
  // Opening `stored` from the parent is what opening `name` below it does:
  // no NUL, no "\", and the code page gives the same name back.
  bool direct = false;
};

// A value as listed, with its kind and data.
struct ValueSlot {
  std::string name;  // 8-bit, cut at a NUL as the registry object lists it
  registry::ValueEntry entry;
  bool direct = false;  // a lookup by `name` finds this very entry
};

constexpr platform::REGSAM kReadNoNotify = 0x20009;  // KEY_READ without KEY_NOTIFY

class Search {
public:
  Search(SearchSink& sink, const SearchOptions& options, TermMatcher& matcher, HKEY root, int statusStyle)
      : sink_(sink),
        options_(options),
        matcher_(matcher),
        rootName_(RootKeyToLongName(root)),
        statusStyle_(statusStyle),
        wow64_(IsWow64()),
        codePage_(platform::activeCodePage()) {}

  // Raises ERegExpEngine when the regular expression gives up.
  void run(HKEY root, const std::string& startPath, TRegistryView view) {
    std::vector<TSearchLocation> stack;
    stack.emplace_back(root, startPath, view, false);
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
  HKEY currentKey() const { return open_.back().key(); }

  // The masks the registry object's read-only open tries, in its order.
  static std::array<platform::REGSAM, 3> readMasks(TRegistryView view) {
    const platform::REGSAM bits = view == rv64Bit ? platform::KEY_WOW64_64KEY : 0;
    return {bits | platform::KEY_READ, bits | kReadNoNotify, bits | platform::KEY_QUERY_VALUE};
  }

  // Opens `name` below `parent` as the registry object's read-only open does.
  OwnedKey openBelow(HKEY parent, const std::u16string& name, TRegistryView view) {
    openPath_.resize(1);
    openPath_[0].assign(name);
    for (platform::REGSAM mask : readMasks(view)) {
      registry::OpenRequest request;
      request.access = mask;
      HKEY opened;
      if (registry::openKey(parent, openPath_, request, &opened, nullptr) == platform::ERROR_SUCCESS)
        return OwnedKey(opened);
    }
    return {};
  }

  // Makes the location the last of open_; false when it does not open.
  bool openKey(TSearchLocation& at) {
    while (!open_.empty() && !(open_.back().view() == at.View && at.KeyPath.size() > open_.back().path().size() &&
                               at.KeyPath.starts_with(open_.back().path())))
      open_.pop_back();
    switch (at.State) {
      case Opened::failed:
        return false;
      case Opened::open:
        open_.emplace_back(at.KeyPath, at.View, std::move(at.Key));
        return true;
      case Opened::notYet:
        break;
    }
    if (open_.empty()) {
      auto reg = std::make_unique<TMyRegistry64>();
      reg->SetRootKey(at.RootKey);
      reg->SetView(at.View);
      if (!reg->OpenKeyReadOnly(at.KeyPath)) return false;
      open_.emplace_back(at.KeyPath, at.View, std::move(reg));
      return true;
    }
    // Below the deepest open key on the way: "\name\", or more levels where
    // a name holds "\"; by its 8-bit path, as the registry object opens it.
    const std::string below = at.KeyPath.substr(open_.back().path().size() - 1);
    for (platform::REGSAM mask : readMasks(at.View)) {
      HKEY opened;
      if (platform::RegOpenKeyExA(open_.back().key(), below.c_str() + 1, 0, mask, &opened) ==
          platform::ERROR_SUCCESS) {
        open_.emplace_back(at.KeyPath, at.View, OwnedKey(opened));
        return true;
      }
    }
    return false;
  }

  void processMessages() {
    if (!options_.HighSpeed) sink_.ProcessMessages();
  }

  // The stored name round-trips through the code page as itself.
  bool comesBackAs(std::u16string_view stored, const std::string& name) const {
    if (codePage_ == platform::kCodePageUtf8 &&
        std::all_of(stored.begin(), stored.end(), [](char16_t c) { return c != 0 && c < 0x80; }))
      return true;
    return stored.find(u'\0') == std::u16string_view::npos && platform::ansiToWide(name) == stored;
  }

  // The key's sub-key names, as the registry object lists them: in the
  // code page, cut at a NUL, the empty ones left out.
  void listSubKeys(HKEY key, DWORD count) {
    keyCount_ = 0;
    for (DWORD i = 0; i < count; ++i) {
      if (registry::enumKey(key, i, &subKey_, false) != platform::ERROR_SUCCESS) continue;
      if (keyNames_.size() <= keyCount_) keyNames_.emplace_back();
      SubKeyName& k = keyNames_[keyCount_];
      k.name.clear();
      platform::appendWideToAnsi(subKey_.name, k.name);
      k.name.resize(upToNul(k.name).size());
      if (k.name.empty()) continue;
      k.stored.assign(subKey_.name);
      k.direct = k.stored.find(u'\\') == std::u16string::npos && comesBackAs(k.stored, k.name);
      ++keyCount_;
    }
  }

  // The key's values with their data (when the data is searched).
  void listValues(HKEY key, DWORD count) {
    valueCount_ = 0;
    for (DWORD i = 0; i < count; ++i) {
      if (values_.size() <= valueCount_) values_.emplace_back();
      ValueSlot& v = values_[valueCount_];
      bool readable = registry::enumValue(key, i, &v.entry, options_.Data) == platform::ERROR_SUCCESS;
      // Data that cannot be read leaves the name listed; the lookup by name
      // then answers for the data as it would for the registry object.
      if (!readable && (!options_.Data || registry::enumValue(key, i, &v.entry, false) != platform::ERROR_SUCCESS))
        continue;
      const std::u16string_view stored = v.entry.name;
      v.name.clear();
      platform::appendWideToAnsi(stored.substr(0, stored.find(u'\0')), v.name);
      v.name.resize(upToNul(v.name).size());
      v.direct = readable && comesBackAs(stored, v.name);
      ++valueCount_;
    }
    markNamesEqualIgnoringCase();
  }

  // Two names of one key that are equal ignoring case (only in a damaged
  // hive) are both looked up by name: the lookup finds the first.
  void markNamesEqualIgnoringCase() {
    if (valueCount_ < 2) return;
    nameHashes_.clear();
    for (std::size_t i = 0; i < valueCount_; ++i) {
      std::uint64_t h = 1469598103934665603ull;
      for (char16_t c : values_[i].entry.name) {
        const char16_t u = c < 0x80 ? (c >= u'a' && c <= u'z' ? char16_t(c - 32) : c) : platform::hive::upcaseUnit(c);
        h = (h ^ u) * 1099511628211ull;
      }
      nameHashes_.push_back(h);
    }
    bool equalHashes = false;
    if (valueCount_ <= 16) {
      for (std::size_t i = 1; i < valueCount_ && !equalHashes; ++i)
        equalHashes = std::find(nameHashes_.begin(), nameHashes_.begin() + i, nameHashes_[i]) != nameHashes_.begin() + i;
    } else {
      std::sort(nameHashes_.begin(), nameHashes_.end());
      equalHashes = std::adjacent_find(nameHashes_.begin(), nameHashes_.end()) != nameHashes_.end();
    }
    if (!equalHashes) return;
    for (std::size_t i = 0; i < valueCount_; ++i) values_[i].direct = false;
  }

  void searchKey(TSearchLocation& at, std::vector<TSearchLocation>& stack) {
    if (!options_.HighSpeed && statusStyle_ <= 2)
      sink_.SetStatusText(
          formatStatus(options_.StatusFormat, rootName_ + at.KeyPath + (statusStyle_ == 2 ? "..." : "")));

    if (!openKey(at)) return;
    keyCount_ = valueCount_ = 0;
    registry::KeyInformation info;
    if (registry::queryInfo(currentKey(), &info) == platform::ERROR_SUCCESS) {
      listSubKeys(currentKey(), info.subKeys);
      listValues(currentKey(), info.values);
    }
    valueCaption_.clear();

    if (options_.Values) valueNameResults(at);
    if (options_.Data) dataResults(at);
    if (options_.Keys) keyResults(at);
    // One huge value does not keep its buffer for the rest of the search.
    for (std::size_t i = 0; i < valueCount_; ++i)
      if (values_[i].entry.data.capacity() > (std::size_t(1) << 20)) values_[i].entry.data = {};

    const HKEY key = currentKey();
    for (std::size_t i = 0; i < keyCount_; ++i) {
      const SubKeyName& k = keyNames_[i];
      switch (viewSplitOf(at, k.name, wow64_)) {
        case ViewSplit::skip:
          break;
        case ViewSplit::searchBothViews:
          stack.emplace_back(at.RootKey, at.KeyPath + k.name + "\\", rv32Bit, true);
          stack.emplace_back(at.RootKey, at.KeyPath + k.name + "\\", rv64Bit, true);
          break;
        case ViewSplit::none: {
          TSearchLocation& child =
              stack.emplace_back(at.RootKey, at.KeyPath + k.name + "\\", at.View, at.InViewBranch);
          if (k.direct) {
            child.Key = openBelow(key, k.stored, at.View);
            child.State = child.Key ? Opened::open : Opened::failed;
          }
          break;
        }
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

  // All of the key's value names are compared before the first row: when the
  // comparison fails on one, the key's value names give no rows.
  void valueNameResults(const TSearchLocation& at) {
    matched_.clear();
    try {
      for (std::size_t i = 0; i < valueCount_; ++i)
        if (matcher_.matches(values_[i].name)) matched_.push_back(i);
    } catch (const ERegExpEngine&) {
      throw;
    } catch (const std::exception&) {
      return;
    }
    for (std::size_t i : matched_) sink_.AddResult(valueRow(at, values_[i].name, siValueName));
  }

  // The text form of a value's data, as the registry object reads it; false
  // for a number wider than its kind, which cannot be read.
  bool dataText(const registry::ValueEntry& value, std::string& out) {
    const TRegDataType kind = RegTypeToRegDataType(value.type);
    const std::vector<std::uint8_t>& data = value.data;
    out.clear();
    switch (shapeOf(value.type)) {
      case shapeText: {
        // The 8-bit form of the UTF-16 units (an odd last byte has none):
        // a string ends at its first NUL, a list shows NULs as blanks.
        units_.resize(data.size() / 2);
        for (std::size_t i = 0; i < units_.size(); ++i)
          units_[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        std::u16string_view units = units_;
        if (kind != rdMultiString && codePage_ == platform::kCodePageUtf8) units = units.substr(0, units.find(u'\0'));
        platform::appendWideToAnsi(units, out);
        if (kind == rdMultiString) {
          std::replace(out.begin(), out.end(), '\0', ' ');
        } else {
          out.resize(upToNul(out).size());
        }
        return true;
      }
      case shapeDWord:
        if (data.size() > 4) return false;
        break;
      case shapeQWord:
        if (data.size() > 8) return false;
        break;
      default:
        break;
    }
    out = RegDataToDisplayText(kind, data);
    return true;
  }

  void dataResults(const TSearchLocation& at) {
    for (std::size_t i = 0; i < valueCount_; ++i) {
      const ValueSlot& slot = values_[i];
      processMessages();
      try {
        const registry::ValueEntry* value = &slot.entry;
        if (!slot.direct) {
          value = registry::queryValue(currentKey(), platform::ansiToWide(slot.name), &lookedUp_, true) ==
                          platform::ERROR_SUCCESS
                      ? &lookedUp_
                      : nullptr;
        }
        // A value the lookup does not find is of no known kind and has no text.
        const TRegDataType kind = value ? RegTypeToRegDataType(value->type) : rdUnknown;
        if (!options_.HighSpeed && !kindPasses(options_, kind)) continue;
        text_.clear();
        if (value) {
          if (!matcher_.mayMatch(shapeOf(value->type))) continue;
          if (!dataText(*value, text_)) continue;
        }
        if (!matcher_.matches(text_)) continue;
        TSearchListItem row = valueRow(at, slot.name, isStringKind(kind) ? siStringData : siData);
        row.SubItem2 = text_;
        row.DataType = kind;
        row.DataText = text_;
        sink_.AddResult(std::move(row));
      } catch (const ERegExpEngine&) {
        throw;
      } catch (const std::exception&) {
        // a value that cannot be read is skipped alone
      }
    }
  }

  void keyResults(const TSearchLocation& at) {
    for (std::size_t i = 0; i < keyCount_; ++i) {
      const std::string& name = keyNames_[i].name;
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
    dater_.SetRootKey(currentKey());
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
  unsigned codePage_;
  // The keys from the start down to the one being searched, each open, so a
  // sub-key opens from its parent instead of from the root through every
  // level again (the registry resolves such an open exactly like the whole
  // path, view redirection included). Left as the walk leaves their subtree.
  std::vector<OpenedKey> open_;
  TMyRegistry64 dater_;
  // Buffers kept for the whole search; the first keyCount_ and valueCount_
  // entries are the current key's.
  std::vector<SubKeyName> keyNames_;
  std::size_t keyCount_ = 0;
  std::vector<ValueSlot> values_;
  std::size_t valueCount_ = 0;
  registry::SubKeyEntry subKey_;
  registry::ValueEntry lookedUp_;
  registry::Path openPath_;
  std::vector<std::uint64_t> nameHashes_;
  std::vector<std::size_t> matched_;
  std::u16string units_;
  std::string text_;
  std::string valueCaption_;
};

}  // namespace

void RunSearch(SearchSink& sink, const SearchOptions& options, HKEY root, const std::string& startPath,
               TRegistryView view, int statusStyle, const std::string& term) {
  try {
    TermMatcher matcher(term, options.CompareMode, options.IgnoreCase);
    Search(sink, options, matcher, root, statusStyle).run(root, startPath, view);
  } catch (const ERegExpEngine& e) {
    sink.SearchFailed(e.what());
  }
}
