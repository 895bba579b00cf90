#include "core/SearchEngine.h"

#include <cmath>
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

namespace {

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
