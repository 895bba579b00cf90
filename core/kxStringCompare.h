#pragma once

// Whether a text matches a search pattern, in one of six comparison modes
// chosen by a number or by a tag at the start of the pattern; string-list
// filtering with the same test; boolean search rules.
//
// Texts are 8-bit strings (one byte per character). Ignoring case upper-cases
// only "a" to "z" in every mode but the regular expression, which uses the
// engine's case-insensitive modifier instead. Only the regular-expression mode
// throws: a pattern that does not compile raises ERegExpEngine.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum TCompareMode : std::uint8_t {
  cmpSubstring = 0,   // "<substr>"
  cmpWildcard = 1,    // "<wc>"
  cmpBoolean = 2,     // "<bool>"
  cmpRegExpr = 3,     // "<regexpr>"
  cmpBoyerMoore = 4,  // "<bm>"
  cmpExact = 5,       // no tag
};

// One line of a string list with the object attached to it (not owned).
struct StringListItem {
  std::string text;
  void* object = nullptr;
};
using StringList = std::vector<StringListItem>;

// The mode byte counts modulo 128; 6 to 127 match nothing.
bool MatchString(std::string_view text, std::string_view pattern, std::uint8_t mode, bool ignoreCase);
// The lines that pass, in order, with their objects; no list for a mode of 6 to 127.
std::optional<StringList> FilterStrings(const StringList& list, std::string_view pattern, std::uint8_t mode,
                                        bool ignoreCase);
// Removes a leading tag and sets the mode from it; without a tag both stay.
void ExtractCompareMode(std::string& pattern, std::uint8_t& mode);
bool MatchTaggedPattern(std::string_view text, std::string_view pattern, bool ignoreCase,
                        std::uint8_t defaultMode);

bool MatchSubstring(std::string_view text, std::string_view pattern, bool ignoreCase);
bool MatchWildcard(std::string_view text, std::string_view pattern, bool ignoreCase);
bool MatchBoolean(std::string_view text, std::string_view pattern, bool ignoreCase);
bool MatchRegExpr(std::string_view text, std::string_view pattern, bool ignoreCase);
bool MatchBoyerMoore(std::string_view text, std::string_view pattern, bool ignoreCase);
bool MatchExact(std::string_view text, std::string_view pattern, bool ignoreCase);

// One term of a boolean rule.
class TCompareRuleItem {
public:
  std::string FText;
  bool FNegate = false;        // the term must be absent
  std::uint8_t FOperator = 1;  // 0 AND, 1 OR
};

// The terms of a boolean rule in text order, joined left to right without
// precedence: "a OR b AND c" is (a or b) and c.
class TCompareRule {
public:
  void Parse(std::string_view rule);
  bool Evaluate(std::string_view text) const;
  void Add(std::unique_ptr<TCompareRuleItem> item);
  void Delete(int index);
  TCompareRuleItem* GetItem(int index) const;
  int Count() const { return static_cast<int>(items_.size()); }

private:
  std::vector<std::unique_ptr<TCompareRuleItem>> items_;
};
