#include "core/kxStringCompare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>

#include "core/RegExpEngine.h"
#include "core/kxFileSysWin.h"
#include "platform/Text.h"
#include "tests/support/TempDir.h"

namespace {

using std::string;

struct CompareCase {
  int line;
  string text;
  string pattern;
  bool ignoreCase;
  bool expected;
};

void runTable(const char* what, bool (*fn)(std::string_view, std::string_view, bool),
              std::initializer_list<CompareCase> cases) {
  for (const CompareCase& c : cases) {
    SCOPED_TRACE(string(what) + " line " + std::to_string(c.line) + ": text \"" + c.text + "\" pattern \"" +
                 c.pattern + "\"");
    EXPECT_EQ(fn(c.text, c.pattern, c.ignoreCase), c.expected);
  }
}

TEST(StringCompare, Wildcard) {
  runTable("wildcard", MatchWildcard,
           {
               {__LINE__, "abc", "a*c", false, true},
               {__LINE__, "abc", "a?c", false, true},
               {__LINE__, "abc", "a?", false, false},
               {__LINE__, "abcd", "abc?", false, true},
               {__LINE__, "abc", "abc?", false, false},
               {__LINE__, "abc", "ab", false, false},
               {__LINE__, "abc", "*", false, true},
               {__LINE__, "", "*", false, true},
               {__LINE__, "", "", false, true},
               {__LINE__, "a", "", false, false},
               {__LINE__, "", "?", false, false},
               {__LINE__, "a", "a*", false, true},
               // At the end of the text only an empty rest or a single "*" matches.
               {__LINE__, "a", "a**", false, false},
               {__LINE__, "", "**", false, false},
               {__LINE__, "abc", "**", false, false},
               {__LINE__, "ab", "*b**", false, false},
               {__LINE__, "abxb", "*b*?", false, true},
               // Stars at both ends without other wildcards: a substring search.
               {__LINE__, "xxbxx", "*b*", false, true},
               {__LINE__, "xxbxx", "*B*", false, false},
               {__LINE__, "xxbxx", "*B*", true, true},
               // With "?" inside it is matched whole, still finding the inner text anywhere.
               {__LINE__, "zzabcz", "*a?c*", false, true},
               {__LINE__, "ab", "*a?c*", false, false},
               {__LINE__, "a*c", "a\\*c", false, false},
               {__LINE__, "mississippi", "*sip*i", false, true},
               {__LINE__, "mississippi", "m*iss*ppi", false, true},
               {__LINE__, "mississippi", "m*iss*ppx", false, false},
               {__LINE__, "aaaab", "*a*a*b", false, true},
               // Only up to the first NUL.
               {__LINE__, string("ab\0cd", 5), "ab", false, true},
               {__LINE__, "ab", string("ab\0x", 4), false, true},
               // Ignoring case folds ASCII only.
               {__LINE__, "FILE.txt", "file.TXT", true, true},
               {__LINE__, "\xC3\xA9", "\xC3\x89", true, false},
           });
}

TEST(StringCompare, TaggedWildcardExtension) {
  EXPECT_TRUE(MatchTaggedPattern("readme.txt", "<wc>*.TXT", true, cmpSubstring));
  EXPECT_FALSE(MatchTaggedPattern("readme.txt", "<wc>*.TXT", false, cmpSubstring));
  // Without a tag the default mode holds.
  EXPECT_TRUE(MatchTaggedPattern("readme.txt", "me.t", false, cmpSubstring));
  EXPECT_FALSE(MatchTaggedPattern("readme.txt", "me.t", false, cmpExact));
}

// Long texts: the matcher must not recurse per character.
TEST(StringCompare, WildcardOnLongTexts) {
  const string as(250000, 'a');
  const string text = as + "b" + string(250000, 'c');
  EXPECT_TRUE(MatchWildcard(text, "*a*b*?*", false));
  EXPECT_FALSE(MatchWildcard(string(500000, 'a'), "*a*b*?*", false));
  EXPECT_TRUE(MatchWildcard(string(500000, 'a'), "a*a?", false));
  EXPECT_FALSE(MatchWildcard(string(500000, 'a'), "?*b", false));
}

// The iterative matcher against the rule as written, on short random texts.
bool wildcardReference(std::string_view t, std::string_view p) {
  if (p == "*") return true;
  if (t.empty()) return p.empty();
  if (!p.empty() && p[0] == '*') return wildcardReference(t, p.substr(1)) || wildcardReference(t.substr(1), p);
  if (!p.empty() && (p[0] == '?' || p[0] == t[0])) return wildcardReference(t.substr(1), p.substr(1));
  return false;
}

TEST(StringCompare, WildcardAgreesWithTheRecursiveRule) {
  std::mt19937 rng(7);
  auto randomText = [&](const char* alphabet, int maxLen) {
    std::string s(rng() % (maxLen + 1), ' ');
    for (char& c : s) c = alphabet[rng() % std::char_traits<char>::length(alphabet)];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    const string t = randomText("ab", 7);
    string p = randomText("ab*?", 6);
    // Skip the substring shortcut, which is not part of the rule.
    if (p.size() > 1 && p.front() == '*' && p.back() == '*' &&
        p.substr(1, p.size() - 2).find_first_of("*?") == string::npos)
      continue;
    if (p.empty() || p == "*") continue;
    SCOPED_TRACE("text \"" + t + "\" pattern \"" + p + "\"");
    ASSERT_EQ(MatchWildcard(t, p, false), wildcardReference(t, p));
  }
}

TEST(StringCompare, Substring) {
  runTable("substring", MatchSubstring,
           {
               {__LINE__, "abc", "", false, false},
               {__LINE__, "", "a", false, false},
               {__LINE__, "abc", "bc", false, true},
               {__LINE__, "aXb", "x", false, false},
               {__LINE__, "aXb", "x", true, true},
               {__LINE__, "\xC3\xA9", "\xC3\x89", true, false},
               {__LINE__, string("ab\0cd", 5), "cd", false, false},
               {__LINE__, "abcd", string("cd\0x", 4), false, true},
               // Ignoring case: a first character that starts no match, the
               // match at the very end, a pattern longer than the text.
               {__LINE__, "aaAB", "aab", true, true},
               {__LINE__, "xyzTcpIP", "tcpip", true, true},
               {__LINE__, "Tcpi", "tcpip", true, false},
               {__LINE__, "a[b", "A{B", true, false},
           });
}

class CodePageTest : public ::testing::Test {
protected:
  void TearDown() override { platform::setActiveCodePage(saved_); }
  unsigned saved_ = platform::activeCodePage();
};

TEST_F(CodePageTest, SubstringSkipsTrailBytesOfDoubleByteCharacters) {
  const string text = "x\x82\x60y";  // a double-byte character between x and y
  platform::setActiveCodePage(932);
  EXPECT_FALSE(MatchSubstring(text, "\x60", false));
  EXPECT_TRUE(MatchSubstring(text, "\x82\x60", false));
  EXPECT_TRUE(MatchSubstring(text + "\x60", "\x60", false));
  // Ignoring case, a trail byte that is a letter is no match either.
  const string letterTrail = "x\x82\x61y";
  EXPECT_FALSE(MatchSubstring(letterTrail, "A", true));
  EXPECT_TRUE(MatchSubstring(letterTrail + "a", "A", true));
  platform::setActiveCodePage(1252);
  EXPECT_TRUE(MatchSubstring(text, "\x60", false));
}

TEST(StringCompare, Boolean) {
  runTable("boolean", MatchBoolean,
           {
               // Terms without an operator join by OR: "foo NOT bar" is foo or not bar.
               {__LINE__, "foo bar", "foo NOT bar", false, true},
               {__LINE__, "bar", "foo NOT bar", false, false},
               {__LINE__, "foo bar", "foo AND NOT bar", false, false},
               {__LINE__, "foo baz", "foo NOT bar", false, true},
               {__LINE__, "foo baz", "foo not bar", false, true},
               {__LINE__, "xyz", "NOT bar", false, true},
               {__LINE__, "bar", "NOT bar", false, false},
               {__LINE__, "bar", "NOT NOT bar", false, false},
               // No precedence: a OR b AND c is (a or b) and c.
               {__LINE__, "a only", "a OR b AND c", false, false},
               {__LINE__, "a and c", "a OR b AND c", false, true},
               {__LINE__, "c", "a OR b AND c", false, false},
               {__LINE__, "a", "a AND b OR c", false, false},
               {__LINE__, "c", "a AND b OR c", false, true},
               {__LINE__, "a b", "a b", false, true},
               {__LINE__, "b", "a b", false, true},
               // Quoted terms keep their blanks; text before a quote joins it.
               {__LINE__, "say hello world", "\"hello world\"", false, true},
               {__LINE__, "hello big world", "\"hello world\"", false, false},
               {__LINE__, "xabc dx", "ab\"c d\"", false, true},
               {__LINE__, "open end", "\"open e", false, true},
               // Keywords quoted or not; trailing ones are dropped.
               {__LINE__, "foo bar", "foo \"and\" bar", false, true},
               {__LINE__, "foo", "foo \"and\" bar", false, false},
               {__LINE__, "foo", "foo AND", false, true},
               {__LINE__, "foo", "foo OR", false, true},
               {__LINE__, "foo", "foo NOT", false, true},
               // The first term is never read as an operator.
               {__LINE__, "has AND", "AND x", false, true},
               {__LINE__, "", "", false, false},
               {__LINE__, "x", "", false, false},
               {__LINE__, "FOO", "foo", false, false},
               {__LINE__, "FOO", "foo", true, true},
           });
}

TEST(StringCompare, RuleItems) {
  TCompareRule rule;
  rule.Parse("a AND NOT b");
  ASSERT_EQ(rule.Count(), 2);
  EXPECT_EQ(rule.GetItem(0)->FText, "a");
  EXPECT_FALSE(rule.GetItem(0)->FNegate);
  EXPECT_EQ(rule.GetItem(0)->FOperator, 1);
  EXPECT_EQ(rule.GetItem(1)->FText, "b");
  EXPECT_TRUE(rule.GetItem(1)->FNegate);
  EXPECT_EQ(rule.GetItem(1)->FOperator, 0);
  EXPECT_EQ(rule.GetItem(2), nullptr);
  rule.Delete(0);
  ASSERT_EQ(rule.Count(), 1);
  EXPECT_EQ(rule.GetItem(0)->FText, "b");
  auto item = std::make_unique<TCompareRuleItem>();
  EXPECT_FALSE(item->FNegate);
  EXPECT_EQ(item->FOperator, 1);
  item->FText = "c";
  rule.Add(std::move(item));
  EXPECT_TRUE(rule.Evaluate("c"));  // (false and not b) or c
  rule.Parse("x");
  EXPECT_EQ(rule.Count(), 1);
}

TEST(StringCompare, BoyerMoore) {
  runTable("boyer-moore", MatchBoyerMoore,
           {
               {__LINE__, "abc", "", false, true},
               {__LINE__, "", "", false, true},
               {__LINE__, "", "a", false, false},
               {__LINE__, "abc", "abc", false, true},
               {__LINE__, "aaa", "aaaa", false, false},
               {__LINE__, "xAbC", "abc", true, true},
               {__LINE__, "xAbC", "abc", false, false},
               // Full lengths, NULs included.
               {__LINE__, string("ab\0cd", 5), "cd", false, true},
               {__LINE__, string("ab\0cd", 5), string("b\0c", 3), false, true},
               {__LINE__, string("ab\0cd", 5), string("b\0d", 3), false, false},
               {__LINE__, "\xE9t\xE9", "\xC9", true, false},
           });
  std::mt19937 rng(11);
  for (int i = 0; i < 5000; ++i) {
    string t(rng() % 20, ' '), p(rng() % 5, ' ');
    for (char& c : t) c = "ab\0\xff"[rng() % 4];
    for (char& c : p) c = "ab\0\xff"[rng() % 4];
    ASSERT_EQ(MatchBoyerMoore(t, p, false), t.find(p) != string::npos) << i;
  }
}

TEST(StringCompare, Exact) {
  runTable("exact", MatchExact,
           {
               {__LINE__, "abc", "abc", false, true},
               {__LINE__, "abc", "ABC", false, false},
               {__LINE__, "abc", "ABC", true, true},
               {__LINE__, string("a\0b", 3), string("a\0b", 3), false, true},
               {__LINE__, string("a\0b", 3), string("a\0c", 3), false, false},
               {__LINE__, "a", string("a\0", 2), false, false},
               {__LINE__, "", "", false, true},
           });
}

TEST(StringCompare, RegularExpression) {
  EXPECT_TRUE(MatchRegExpr("abc", "b.", false));
  EXPECT_FALSE(MatchRegExpr("ABC", "b.", false));
  EXPECT_TRUE(MatchRegExpr("ABC", "b.", true));
  // The engine folds by the code page, not by ASCII only.
  EXPECT_THROW((void)MatchRegExpr("abc", "", false), ERegExpEngine);
  try {
    (void)MatchString("abc", "(a", cmpRegExpr, false);
    ADD_FAILURE() << "no error";
  } catch (const ERegExpEngine& e) {
    EXPECT_EQ(e.Code, 103);
  }
}

TEST_F(CodePageTest, OnlyTheRegularExpressionFoldsBeyondAscii) {
  platform::setActiveCodePage(1252);
  for (std::uint8_t mode : {cmpSubstring, cmpWildcard, cmpBoolean, cmpBoyerMoore, cmpExact}) {
    SCOPED_TRACE(int(mode));
    EXPECT_FALSE(MatchString("\xC9", "\xE9", mode, true));
  }
  EXPECT_TRUE(MatchString("\xC9", "\xE9", cmpRegExpr, true));
}

TEST(StringCompare, ModeNumbers) {
  EXPECT_TRUE(MatchString("abc", "abc", cmpExact, false));
  EXPECT_TRUE(MatchString("abc", "abc", 128 + cmpExact, false));
  EXPECT_TRUE(MatchString("abc", "b", 128 + cmpSubstring, false));
  for (int mode : {6, 7, 127, 128 + 6, 255}) {
    SCOPED_TRACE(mode);
    EXPECT_FALSE(MatchString("abc", "abc", static_cast<std::uint8_t>(mode), false));
    EXPECT_FALSE(FilterStrings({{"abc", nullptr}}, "abc", static_cast<std::uint8_t>(mode), false).has_value());
  }
}

TEST(StringCompare, ExtractCompareMode) {
  struct TagCase {
    string pattern;
    string rest;
    std::uint8_t mode;
  };
  const TagCase cases[] = {
      {"<wc>x*", "x*", cmpWildcard},    {"<substr>x", "x", cmpSubstring}, {"<bool>a b", "a b", cmpBoolean},
      {"<regexpr>^a", "^a", cmpRegExpr}, {"<bm>ab", "ab", cmpBoyerMoore}, {"<WC>x", "<WC>x", 99},
      {"x<wc>", "x<wc>", 99},            {"<exact>x", "<exact>x", 99},    {"<wc>", "", cmpWildcard},
  };
  for (const TagCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    string pattern = c.pattern;
    std::uint8_t mode = 99;
    ExtractCompareMode(pattern, mode);
    EXPECT_EQ(pattern, c.rest);
    EXPECT_EQ(mode, c.mode);
  }
}

TEST(StringCompare, FilterStrings) {
  int one = 1, two = 2, three = 3;
  const StringList list = {{"alpha", &one}, {"Beta", &two}, {"gamma", &three}};
  auto texts = [](const std::optional<StringList>& l) {
    string out;
    for (const auto& item : *l) out += item.text + ";";
    return out;
  };
  auto r = FilterStrings(list, "a", cmpSubstring, false);
  ASSERT_TRUE(r);
  EXPECT_EQ(texts(r), "alpha;Beta;gamma;");
  EXPECT_EQ((*r)[1].object, &two);
  EXPECT_EQ(texts(FilterStrings(list, "B*", cmpWildcard, false)), "Beta;");
  EXPECT_EQ(texts(FilterStrings(list, "B*", cmpWildcard, true)), "Beta;");
  EXPECT_EQ(texts(FilterStrings(list, "b*", cmpWildcard, false)), "");
  EXPECT_EQ(texts(FilterStrings(list, "ALPHA OR gam", cmpBoolean, true)), "alpha;gamma;");
  EXPECT_EQ(texts(FilterStrings(list, "^.a", cmpRegExpr, false)), "gamma;");
  EXPECT_EQ(texts(FilterStrings(list, "^B", cmpRegExpr, true)), "Beta;");
  EXPECT_EQ(texts(FilterStrings(list, "mm", cmpBoyerMoore, false)), "gamma;");
  EXPECT_EQ(texts(FilterStrings(list, "Beta", cmpExact, false)), "Beta;");
  EXPECT_THROW((void)FilterStrings(list, "(", cmpRegExpr, false), ERegExpEngine);
  EXPECT_EQ(texts(FilterStrings({}, "(", cmpRegExpr, false)), "");
}

class FindFiles : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = tmp_.path() / "Languages";
    std::filesystem::create_directories(dir_ / "sub.lng");
    for (const char* name : {"a.lng", "B.LNG", "c.txt", " lead.lng", "noext"}) std::ofstream(dir_ / name) << "x";
  }
  static std::vector<string> sorted(std::vector<string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }
  testsupport::TempDir tmp_;
  std::filesystem::path dir_;
};

TEST_F(FindFiles, PlainMask) {
  const string folder = dir_.string();
  EXPECT_EQ(sorted(FindFilesByPattern(folder + "/*.lng", true, false)),
            (std::vector<string>{"B.LNG", "a.lng", "lead.lng"}));
  EXPECT_EQ(sorted(FindFilesByPattern(folder + "\\*.lng", true, false)),
            (std::vector<string>{"B.LNG", "a.lng", "lead.lng"}));
  EXPECT_EQ(sorted(FindFilesByPattern(folder + "/*.*", true, false)),
            (std::vector<string>{"B.LNG", "a.lng", "c.txt", "lead.lng", "noext"}));
  EXPECT_EQ(sorted(FindFilesByPattern(folder + "/?.txt", true, false)), (std::vector<string>{"c.txt"}));
  EXPECT_EQ(sorted(FindFilesByPattern(folder + "/*.lng", false, true)), (std::vector<string>{"sub.lng"}));
  EXPECT_TRUE(FindFilesByPattern(folder + "/missing/*.*", true, false).empty());
}

TEST_F(FindFiles, TaggedPatterns) {
  const string folder = dir_.string();
  EXPECT_EQ(sorted(FindFilesByPattern("<wc>" + folder + "/*.LNG", true, false)),
            (std::vector<string>{"B.LNG", "a.lng", "lead.lng"}));
  // The regular-expression form doubles the backslash before the name.
  EXPECT_EQ(sorted(FindFilesByPattern("<regexpr>" + folder + "\\\\[ab]\\.lng$", true, false)),
            (std::vector<string>{"B.LNG", "a.lng"}));
  EXPECT_EQ(sorted(FindFilesByPattern("<bm>" + folder + "/c.", true, false)), (std::vector<string>{"c.txt"}));
}

}  // namespace
