// The crash reporter's string operations: the cases where their rules are
// easy to get wrong (backward search, the "$" and "-" placement in padding,
// the case tables' narrow reach, list items around empty ones).

#include <gtest/gtest.h>

#include <string>

#include "crashreport/zebStrings.h"

using namespace zeb;

namespace {

std::string sep() { return std::string(1, DecimalSeparator()); }

}  // namespace

TEST(zebStrings, EdgeCases) {
  struct Case {
    const char* what;
    std::string got;
    std::string expected;
  };
  std::string semicolons = "a;b;c";
  ReplaceCaseSensitive(semicolons, ";", ",");
  std::string dots = "C:\\.\\.\\.\\x";
  ReplaceAll(dots, "\\.\\", "\\", false, true);
  std::string dotsOnce = "C:\\.\\.\\.\\x";
  ReplaceAll(dotsOnce, "\\.\\", "\\", false, false);
  std::string caseless = "One one ONE";
  ReplaceIgnoringCase(caseless, "one", "1");
  std::string growing = "a-b";
  ReplaceAll(growing, "-", "--", false, true);
  std::string selfRescan = "aaa";
  ReplaceAll(selfRescan, "A", "a", true, true);
  std::string trimmed = "\t  x y \r\n";
  TrimBlanks(trimmed);
  std::string blanks = " \t\x01 ";
  TrimBlanks(blanks);
  std::string list = " a ; b;;  ;d ";
  NormaliseList(list, ';');
  std::string kept = "abcdef";
  KeepPart(kept, 2, 3);
  std::string keptPast = "abc";
  KeepPart(keptPast, 3, 10);

  const Case cases[] = {
      {"FindText forwards", std::to_string(FindText("ab", "xabyab", 1, 6)), "2"},
      {"FindText backwards finds the last start at or before from", std::to_string(FindText("ab", "xabyab", 6, 1)),
       "5"},
      {"FindText backwards from inside the last match", std::to_string(FindText("ab", "xabyab", 4, 1)), "2"},
      {"FindText backwards stops at to", std::to_string(FindText("ab", "xabyab", 4, 3)), "0"},
      {"FindText to 0", std::to_string(FindText("ab", "xabyab", 6, 0)), "0"},
      {"FindText pattern longer than text", std::to_string(FindText("abc", "ab", 1, 2)), "0"},
      {"FindText exact case", std::to_string(FindText("AB", "xabyab", 1, 6)), "0"},
      {"FindTextIgnoringCase with 1252 capitals", std::to_string(FindTextIgnoringCase("\xC9t\xC9", "l'\xE9t\xE9", 1, 9)),
       "3"},
      {"FindCharOf last", std::to_string(FindCharOf(MakeCharSet("/\\"), "a/b\\c", 9, 1)), "4"},
      {"FindCharOf first", std::to_string(FindCharOf(MakeCharSet("/\\"), "a/b\\c", 1, 9)), "2"},
      {"StartsWith empty prefix", std::to_string(StartsWith("", "abc")), "1"},
      {"StartsWithIgnoringCase", std::to_string(StartsWithIgnoringCase("ABC", "abcd")), "1"},
      {"CompareIgnoringCase by length", std::to_string(CompareIgnoringCase("ABC", "abcde")), "-2"},
      {"CompareIgnoringCase by byte", std::to_string(CompareIgnoringCase("abd", "ABC")), "1"},
      {"SameTextIgnoringCase 1252", std::to_string(SameTextIgnoringCase("\x8A\x9F", "\x9A\xFF")), "1"},
      {"LowerChar folds 0xC9", std::string(1, LowerChar('\xC9')), "\xE9"},
      {"LowerChar keeps the multiplication sign", std::string(1, LowerChar('\xD7')), "\xD7"},
      {"UpperText leaves 0xE9 unchanged", UpperText("abc\xE9\xE4\xF6\xFC"), "ABC\xE9\xC4\xD6\xDC"},
      {"LowerText leaves 0xC9 unchanged", LowerText("ABC\xC9\xC4\xD6\xDC"), "abc\xC9\xE4\xF6\xFC"},
      {"PadText negative number with zeros", PadText("-5", 4, '0'), "-005"},
      {"PadText negative number with blanks", PadText("-5", 4, ' '), "  -5"},
      {"PadText negative width pads on the right", PadText("ab", -4, '.'), "ab.."},
      {"PadText longer text stays", PadText("abcdef", 3, '0'), "abcdef"},
      {"DecimalTextPadded", DecimalTextPadded(-42, 6, '0'), "-00042"},
      {"HexText 64-bit", HexText(0x12300000045ull), "12300000045"},
      {"HexTextPadded zero", HexTextPadded(0, 1, '0'), "$0"},
      {"HexTextPadded digit fill", HexTextPadded(0xFF00, 8, '0'), "$0000ff00"},
      {"HexTextPadded blank fill", HexTextPadded(0xFF, 4, ' '), "  $ff"},
      {"HexTextPadded negative width", HexTextPadded(0xFF, -4, ' '), "$ff  "},
      {"ParseNumber decimal", std::to_string(ParseNumber(false, "-123")), "-123"},
      {"ParseNumber hex", std::to_string(ParseNumber(true, "fF")), "255"},
      {"ParseNumber counts letters in decimal", std::to_string(ParseNumber(false, "1a")), "20"},
      {"SizeText bytes", SizeText(1023), "1023 Bytes"},
      {"SizeText KB", SizeText(1536), "1" + sep() + "50 KB"},
      {"SizeText MB", SizeText(5 * 1048576 + 10 * 1024), "5" + sep() + "00 MB"},
      {"SizeText GB", SizeText(5 * 1073741824ll / 2), "2" + sep() + "50 GB"},
      {"SizeText negative", SizeText(-2048), "-2" + sep() + "00 KB"},
      {"ListCount empty", std::to_string(ListCount("", ';')), "0"},
      {"ListCount", std::to_string(ListCount("a;;c;d", ';')), "4"},
      {"ListItem over an empty item", ListItem("a;b;;d", 4, ';'), "d"},
      {"ListItem empty item", ListItem("a;b;;d", 3, ';'), ""},
      {"ListItem past the end", ListItem("a;b", 3, ';'), ""},
      {"NormaliseList", list, "a;b;d"},
      {"NormaliseList drops an item", std::to_string(ListCount(list, ';')), "3"},
      {"ListContains bounded", std::to_string(ListContains("ab;b;c", "b", ';')), "1"},
      {"ListContains not inside an item", std::to_string(ListContains("ab;bc", "b", ';')), "0"},
      {"ListContainsIgnoringCase", std::to_string(ListContainsIgnoringCase("ab;BC", "bc", ';')), "1"},
      {"ReplaceCaseSensitive list", semicolons, "a,b,c"},
      {"ReplaceAll rescan collapses", dots, "C:\\x"},
      {"ReplaceAll without rescan", dotsOnce, "C:\\.\\x"},
      {"ReplaceIgnoringCase", caseless, "1 1 1"},
      {"ReplaceAll rescan of a self-matching growth ends", growing, "a--b"},
      {"ReplaceAll rescan by the same text ends", selfRescan, "aaa"},
      {"TrimBlanks", trimmed, "x y"},
      {"TrimBlanks only blanks", blanks, ""},
      {"KeepPart", kept, "bcd"},
      {"KeepPart past the end", keptPast, "c"},
      {"RightPart", RightPart("abcdef", 2), "ef"},
      {"RightPart longer than text", RightPart("ab", 5), "ab"},
      {"DeletedCopy", DeletedCopy("abcdef", 2, 3), "aef"},
      {"Descramble twice", Descramble(Descramble("kernel32")), "kernel32"},
      {"Descramble", Descramble("A"), "\xDF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.got, c.expected);
  }
}

TEST(zebStrings, FindInBufferZeroLengthsMeanZeroTerminated) {
  EXPECT_EQ(FindInBuffer("lo", 0, "hello", 0, 0, 10, false), 3);
  EXPECT_EQ(FindInBuffer("l", 0, "hello", 0, 10, 0, false), 3);
  EXPECT_EQ(FindInBuffer("", 0, "hello", 0, 0, 10, false), -1);
  EXPECT_EQ(FindInBuffer("x", 1, "", 0, 0, 10, false), -1);
}

TEST(zebStrings, RemoveCharsTellWhetherSomethingWent) {
  std::string text = "a-b-c";
  EXPECT_TRUE(RemoveChar(text, '-'));
  EXPECT_EQ(text, "abc");
  EXPECT_FALSE(RemoveChar(text, '-'));
  EXPECT_TRUE(RemoveChars(text, MakeCharSet("ac")));
  EXPECT_EQ(text, "b");
}

TEST(zebStrings, WidenTextWidensBytesWithoutConversion) {
  EXPECT_EQ(WidenText("A\xE9", false), std::u16string(u"A\u00E9"));
  const std::u16string terminated = WidenText("ab", true);
  ASSERT_EQ(terminated.size(), 3u);
  EXPECT_EQ(terminated[2], u'\0');
}

TEST(zebStrings, ErrorCodeTextIsOneLineAndNeverEmpty) {
  EXPECT_EQ(ErrorCodeText(2), "The system cannot find the file specified.");
  // A kernel status goes through its error code.
  EXPECT_EQ(ErrorCodeText(0xC0000034), "The system cannot find the file specified.");
  const std::string unknown = ErrorCodeText(0x3ABCDEF);
  EXPECT_EQ(unknown, "Unknown error $3abcdef");
  EXPECT_EQ(unknown.find_first_of("\r\n"), std::string::npos);
}
