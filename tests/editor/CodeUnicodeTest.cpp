#include "editor/CodeUnicode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CodePageGuard.h"
#include "tests/support/TempDir.h"
#include "tests/support/ThrownText.h"

using namespace codeedit;

namespace {

std::vector<std::u16string> linesOf(const TUnicodeStrings& list) {
  std::vector<std::u16string> lines;
  for (int i = 0; i < list.Count(); ++i) lines.push_back(list.Strings(i));
  return lines;
}

}  // namespace

TEST(CodeUnicode, ZeroTerminatedRoutinesStopAtTheZeroAndAlwaysTerminate) {
  char16_t buffer[16] = u"xxxxxxxx";
  WideStrLCopy(buffer, u"abc", 0);
  EXPECT_EQ(buffer[0], u'\0');
  WideStrLCopy(buffer, u"abcdef", 3);
  EXPECT_EQ(std::u16string(buffer), u"abc");
  WideStrLCopy(buffer, u"ab", 10);
  EXPECT_EQ(std::u16string(buffer), u"ab");
  WideStrCat(buffer, u"cd");
  EXPECT_EQ(std::u16string(buffer), u"abcd");
  EXPECT_EQ(WideStrEnd(buffer), buffer + 4);
  WideStrMove(buffer + 1, buffer, 4);  // overlapping
  EXPECT_EQ(std::u16string(buffer, 5), u"aabcd");

  EXPECT_EQ(WideStrNew(nullptr), nullptr);
  WideStrDispose(nullptr);
  char16_t* copy = WideStrNew(u"hello");
  EXPECT_EQ(std::u16string(copy), u"hello");
  EXPECT_EQ(reinterpret_cast<const std::uint32_t*>(copy)[-1], 6u * 2 + 4);
  WideStrDispose(copy);
}

TEST(CodeUnicode, CharacterRoutines) {
  EXPECT_EQ(WideUpperCaseOf(u"ab\u00E4\u0142 1"), u"AB\u00C4\u0141 1");
  EXPECT_EQ(WideLowerCaseOf(u"AB\u00C4\u0141"), u"ab\u00E4\u0142");
  EXPECT_EQ(WideUpperCaseOf(u""), u"");
  char16_t text[] = u"mIx";
  EXPECT_EQ(WideCharUpper(text), text);
  EXPECT_EQ(std::u16string(text), u"MIX");

  TCodeCharSet all;
  all.set();
  EXPECT_FALSE(WideCharInSet(u'\u0141', all));
  EXPECT_TRUE(WideCharInSet(u'A', all));

  EXPECT_EQ(WideTrim(u" \t\r\n\x01 "), u"");
  EXPECT_EQ(WideTrim(u"\t a b \x1f"), u"a b");
  EXPECT_EQ(WideStringOfChar(u'-', 3), u"---");

  char16_t swapped[] = {0x4100, 0x0042, 0, 0x4300};
  SwapWideByteOrder(swapped);
  EXPECT_EQ(swapped[0], 0x0041);
  EXPECT_EQ(swapped[1], 0x4200);
  EXPECT_EQ(swapped[3], 0x4300);  // after the 0: untouched
}

TEST(CodeUnicode, CodePageLookupsFollowTheActiveCodePage) {
  CodePageGuard pinned(1252);
  EXPECT_EQ(DefaultAnsiCodePage(), 1252u);
  EXPECT_EQ(CodePageFromLocale(0xFFFFFFFF), 1252u);
  EXPECT_TRUE(CharIsRepresentable(u'\u00E9'));
  EXPECT_FALSE(CharIsRepresentable(u'\u0141'));
  EXPECT_EQ(KeyToUnicode('\xE9'), u'\u00E9');
  EXPECT_EQ(AnsiToWideInCodePage("\xE9", 1251), u"\u0439");
}

TEST(TUnicodeStrings, EightBitLinesComeFromTheActiveCodePage) {
  {
    CodePageGuard pinned(1252);
    TUnicodeStringList list;
    list.AddAnsiStrings({"caf\xE9"});
    list.AddStrings({"\"\x80\"=\"x\""});
    EXPECT_EQ(linesOf(list), (std::vector<std::u16string>{u"caf\u00E9", u"\"\u20AC\"=\"x\""}));
  }
  CodePageGuard utf8(65001);
  TUnicodeStringList list;
  list.AddAnsiStrings({"[HKEY_CURRENT_USER\\caf\xC3\xA9]"});
  EXPECT_EQ(list.Strings(0), u"[HKEY_CURRENT_USER\\caf\u00E9]");
  std::vector<std::string> back;
  list.AssignTo(back);
  EXPECT_EQ(back, std::vector<std::string>{"[HKEY_CURRENT_USER\\caf\xC3\xA9]"});
}

TEST(TUnicodeStrings, TextJoinsWithCrLfAndNothingAfterTheLastLine) {
  TUnicodeStringList list;
  EXPECT_EQ(list.Text(), u"");
  list.Add(u"");
  EXPECT_EQ(list.Text(), u"");
  list.Clear();
  list.Add(u"a");
  list.Add(u"b");
  EXPECT_EQ(list.Text(), u"a\r\nb");
  EXPECT_EQ(list.GetSeparatedText(u"--"), u"a--b");
  char16_t* buffer = list.GetTextBuffer();
  EXPECT_EQ(std::u16string(buffer), u"a\r\nb");
  WideStrDispose(buffer);
}

TEST(TUnicodeStrings, SetAllTextSplitsAtEveryBreakCharacter) {
  struct Case {
    std::u16string text;
    std::vector<std::u16string> lines;
  } cases[] = {
      {u"a\r\rb", {u"a", u"", u"b"}},
      {u"a\n", {u"a"}},
      {u"a\r\nb\n\rc", {u"a", u"b", u"", u"c"}},
      {u"a\vb\fc\u2028d\u2029e", {u"a", u"b", u"c", u"d", u"e"}},
      {std::u16string(u"a\0b", 3), {u"a"}},  // the text ends at a 0 character
      {u"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text.size() << " characters");
    TUnicodeStringList list;
    list.SetAllText(c.text);
    EXPECT_EQ(linesOf(list), c.lines);
  }
}

TEST(TUnicodeStrings, LoadingReadsTheByteOrderMark) {
  struct Case {
    std::string bytes;
    TCodeSaveFormat format;
    std::vector<std::u16string> lines;
  } cases[] = {
      {"\xFF\xFE", sfUTF16LE, {}},
      {"\xFF\xFE\x41", sfUTF16LE, {}},
      {std::string("\xFF\xFE\x41\x00\x0D\x00\x0A\x00\x42\x00", 10), sfUTF16LE, {u"A", u"B"}},
      {std::string("\xFE\xFF\x00\x41\x04\x10", 6), sfUTF16BE, {u"A\u0410"}},
      {"\xEF\xBB\xBF", sfUTF8, {}},
      {"\xEF\xBB\xBF" "caf\xC3\xA9", sfUTF8, {u"caf\u00E9"}},
      {"", sfAnsi, {}},
      {std::string("\xFF\xFE\x00\x00", 4), sfUTF16LE, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bytes.size() << " bytes");
    TUnicodeStringList list;
    list.SetSaveFormat(sfUTF8);
    std::istringstream in(c.bytes);
    list.LoadFromStream(in);
    EXPECT_EQ(list.SaveFormat(), c.format);
    EXPECT_EQ(linesOf(list), c.lines);
  }
}

TEST(TUnicodeStrings, SavingWritesEachFormatAndTheMarkOnlyWhenAsked) {
  struct Case {
    TCodeSaveFormat format;
    bool withBom;
    std::string bytes;
  } cases[] = {
      {sfUTF16LE, true, std::string("\xFF\xFE" "a\0\r\0\n\0\xE9\0", 10)},
      {sfUTF16LE, false, std::string("a\0\r\0\n\0\xE9\0", 8)},
      {sfUTF16BE, true, std::string("\xFE\xFF\0a\0\r\0\n\0\xE9", 10)},
      {sfUTF8, true, "\xEF\xBB\xBF" "a\r\n\xC3\xA9"},
      {sfUTF8, false, "a\r\n\xC3\xA9"},
      {sfAnsi, true, "a\r\n\xE9"},
  };
  CodePageGuard pinned(1252);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << int(c.format) << (c.withBom ? " with" : " without") << " mark");
    TUnicodeStringList list;
    list.Add(u"a");
    list.Add(u"\u00E9");
    list.SetSaveFormat(c.format);
    std::ostringstream out;
    list.SaveToStream(out, c.withBom);
    EXPECT_EQ(out.str(), c.bytes);
    EXPECT_TRUE(list.Saved());
    // What was written reads back as the same lines and format.
    TUnicodeStringList back;
    std::istringstream in(out.str());
    back.LoadFromStream(in);
    if (c.withBom || c.format == sfAnsi) {
      EXPECT_EQ(back.SaveFormat(), c.format);
      EXPECT_TRUE(back.Equals(list));
    }
  }
}

TEST(TUnicodeStrings, ARefusedConversionWritesNothing) {
  TUnicodeStringList list;
  list.Add(u"\u0141x");
  list.SetSaveFormat(sfAnsi);
  int asked = 0;
  list.OnConfirmConversion = [&](TUnicodeStrings&, bool& allowed) {
    ++asked;
    allowed = false;
  };
  std::ostringstream out;
  list.SaveToStream(out, true);
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(list.Saved());
  EXPECT_EQ(asked, 1);

  testsupport::TempDir dir;
  const auto file = dir / "log.txt";
  std::ofstream(file) << "old";
  list.SaveToFile(file.string());
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");

  // Text a code page holds whole asks nothing.
  list.PutString(0, u"\u00E9");
  list.SaveToStream(out, true);
  EXPECT_EQ(asked, 2);  // once for the stream, once for the file
  EXPECT_TRUE(list.Saved());
}

TEST(TUnicodeStrings, LoadingAMissingFileRaisesTheSystemError) {
  testsupport::TempDir dir;
  TUnicodeStringList list;
  list.Add(u"kept");
  const std::string missing = (dir / "missing.txt").string();
  EXPECT_EQ(thrownText([&] { list.LoadFromFile(missing); }),
            "System Error.  Code: 2.\r\nThe system cannot find the file specified.");
  try {
    list.LoadFromFile(dir.path().string());  // a folder cannot be read
    ADD_FAILURE() << "nothing thrown";
  } catch (const EOSError& e) {
    EXPECT_NE(e.ErrorCode, 0u);
  }
  EXPECT_EQ(linesOf(list), std::vector<std::u16string>{u"kept"});
}

TEST(TUnicodeStringList, IndexErrorsAndSortedListRules) {
  TUnicodeStringList list;
  list.Add(u"b");
  EXPECT_EQ(thrownText([&] { list.GetString(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(thrownText([&] { list.GetObject(1); }), "List index out of bounds (1)");
  EXPECT_EQ(thrownText([&] { list.Insert(2, u"x"); }), "List index out of bounds (2)");
  EXPECT_EQ(thrownText([&] { list.Exchange(0, 5); }), "List index out of bounds (5)");
  list.Insert(1, u"a");

  list.SetSorted(true);  // sorts what is there
  EXPECT_EQ(linesOf(list), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(thrownText([&] { list.Insert(0, u"x"); }), "Operation not allowed on sorted list");
  EXPECT_EQ(thrownText([&] { list.PutString(0, u"x"); }), "Operation not allowed on sorted list");
  EXPECT_EQ(list.Add(u"AB"), 1);
  EXPECT_EQ(list.Add(u"ab"), 1);  // ignored: equal with case ignored
  EXPECT_EQ(list.Count(), 3);
  list.SetDuplicates(dpError);
  EXPECT_EQ(thrownText([&] { list.Add(u"B"); }), "String list does not allow duplicates");
  list.SetDuplicates(dpAccept);
  list.Add(u"b");
  list.Add(u"B");
  int index = -1;
  EXPECT_TRUE(list.Find(u"b", index));
  EXPECT_EQ(index, 2);  // the first of the equal items
  EXPECT_FALSE(list.Find(u"aa", index));
  EXPECT_EQ(index, 1);
  EXPECT_EQ(list.IndexOf(u"Ab"), 1);
  EXPECT_EQ(list.IndexOf(u"c"), -1);
}

TEST(TUnicodeStringList, AnUpdateReportsOneChangeAndCapacityGrowsInSteps) {
  TUnicodeStringList list;
  std::string events;
  list.OnChanging = [&](TUnicodeStrings&) { events += "<"; };
  list.OnChange = [&](TUnicodeStrings&) { events += ">"; };
  list.Add(u"x");
  EXPECT_EQ(events, "<>");
  EXPECT_EQ(list.GetCapacity(), 4);
  events.clear();
  list.SetAllText(u"1\n2\n3\n4\n5\n6\n7\n8\n9\n10");
  EXPECT_EQ(events, "<>");
  EXPECT_EQ(list.GetCapacity(), 12);
  list.Move(0, 9);
  EXPECT_EQ(list.Strings(9), u"1");
  EXPECT_EQ(list.IndexOf(u"10"), 8);
  events.clear();
  list.Clear();
  EXPECT_EQ(events, "<>");
  list.Clear();  // nothing to clear: no events
  EXPECT_EQ(events, "<>");
}
