#include "core/kxStringCompare.h"

#include <array>

#include "core/RegExpEngine.h"
#include "platform/Text.h"

namespace {

std::string_view upToNul(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

// Only "a" to "z" change; letters outside ASCII keep their case.
std::string asciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

// Lead bytes of the double-byte code pages; other code pages (UTF-8 among
// them, where a valid pattern never starts on a continuation byte) have none.
bool isLeadByte(unsigned codePage, unsigned char c) {
  switch (codePage) {
    case 932: return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936: case 949: case 950: return c >= 0x81 && c <= 0xFE;
    default: return false;
  }
}

char asciiUpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// text.find(upperPattern, from) with "a" to "z" of the text read as upper
// case. The search runs over every value of a hive: no copy of the text.
std::size_t findIgnoringCase(std::string_view text, std::string_view upperPattern, std::size_t from) {
  const std::size_t m = upperPattern.size();
  if (m == 0 || m > text.size()) return std::string_view::npos;
  const char first = upperPattern[0];
  const char firstLower = first >= 'A' && first <= 'Z' ? static_cast<char>(first + 32) : first;
  for (std::size_t i = from; i <= text.size() - m; ++i) {
    if (text[i] != first && text[i] != firstLower) continue;
    std::size_t k = 1;
    while (k < m && asciiUpperChar(text[i + k]) == upperPattern[k]) ++k;
    if (k == m) return i;
  }
  return std::string_view::npos;
}

// A search that never reports a hit starting on the second byte of a
// double-byte character. With ignoreCase the pattern is upper case already.
bool multiByteFind(std::string_view text, std::string_view pattern, bool ignoreCase) {
  const unsigned cp = platform::activeCodePage();
  auto next = [&](std::size_t from) {
    return ignoreCase ? findIgnoringCase(text, pattern, from) : text.find(pattern, from);
  };
  std::size_t at = 0;
  while ((at = next(at)) != std::string_view::npos) {
    // Walk characters from the start to see whether `at` begins one.
    std::size_t i = 0;
    while (i < at) i += isLeadByte(cp, static_cast<unsigned char>(text[i])) ? 2 : 1;
    if (i == at) return true;
    ++at;
  }
  return false;
}

// The wildcard rule, without recursion. State (ti, pi) is "the rest of the
// text from ti against the rest of the pattern from pi". A star first tries to
// match nothing and, when that fails, swallows one more character; only the
// latest star ever needs to give more, because any later start of its suffix
// is reachable from it by swallowing. The quirks of the rule stay: at the end
// of the text only an empty rest or a rest of exactly "*" matches, so "a**"
// does not match "a".
bool wildcardRule(std::string_view t, std::string_view p) {
  std::size_t ti = 0, pi = 0, mark = 0;
  std::size_t star = std::string_view::npos;
  while (true) {
    if (p.size() - pi == 1 && p[pi] == '*') return true;
    if (ti == t.size()) {
      if (pi == p.size()) return true;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi;
      mark = ti;
      ++pi;
      continue;
    } else if (pi < p.size() && (p[pi] == '?' || p[pi] == t[ti])) {
      ++ti;
      ++pi;
      continue;
    }
    if (star == std::string_view::npos || mark >= t.size()) return false;
    ti = ++mark;
    pi = star;
  }
}

bool isKeyword(const std::string& term, std::string_view keyword) { return asciiUpper(term) == keyword; }

}  // namespace

bool MatchSubstring(std::string_view text, std::string_view pattern, bool ignoreCase) {
  text = upToNul(text);
  pattern = upToNul(pattern);
  if (text.empty() || pattern.empty()) return false;
  if (ignoreCase) return multiByteFind(text, asciiUpper(pattern), true);
  return multiByteFind(text, pattern, false);
}

bool MatchWildcard(std::string_view textIn, std::string_view patternIn, bool ignoreCase) {
  std::string text(upToNul(textIn));
  std::string pattern(upToNul(patternIn));
  if (ignoreCase) {
    text = asciiUpper(text);
    pattern = asciiUpper(pattern);
  }
  if (pattern.size() > 1 && pattern.front() == '*' && pattern.back() == '*') {
    const std::string_view inner = std::string_view(pattern).substr(1, pattern.size() - 2);
    if (inner.find_first_of("?*") == std::string_view::npos)
      return !inner.empty() && text.find(inner) != std::string::npos;
  }
  if (pattern == "*") return true;
  if (pattern.empty()) return text.empty();
  return wildcardRule(text, pattern);
}

bool MatchBoolean(std::string_view text, std::string_view pattern, bool ignoreCase) {
  TCompareRule rule;
  if (ignoreCase) {
    rule.Parse(asciiUpper(pattern));
    return rule.Evaluate(asciiUpper(text));
  }
  rule.Parse(pattern);
  return rule.Evaluate(text);
}

bool MatchRegExpr(std::string_view text, std::string_view pattern, bool ignoreCase) {
  TRegExpEngine engine;
  engine.SetModifierFlag(TRegExpEngine::modI, ignoreCase);
  engine.SetExpression(pattern);
  return engine.Exec(text);
}

bool MatchBoyerMoore(std::string_view textIn, std::string_view patternIn, bool ignoreCase) {
  // Full lengths, NULs included.
  const std::string text = ignoreCase ? asciiUpper(textIn) : std::string(textIn);
  const std::string pattern = ignoreCase ? asciiUpper(patternIn) : std::string(patternIn);
  const std::size_t m = pattern.size(), n = text.size();
  if (m == 0) return true;
  std::array<std::size_t, 256> skip;
  skip.fill(m);
  for (std::size_t i = 0; i + 1 < m; ++i) skip[static_cast<unsigned char>(pattern[i])] = m - 1 - i;
  // k is the index of the text character under the pattern's last one.
  for (std::size_t k = m - 1; k < n; k += skip[static_cast<unsigned char>(text[k])]) {
    std::size_t j = 0;
    while (j < m && text[k - j] == pattern[m - 1 - j]) ++j;
    if (j == m) return true;
  }
  return false;
}

bool MatchExact(std::string_view text, std::string_view pattern, bool ignoreCase) {
  if (ignoreCase) return asciiUpper(text) == asciiUpper(pattern);
  return text == pattern;
}

bool MatchString(std::string_view text, std::string_view pattern, std::uint8_t mode, bool ignoreCase) {
  switch (mode % 128) {
    case cmpSubstring: return MatchSubstring(text, pattern, ignoreCase);
    case cmpWildcard: return MatchWildcard(text, pattern, ignoreCase);
    case cmpBoolean: return MatchBoolean(text, pattern, ignoreCase);
    case cmpRegExpr: return MatchRegExpr(text, pattern, ignoreCase);
    case cmpBoyerMoore: return MatchBoyerMoore(text, pattern, ignoreCase);
    case cmpExact: return MatchExact(text, pattern, ignoreCase);
    default: return false;
  }
}

std::optional<StringList> FilterStrings(const StringList& list, std::string_view pattern, std::uint8_t mode,
                                        bool ignoreCase) {
  mode %= 128;
  if (mode > cmpExact) return std::nullopt;
  StringList out;
  if (mode == cmpBoolean) {
    TCompareRule rule;
    rule.Parse(ignoreCase ? asciiUpper(pattern) : std::string(pattern));
    for (const StringListItem& item : list)
      if (rule.Evaluate(ignoreCase ? asciiUpper(item.text) : item.text)) out.push_back(item);
    return out;
  }
  if (mode == cmpRegExpr) {
    // One engine for the whole list: the expression is compiled once, and a
    // pattern that does not compile still raises only when there is a line.
    TRegExpEngine engine;
    engine.SetModifierFlag(TRegExpEngine::modI, ignoreCase);
    engine.SetExpression(pattern);
    for (const StringListItem& item : list)
      if (engine.Exec(item.text)) out.push_back(item);
    return out;
  }
  for (const StringListItem& item : list)
    if (MatchString(item.text, pattern, mode, ignoreCase)) out.push_back(item);
  return out;
}

void ExtractCompareMode(std::string& pattern, std::uint8_t& mode) {
  struct Tag {
    std::string_view text;
    std::uint8_t mode;
  };
  static constexpr Tag tags[] = {
      {"<wc>", cmpWildcard}, {"<substr>", cmpSubstring}, {"<bool>", cmpBoolean},
      {"<regexpr>", cmpRegExpr}, {"<bm>", cmpBoyerMoore},
  };
  for (const Tag& tag : tags) {
    if (pattern.compare(0, tag.text.size(), tag.text) == 0) {
      pattern.erase(0, tag.text.size());
      mode = tag.mode;
      return;
    }
  }
}

bool MatchTaggedPattern(std::string_view text, std::string_view pattern, bool ignoreCase,
                        std::uint8_t defaultMode) {
  std::string untagged(pattern);
  std::uint8_t mode = defaultMode;
  ExtractCompareMode(untagged, mode);
  return MatchString(text, untagged, mode, ignoreCase);
}

// ---------------------------------------------------------------------------

void TCompareRule::Add(std::unique_ptr<TCompareRuleItem> item) { items_.push_back(std::move(item)); }

void TCompareRule::Delete(int index) {
  if (index >= 0 && index < Count()) items_.erase(items_.begin() + index);
}

TCompareRuleItem* TCompareRule::GetItem(int index) const {
  return index >= 0 && index < Count() ? items_[static_cast<std::size_t>(index)].get() : nullptr;
}

void TCompareRule::Parse(std::string_view rule) {
  items_.clear();
  // 1. Terms: a blank ends one; quotes keep blanks and a closing quote ends
  // the term at once; text before an opening quote joins the quoted part.
  std::string current;
  bool quoted = false;
  auto flush = [&] {
    if (!current.empty()) {
      auto item = std::make_unique<TCompareRuleItem>();
      item->FText = std::move(current);
      Add(std::move(item));
    }
    current.clear();
  };
  for (char c : rule) {
    if (quoted) {
      if (c == '"') {
        quoted = false;
        flush();
      } else {
        current.push_back(c);
      }
    } else if (c == ' ') {
      flush();
    } else if (c == '"') {
      quoted = true;
    } else {
      current.push_back(c);
    }
  }
  flush();

  // 2. NOT negates the term after it; a last NOT has nothing to negate.
  if (!items_.empty() && isKeyword(items_.back()->FText, "NOT")) items_.pop_back();
  for (int i = Count() - 2; i >= 0; --i) {
    if (isKeyword(items_[i]->FText, "NOT")) {
      items_[i + 1]->FNegate = true;
      Delete(i);
    }
  }
  // 3. Operators: the first term is never read as one.
  if (!items_.empty()) items_.front()->FOperator = 1;
  if (!items_.empty() && isKeyword(items_.back()->FText, "OR")) items_.pop_back();
  if (!items_.empty() && isKeyword(items_.back()->FText, "AND")) items_.pop_back();
  for (int i = Count() - 2; i >= 1; --i) {
    if (isKeyword(items_[i]->FText, "AND")) {
      items_[i + 1]->FOperator = 0;
      Delete(i);
    } else if (isKeyword(items_[i]->FText, "OR")) {
      items_[i + 1]->FOperator = 1;
      Delete(i);
    }
  }
}

bool TCompareRule::Evaluate(std::string_view text) const {
  bool result = false;
  for (const auto& item : items_) {
    const bool found = text.find(item->FText) != std::string_view::npos;
    const bool value = found != item->FNegate;
    result = item->FOperator == 0 ? (result && value) : (result || value);
  }
  return result;
}
