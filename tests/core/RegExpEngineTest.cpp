#include "core/RegExpEngine.h"

#include <gtest/gtest.h>

#include <bitset>
#include <string>

#include "platform/Text.h"

namespace {

using std::string;

// Runs one search and gives the whole match, or "<none>".
string firstMatch(const string& pattern, const string& subject, bool ignoreCase = false) {
  TRegExpEngine re;
  re.SetModifierFlag(TRegExpEngine::modI, ignoreCase);
  re.SetExpression(pattern);
  if (!re.Exec(subject)) return "<none>";
  return "@" + std::to_string(re.MatchPos(0)) + ":" + re.GroupText(0);
}

int compileError(const string& pattern, string* message = nullptr) {
  TRegExpEngine re;
  re.SetExpression(pattern);
  try {
    (void)re.Exec("x");
  } catch (const ERegExpEngine& e) {
    if (message) *message = e.what();
    EXPECT_EQ(re.LastError(), e.Code);
    return e.Code;
  }
  return 0;
}

struct MatchCase {
  int line;
  string pattern;
  string subject;
  string expected;  // "@pos:text" or "<none>"
};

TEST(RegExpEngine, MatchTable) {
  const MatchCase cases[] = {
      // Only positions holding a possible first character are tried, and never
      // the end of the input: what can match only the empty text finds nothing
      // unless it starts with "^".
      {__LINE__, "a*", "bbb", "<none>"},
      {__LINE__, "a*", "baa", "@2:aa"},
      {__LINE__, "x?", "abc", "<none>"},
      {__LINE__, "$", "abc", "<none>"},
      {__LINE__, "\\b", "ab", "<none>"},
      {__LINE__, "^$", "", "@1:"},
      {__LINE__, "^", "abc", "@1:"},
      {__LINE__, "a*", "", "<none>"},
      // Counted repeats.
      {__LINE__, "a{2,3}", "aaaa", "@1:aaa"},
      {__LINE__, "a{2,3}?", "aaaa", "@1:aa"},
      {__LINE__, "(?-g)a{2,3}", "aaaa", "@1:aa"},
      {__LINE__, "(?-g)a+?", "aaa", "@1:a"},
      {__LINE__, "a{2}", "abaab", "@3:aa"},
      {__LINE__, "a{2,}", "aaaaab", "@1:aaaaa"},
      {__LINE__, "a{0}b", "ab", "@2:b"},
      {__LINE__, "(ab){2}", "abababx", "@1:abab"},
      {__LINE__, "(ab){2,}?", "abababx", "@1:abab"},
      {__LINE__, "(ab)*?x", "ababx", "@1:ababx"},
      {__LINE__, "(ab)??a", "aba", "@1:a"},
      // A literal run gives only its last character to a quantifier.
      {__LINE__, "abc*", "abccc", "@1:abccc"},
      {__LINE__, "abc*", "ab", "@1:ab"},
      {__LINE__, "abc{2}", "abcabcc", "@4:abcc"},
      // "{" that starts no quantifier is a character.
      {__LINE__, "a{b}", "xa{b}y", "@2:a{b}"},
      {__LINE__, "a{,2}", "a{,2}", "@1:a{,2}"},
      {__LINE__, "{2}", "x{2}", "@2:{2}"},
      {__LINE__, "]}", "a]}", "@2:]}"},
      // Modifier groups last to the end of the enclosing group.
      {__LINE__, "(?i)abc", "xABC", "@2:ABC"},
      {__LINE__, "((?i)a)b", "AB", "<none>"},
      {__LINE__, "((?i)a)b", "Ab", "@1:Ab"},
      {__LINE__, "(?i)a(?-i)b", "AB", "<none>"},
      {__LINE__, "(a(?i)b|c)", "C", "@1:C"},
      // Classes.
      {__LINE__, "^[a-\\d]+$", "a-0123456789", "@1:a-0123456789"},
      {__LINE__, "[a-\\d]", "b", "<none>"},
      {__LINE__, "[\\D]", "1D", "@2:D"},
      {__LINE__, "[]a]+", "x]a]", "@2:]a]"},
      {__LINE__, "[^]a]+", "]ab", "@3:b"},
      {__LINE__, "[a-]+", "x-a-", "@2:-a-"},
      {__LINE__, "[-a]+", "x-a-", "@2:-a-"},
      {__LINE__, "[\\x41-\\x43]+", "xABCD", "@2:ABC"},
      {__LINE__, "[\\]]", "a]", "@2:]"},
      {__LINE__, "[\\b]", "ab", "@2:b"},
      {__LINE__, "[\\s]+", "a \t\r\nb", "@2: \t\r\n"},
      // Escapes.
      {__LINE__, "\\x{0041}\\x42", "xAB", "@2:AB"},
      {__LINE__, "\\t\\e", "a\t\x1b", "@2:\t\x1b"},
      {__LINE__, "\\q\\.", "q.", "@1:q."},
      {__LINE__, "\\d+\\D", "ab12c", "@3:12c"},
      {__LINE__, "\\w+\\W\\s\\S", "ab_1! x", "@1:ab_1! x"},
      {__LINE__, "\\Aab", "abab", "@1:ab"},
      {__LINE__, "ab\\Z", "abab", "@3:ab"},
      {__LINE__, "\\bb", "ab b", "@4:b"},
      {__LINE__, "a\\B.", "a ab", "@3:ab"},
      // Back-references; an unset group makes the reference fail.
      {__LINE__, "(a+)b\\1", "aabaa", "@1:aabaa"},
      {__LINE__, "(x)?\\1b", "b", "<none>"},
      {__LINE__, "(a)\\1*b", "aaaab", "@1:aaaab"},
      {__LINE__, "(a*)b\\1+c", "bc", "@1:bc"},
      {__LINE__, "(a*)b(\\1)*c", "bc", "@1:bc"},
      // Alternation, in program order, first position wins.
      {__LINE__, "ab|a", "ab", "@1:ab"},
      {__LINE__, "a|ab", "ab", "@1:a"},
      {__LINE__, "(a|)?b", "b", "@1:b"},
      {__LINE__, "x|(y|z)+", "azyz", "@2:zyz"},
      // Lines: "." with s off, "^" and "$" with m on, never inside CR LF.
      {__LINE__, "a.b", "a\nb", "@1:a\nb"},
      {__LINE__, "(?-s)a.b", "a\nb", "<none>"},
      {__LINE__, "(?-s)a.+", "abc\r\nd", "@1:abc"},
      {__LINE__, "(?m)^b", "a\r\nb", "@4:b"},
      {__LINE__, "(?m)a$", "a\r\nb", "@1:a"},
      {__LINE__, "a$", "a\r\nb", "<none>"},
      {__LINE__, "(?m)^\\n", "a\r\n", "<none>"},
      {__LINE__, "(?m)^\\n", "a\n\n", "@3:\n"},
      {__LINE__, "(?m)\\r$", "a\r\n", "<none>"},
      // Extended syntax.
      {__LINE__, "(?x) a b # comment\n c", "abc", "@1:abc"},
      {__LINE__, "(?x)a b+", "abbb", "@1:abbb"},
      {__LINE__, "(?#note)ab", "ab", "@1:ab"},
      // The input ends at its first NUL.
      {__LINE__, "cd", string("ab\0cd", 5), "<none>"},
      {__LINE__, "b$", string("ab\0cd", 5), "@2:b"},
      // Repeats of simple atoms before a literal.
      {__LINE__, "a*ab", "aaab", "@1:aaab"},
      {__LINE__, "a*?ab", "aaab", "@1:aaab"},
      {__LINE__, ".*c", "abcabc", "@1:abcabc"},
      {__LINE__, ".*?c", "abcabc", "@1:abc"},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE("line " + std::to_string(c.line) + ": /" + c.pattern + "/");
    EXPECT_EQ(firstMatch(c.pattern, c.subject), c.expected);
  }
}

TEST(RegExpEngine, IgnoreCaseModifier) {
  EXPECT_EQ(firstMatch("abc", "xABC", true), "@2:ABC");
  EXPECT_EQ(firstMatch("[a-c]+", "xABC", true), "@2:ABC");
  EXPECT_EQ(firstMatch("(a)\\1", "aA", true), "@1:aA");
  EXPECT_EQ(firstMatch("(a)\\1", "aA", false), "<none>");
  EXPECT_EQ(firstMatch("(?-i)abc", "ABC", true), "<none>");
  // A repeat before an upper-case literal must not skip counts by comparing
  // the literal's first character case-sensitively.
  EXPECT_EQ(firstMatch("a*B", "aab", true), "@1:aab");
}

TEST(RegExpEngine, GroupsAndOffsets) {
  TRegExpEngine re;
  EXPECT_EQ(re.MatchedGroupCount(), -1);
  re.SetExpression("(a)(b)?(c)");
  ASSERT_TRUE(re.Exec("xac"));
  EXPECT_EQ(re.MatchedGroupCount(), 3);
  EXPECT_EQ(re.GroupText(1), "a");
  EXPECT_EQ(re.MatchPos(2), -1);
  EXPECT_EQ(re.GroupText(2), "");
  EXPECT_EQ(re.GroupText(15), "");
  EXPECT_EQ(re.GroupText(-1), "");

  re.SetExpression("a(b)?");
  ASSERT_TRUE(re.Exec("a"));
  EXPECT_EQ(re.MatchedGroupCount(), 0);

  // The last iteration of a repeated group is kept.
  re.SetExpression("(a|b)*c");
  ASSERT_TRUE(re.Exec("abac"));
  EXPECT_EQ(re.GroupText(1), "a");

  re.SetExpression("ab");
  re.SetInputString("abxab");
  ASSERT_TRUE(re.ExecFromOffset(2));
  EXPECT_EQ(re.MatchPos(0), 4);
  EXPECT_FALSE(re.ExecFromOffset(6));  // past the end + 1
  re.SetExpression("^$");
  re.SetInputString("");
  EXPECT_TRUE(re.ExecFromOffset(1));
}

struct ErrorCase {
  int line;
  string pattern;
  int code;
};

TEST(RegExpEngine, CompileErrors) {
  const string fifteenGroups = "(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)";
  const ErrorCase cases[] = {
      {__LINE__, "(a*)*", 106},
      {__LINE__, "()+", 106},
      {__LINE__, "(\\b){2}", 106},
      {__LINE__, "(a|b*)+", 106},
      {__LINE__, "a**", 107},
      {__LINE__, "a*{", 107},
      {__LINE__, "a*?+", 107},
      {__LINE__, "a???", 107},
      {__LINE__, "\\xg1", 108},
      {__LINE__, "\\x4g", 108},
      {__LINE__, "\\x{4g}", 108},
      {__LINE__, "[z-a]", 109},
      {__LINE__, "[\\xE0-\\xDF]", 0},  // the r-modifier's letter range
      {__LINE__, "(?-r)[\\xE0-\\xDF]", 109},
      {__LINE__, "[abc\\", 110},
      {__LINE__, "\\x", 111},
      {__LINE__, "\\x4", 111},
      {__LINE__, "\\x{41", 111},
      {__LINE__, "\\x{123}", 112},
      {__LINE__, "\\x{00041}", 0},
      {__LINE__, "[abc", 113},
      {__LINE__, "[", 113},
      {__LINE__, "*a", 115},
      {__LINE__, "a|+", 115},
      {__LINE__, "(?)", 0},
      {__LINE__, "abc\\", 116},
      {__LINE__, "a{123456789}", 122},
      {__LINE__, "a{12345678}", 0},
      {__LINE__, "a{3,2}", 124},
      {__LINE__, "(?#abc", 125},
      {__LINE__, "(?q)", 127},
      {__LINE__, "(?i", 127},
      {__LINE__, "(?:a)", 127},
      {__LINE__, "(?=a)", 127},
      {__LINE__, "(abc", 103},
      {__LINE__, "((a)", 103},
      {__LINE__, "a)", 104},
      {__LINE__, fifteenGroups, 102},
      {__LINE__, fifteenGroups.substr(3), 0},
      {__LINE__, "(a|)?", 0},
      {__LINE__, "(a*)?", 0},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE("line " + std::to_string(c.line) + ": /" + c.pattern + "/");
    EXPECT_EQ(compileError(c.pattern), c.code);
  }
}

TEST(RegExpEngine, ErrorMessages) {
  string message;
  EXPECT_EQ(compileError("(abc", &message), 103);
  EXPECT_EQ(message, "TRegExpEngine(comp): ParseReg Unmatched () (pos 4)");
  EXPECT_EQ(compileError("(?q)", &message), 127);
  EXPECT_EQ(message.rfind("TRegExpEngine(comp): Urecognized Modifier (pos ", 0), 0u) << message;

  TRegExpEngine re;
  try {
    (void)re.Exec("abc");
    ADD_FAILURE() << "no error for a search without expression";
  } catch (const ERegExpEngine& e) {
    EXPECT_EQ(e.Code, 1003);
    EXPECT_EQ(e.Position, 0);
    EXPECT_STREQ(e.what(), "TRegExpEngine(exec): Not Assigned Expression Property");
  }
  re.SetExpression("a");
  re.SetExpression("");  // an empty text leaves no expression assigned
  EXPECT_THROW((void)re.Exec("a"), ERegExpEngine);
  EXPECT_EQ(re.LastError(), 1003);

  TRegExpEngine fresh;
  fresh.SetExpression("a");
  try {
    (void)fresh.ExecFromOffset(1);
    ADD_FAILURE() << "no error without input";
  } catch (const ERegExpEngine& e) {
    EXPECT_EQ(e.Code, 1005);
    EXPECT_STREQ(e.what(), "TRegExpEngine(exec): No Inpit String Specified");
  }
  re.SetExpression("a");
  re.SetInputString("a");
  try {
    (void)re.ExecFromOffset(0);
    ADD_FAILURE() << "no error for offset 0";
  } catch (const ERegExpEngine& e) {
    EXPECT_EQ(e.Code, 1006);
  }
  try {
    re.SetModifierFlag(7, true);
    ADD_FAILURE() << "no error for modifier 7";
  } catch (const ERegExpEngine& e) {
    EXPECT_EQ(e.Code, 1013);
    EXPECT_STREQ(e.what(), "Unknown error");
  }
  for (const char* bad : {"xx", "abc", "a"}) {
    SCOPED_TRACE(bad);
    try {
      re.SetLinePairedSeparator(bad);
      ADD_FAILURE() << "accepted";
    } catch (const ERegExpEngine& e) {
      EXPECT_EQ(e.Code, 128);
    }
  }
  re.SetLinePairedSeparator("");
  EXPECT_EQ(re.LinePairedSeparator(), "");
  EXPECT_EQ(re.ErrorText(0), "No errors");
  EXPECT_EQ(re.ErrorText(1015), "TRegExpEngine(exec): Loop Without LoopEntry !");
  EXPECT_EQ(re.ErrorText(42), "Unknown error");
}

TEST(RegExpEngine, ModifiersRecompile) {
  TRegExpEngine re;
  re.SetExpression("abc");
  EXPECT_FALSE(re.Exec("ABC"));
  re.SetModifierFlag(TRegExpEngine::modI, true);
  EXPECT_TRUE(re.Exec("ABC"));
  EXPECT_TRUE(re.ModifierFlag(TRegExpEngine::modI));
  EXPECT_TRUE(re.ModifierFlag(TRegExpEngine::modR));
  EXPECT_TRUE(re.ModifierFlag(TRegExpEngine::modS));
  EXPECT_TRUE(re.ModifierFlag(TRegExpEngine::modG));
  EXPECT_FALSE(re.ModifierFlag(TRegExpEngine::modM));
  EXPECT_FALSE(re.ModifierFlag(TRegExpEngine::modX));
}

TEST(RegExpEngine, LinePairAndSeparators) {
  TRegExpEngine re;
  re.SetModifierFlag(TRegExpEngine::modM, true);
  re.SetExpression("^b");
  EXPECT_FALSE(re.Exec("a|b"));
  re.SetLineSeparators("|");
  re.SetLinePairedSeparator("");
  EXPECT_TRUE(re.Exec("a|b"));
  EXPECT_FALSE(re.Exec("a\nb"));
}

TEST(RegExpEngine, RussianLetterRanges) {
  // With r on, the ranges of the code page 1251 letters include the letter yo.
  EXPECT_EQ(firstMatch("[\\xE0-\\xFF]", "a\xB8"), "@2:\xB8");
  EXPECT_EQ(firstMatch("(?-r)[\\xE0-\\xFF]", "a\xB8"), "<none>");
  EXPECT_EQ(firstMatch("[\\xC0-\\xDF]", "a\xA8"), "@2:\xA8");
  EXPECT_EQ(firstMatch("[\\xE0-\\xDF]+", "a\xA8\xC0\xFF\xB8"), "@2:\xA8\xC0\xFF\xB8");
}

TEST(RegExpEngine, LoopStackLimit) {
  auto nested = [](int depth) {
    string p;
    for (int i = 0; i < depth; ++i) p += "(";
    p += "a";
    for (int i = 0; i < depth; ++i) p += "){1,2}";
    return p;
  };
  TRegExpEngine re;
  re.SetExpression(nested(10));
  EXPECT_TRUE(re.Exec("aa"));
  re.SetExpression(nested(11));
  try {
    (void)re.Exec("aa");
    ADD_FAILURE() << "eleven nested loops accepted";
  } catch (const ERegExpEngine& e) {
    EXPECT_EQ(e.Code, 1014);
    EXPECT_STREQ(e.what(), "TRegExpEngine(exec): Loop Stack Exceeded");
  }
  // Loops one after another reuse the same level.
  string seq;
  for (int i = 0; i < 12; ++i) seq += "(a){1,2}";
  re.SetExpression(seq.substr(0, 8 * 12));
  EXPECT_TRUE(re.Exec(string(12, 'a')));
}

// Nested loops over the same characters backtrack exponentially when the
// match fails; the step limit ends the search with an error naming the
// pattern, while a long subject that only takes many start positions does not
// reach it.
TEST(RegExpEngine, StepLimitEndsRunawayBacktracking) {
  // The "b" must be present, or the required-literal check refuses at once.
  const string runaway = string(9998, 'a') + "cb";
  TRegExpEngine re;
  re.SetExpression("(a+)+b");
  try {
    (void)re.Exec(runaway);
    ADD_FAILURE() << "the runaway search returned";
  } catch (const ERegExpEngine& e) {
    EXPECT_EQ(e.Code, 1016);
    EXPECT_EQ(re.LastError(), 1016);
    EXPECT_STREQ(e.what(), "TRegExpEngine(exec): Step Limit Exceeded matching \"(a+)+b\"");
  }
  // The engine stays usable, and the same pattern still finds what is there.
  EXPECT_TRUE(re.Exec("xxaab"));
  EXPECT_EQ(re.GroupText(0), "aab");

  // Every start position of a megabyte is tried; none takes many steps.
  const string longText = string(1 << 20, 'q') + "7";
  re.SetExpression("[a-z]{1,3}[0-9]");
  EXPECT_TRUE(re.Exec(longText));
  EXPECT_EQ(re.MatchPos(0), (1 << 20) - 2);
}

class RegExpCodePage : public ::testing::Test {
protected:
  void TearDown() override { platform::setActiveCodePage(saved_); }
  unsigned saved_ = platform::activeCodePage();
};

TEST_F(RegExpCodePage, CaseFoldingFollowsTheCodePage) {
  platform::setActiveCodePage(1252);
  EXPECT_EQ(TRegExpEngine::ToggleCase('a'), 'A');
  EXPECT_EQ(TRegExpEngine::ToggleCase('Z'), 'z');
  EXPECT_EQ(TRegExpEngine::ToggleCase(0xE9), 0xC9);  // e acute
  EXPECT_EQ(TRegExpEngine::ToggleCase(0xC9), 0xE9);
  EXPECT_EQ(TRegExpEngine::ToggleCase(0xFF), 0x9F);  // y diaeresis
  EXPECT_EQ(TRegExpEngine::ToggleCase(0x9A), 0x8A);  // s caron
  EXPECT_EQ(TRegExpEngine::ToggleCase(0xDF), 0xDF);  // sharp s has no single-byte upper form
  EXPECT_EQ(TRegExpEngine::ToggleCase(0xB5), 0xB5);  // micro sign: its upper form is not in 1252
  EXPECT_EQ(firstMatch("\xE9t\xE9", "\xC9T\xC9", true), "@1:\xC9T\xC9");

  platform::setActiveCodePage(1251);
  EXPECT_EQ(TRegExpEngine::ToggleCase(0xB8), 0xA8);  // yo
  EXPECT_EQ(TRegExpEngine::ToggleCase(0xE0), 0xC0);

  platform::setActiveCodePage(platform::kCodePageUtf8);
  for (int c = 128; c < 256; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(TRegExpEngine::ToggleCase(static_cast<unsigned char>(c)), c);
  }
  EXPECT_EQ(firstMatch("\xC3\xA9", "\xC3\x89", true), "<none>");
}

// Long subjects: the matcher must not use the native stack per character.
// A "no" from MayMatchWithin is a promise: no text of those characters
// matches, and Exec decides that without a step (so even a runaway pattern
// raises nothing on it).
TEST(RegExpEngine, MayMatchWithinAnAlphabet) {
  const std::string hex = "0123456789ABCDEF ";
  std::bitset<256> hexChars;
  for (char c : hex) hexChars.set(static_cast<unsigned char>(c));
  struct Case {
    const char* pattern;
    bool ignoreCase;
    bool may;
  };
  const Case cases[] = {
      {"Tcp.p", true, false},      // every start is "t" or "T"
      {"Tcp.p", false, false},     // the start character
      {"a", true, true},           // "A" is a hex digit
      {"a", false, false},
      {"^x", false, true},         // anchored: tried at the start whatever the text
      {"[0-9]{3}", false, true},
      {"(a+)+b", false, false},    // its first characters
      {"x*0A", false, true},       // may start with "0"
      {".*xy", false, false},      // a leading repeat: the literal is required
      {".*0A", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    TRegExpEngine re;
    re.SetModifierFlag(TRegExpEngine::modI, c.ignoreCase);
    re.SetExpression(c.pattern);
    EXPECT_EQ(re.MayMatchWithin(hexChars), c.may);
    if (!c.may) {
      // Texts of every hex character and of none: never a match.
      for (const std::string text : {hex + hex + hex, std::string(5000, 'A'), std::string()})
        EXPECT_FALSE(re.Exec(text)) << text;
    }
  }
  TRegExpEngine none;
  EXPECT_THROW(none.MayMatchWithin(hexChars), ERegExpEngine);
}

TEST(RegExpEngine, MegabyteSubjectsDoNotExhaustTheStack) {
  string ab;
  ab.reserve(1 << 20 | 1);
  for (int i = 0; i < (1 << 19); ++i) ab += "ab";

  TRegExpEngine re;
  re.SetExpression("(a|b)*c");
  EXPECT_FALSE(re.Exec(ab));  // fails at once: "c" is required
  EXPECT_TRUE(re.Exec(ab + "c"));
  EXPECT_EQ(re.MatchLen(0), static_cast<int>(ab.size()) + 1);
  EXPECT_EQ(re.GroupText(1), "b");

  // Anchored, so one attempt that has to give back every iteration.
  re.SetExpression("^(a|b)*\\d");
  EXPECT_FALSE(re.Exec(ab));
  re.SetExpression("^(ab)*?$");
  EXPECT_TRUE(re.Exec(ab));
  re.SetExpression("^(a|b){1,}$");
  EXPECT_TRUE(re.Exec(ab));
  re.SetExpression("^(?:x)");  // still rejected, whatever the subject size
  EXPECT_THROW((void)re.Exec(ab), ERegExpEngine);
}

}  // namespace
