#include "unicode/UniClasses.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Text.h"
#include "tests/support/ThrownText.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "unicode/UniSystem.h"

using namespace uni;

namespace {

std::u16string wide(const std::filesystem::path& path) { return platform::wtf8ToUtf16(path.string()); }

std::vector<std::u16string> lines(const TUniStrings& list) {
  std::vector<std::u16string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Strings(i));
  return out;
}

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out.push_back(digits[static_cast<unsigned char>(c) >> 4]);
    out.push_back(digits[static_cast<unsigned char>(c) & 15]);
  }
  return out;
}

using Lines = std::vector<std::u16string>;

}  // namespace

TEST(UniStringsLoad, DetectsTheByteOrderMark) {
  platform::setActiveCodePage(1252);
  struct Case {
    const char* name;
    std::string bytes;
    Lines lines;
    TTextFileEncoding encoding;
  };
  const Case cases[] = {
      {"UTF-16LE", std::string("\xFF\xFE" "A\0\r\0\n\0B\0", 10), {u"A", u"B"}, tfeUnicode},
      {"UTF-16BE", std::string("\xFE\xFF\0A\0\r\0\n\0B", 10), {u"A", u"B"}, tfeUnicodeSwapped},
      {"UTF-8", "\xEF\xBB\xBF" "A\r\n\xC3\xA9", {u"A", u"\u00E9"}, tfeUtf8},
      {"unmarked", "A\r\n\xE9", {u"A", u"\u00E9"}, tfeAnsi},  // the system code page
      {"one byte", "\xE9", {u"\u00E9"}, tfeAnsi},
      {"mark only", "\xFF\xFE", {}, tfeUnicode},
      {"two other bytes", "\xEF\xBB", {u"\u00EF\u00BB"}, tfeAnsi},
      {"odd byte dropped", std::string("\xFF\xFE" "A\0B", 5), {u"A"}, tfeUnicode},
      // The whole big-endian text is swapped, past a U+0000 too.
      {"UTF-16BE after U+0000", std::string("\xFE\xFF\0A\0\0\0B\0\n\0C", 12),
       {std::u16string(u"A\0B", 3), u"C"}, tfeUnicodeSwapped},
      {"CR, LF and CR LF alone", "a\rb\nc\r\n\r\nd\n", {u"a", u"b", u"c", u"", u"d"}, tfeAnsi},
      {"empty", "", {}, tfeAnsi},
  };
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      TUniFileStream out(wide(dir / "f.txt"), fmCreate);
      out.WriteBuffer(c.bytes.data(), c.bytes.size());
    }
    TUniStringList list;
    list.Add(u"old");
    list.LoadFromFile(wide(dir / "f.txt"));
    EXPECT_EQ(lines(list), c.lines);
    EXPECT_EQ(list.LastFileEncoding(), c.encoding);
  }
  platform::setActiveCodePage(platform::kCodePageUtf8);
}

TEST(UniStringsLoad, StreamsStartAtTheirPosition) {
  TUniMemoryStream stream(std::string("xx\xFF\xFE" "A\0", 6));
  stream.SetPosition(2);
  TUniStringList list;
  list.LoadFromStream(stream);
  EXPECT_EQ(lines(list), Lines{u"A"});
  // Without detection the bytes are UTF-16LE, the mark a character.
  stream.SetPosition(2);
  list.LoadFromStreamDetectBOM(stream, false);
  EXPECT_EQ(lines(list), Lines{u"\uFEFFA"});
  EXPECT_EQ(list.LastFileEncoding(), tfeUnicode);  // only files set it
}

TEST(UniStringsSave, WritesUtf16LittleEndianWithTheMark) {
  testsupport::TempDir dir;
  TUniStringList list;
  list.Add(u"A");
  list.Add(u"B");
  list.SaveToFile(wide(dir / "out.txt"));
  EXPECT_EQ(hex(testsupport::readFileText(dir / "out.txt")), "fffe41000d000a0042000d000a00");

  // A big-endian file loaded and saved comes back little-endian.
  TUniStringList again;
  {
    TUniFileStream out(wide(dir / "be.txt"), fmCreate);
    out.WriteBuffer("\xFE\xFF\0A\0\r\0\n\0B", 10);
  }
  again.LoadFromFile(wide(dir / "be.txt"));
  again.SaveToFile(wide(dir / "be.txt"));
  EXPECT_EQ(hex(testsupport::readFileText(dir / "be.txt")), "fffe41000d000a0042000d000a00");

  TUniMemoryStream stream;
  list.SaveToStreamWithBOM(stream, false);
  EXPECT_EQ(hex(stream.Bytes()), "41000d000a0042000d000a00");
}

TEST(UniFileStream, FailuresNameTheFullPathAndTheSystemText) {
  testsupport::TempDir dir;
  const std::filesystem::path missing = dir / "missing";
  EXPECT_EQ(thrownText([&] { TUniStringList().LoadFromFile(wide(missing)); }),
            "Cannot open file \"" + missing.string() + "\". The system cannot find the file specified.");
  EXPECT_THROW(TUniFileStream(wide(missing), fmOpenRead), EFOpenError);
  // The name is expanded: "." and ".." go.
  const std::filesystem::path viaDots = dir / "." / "no" / ".." / "no" / "f";
  EXPECT_EQ(thrownText([&] { TUniStringList().SaveToFile(wide(viaDots)); }),
            "Cannot create file \"" + (dir / "no" / "f").string() +
                "\". The system cannot find the file specified.");
  EXPECT_THROW(TUniFileStream(wide(viaDots), fmCreate), EFCreateError);
}

TEST(UniStringList, SortedAddFollowsTheDuplicateMode) {
  TUniStringList list;
  list.SetSorted(true);
  for (const char16_t* s : {u"b", u"a", u"c"}) list.Add(s);
  EXPECT_EQ(lines(list), (Lines{u"a", u"b", u"c"}));

  // Case is ignored by default, so "B" equals "b".
  int a = 1, b = 2;
  EXPECT_EQ(list.AddObject(u"B", &a), 1);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.IndexOf(u"C"), 2);

  list.SetDuplicateMode(dmError);
  EXPECT_EQ(thrownText([&] { list.Add(u"B"); }), "String list does not allow duplicates");
  EXPECT_EQ(list.Count(), 3);

  // dmAccept puts an equal string in front of the equal ones already there.
  list.SetDuplicateMode(dmAccept);
  list.AddObject(u"B", &a);
  EXPECT_EQ(list.AddObject(u"b", &b), 1);
  EXPECT_EQ(lines(list), (Lines{u"a", u"b", u"B", u"b", u"c"}));
  EXPECT_EQ(list.GetObject(1), &b);
  EXPECT_EQ(list.GetObject(2), &a);
  int index = -1;
  EXPECT_TRUE(list.Find(u"B", index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(list.Find(u"bb", index));
  EXPECT_EQ(index, 4);

  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf(u"C"), -1);
}

TEST(UniStringList, SortedListsRefuseTheOperationsThatWouldUnsortThem) {
  TUniStringList list;
  list.Add(u"b");
  list.Add(u"a");
  list.SetSorted(true);
  EXPECT_EQ(lines(list), (Lines{u"a", u"b"}));
  struct Case {
    const char* what;
    std::function<void()> call;
    std::string text;
  };
  const Case cases[] = {
      {"PutString", [&] { list.PutString(0, u"z"); }, "Operation not allowed on sorted list"},
      {"Insert", [&] { list.Insert(0, u"z"); }, "Operation not allowed on sorted list"},
      {"Get", [&] { list.GetString(2); }, "List index out of bounds (2)"},
      {"Delete", [&] { list.Delete(-1); }, "List index out of bounds (-1)"},
      {"Exchange", [&] { list.Exchange(5, 7); }, "List index out of bounds (5)"},
      {"Capacity", [&] { list.SetCapacity(1); }, "List capacity out of bounds (1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(thrownText(c.call), c.text);
    EXPECT_EQ(lines(list), (Lines{u"a", u"b"}));
  }
  list.SetSorted(false);
  EXPECT_EQ(thrownText([&] { list.Insert(3, u"z"); }), "List index out of bounds (3)");
  list.Insert(2, u"c");
  list.PutString(0, u"z");
  EXPECT_EQ(lines(list), (Lines{u"z", u"b", u"c"}));
}

TEST(UniStringList, SortIsImmediateAndLeavesASortedListAlone) {
  TUniStringList list;
  const char16_t* words[] = {u"pear", u"Apple", u"fig", u"apple", u"banana", u"Fig", u"kiwi", u"date"};
  for (const char16_t* w : words) list.Add(w);
  list.SetSorted(true);
  for (int i = 1; i < list.Count(); ++i)
    EXPECT_LE(list.CompareItems(list.Strings(i - 1), list.Strings(i)), 0) << i;

  // SortWith does nothing on a sorted list.
  int calls = 0;
  list.SortWith([&](TUniStringList&, int, int) { return ++calls, 0; });
  EXPECT_EQ(calls, 0);

  // Sorting follows the given comparison; reversed, the pivot tracking must
  // still give a fully ordered list.
  list.SetSorted(false);
  list.SortWith([](TUniStringList& l, int x, int y) { return l.CompareItems(l.Strings(y), l.Strings(x)); });
  for (int i = 1; i < list.Count(); ++i)
    EXPECT_GE(list.CompareItems(list.Strings(i - 1), list.Strings(i)), 0) << i;
}

TEST(UniStringList, NamesAndObjects) {
  TUniStringList list;
  int x = 0;
  list.AddObject(u"b=2", &x);
  list.Add(u"a=1");
  list.Add(u"abc");
  EXPECT_EQ(list.IndexOfName(u"A"), 1);
  EXPECT_EQ(list.IndexOfName(u"ab"), -1);
  EXPECT_EQ(list.IndexOfObject(&x), 0);
  list.SetSorted(true);
  EXPECT_EQ(list.IndexOfName(u"B"), 2);
  EXPECT_EQ(list.IndexOfName(u"a"), 0);
  EXPECT_EQ(list.IndexOfName(u"zz"), -1);
  EXPECT_EQ(list.GetObject(2), &x);
}

TEST(UniStringList, EventsGrowthAndUpdates) {
  TUniStringList list;
  std::string events;
  list.OnChanging = [&](TUniStringList&) { events += '<'; };
  list.OnChange = [&](TUniStringList&) { events += '>'; };
  list.Add(u"a");
  list.PutObject(0, nullptr);
  list.Delete(0);
  list.Clear();  // empty: nothing
  EXPECT_EQ(events, "<><><>");

  events.clear();
  list.BeginUpdate();
  list.BeginUpdate();
  for (int i = 0; i < 100; ++i) list.Add(u"x");
  list.EndUpdate();
  EXPECT_EQ(events, "<");
  list.EndUpdate();
  EXPECT_EQ(events, "<>");

  // Capacity grows by 4, then 16, then a quarter; Delete keeps it, Clear drops it.
  TUniStringList grown;
  std::vector<int> capacities;
  for (int i = 0; i < 100; ++i) {
    grown.Add(u"x");
    if (capacities.empty() || capacities.back() != grown.GetCapacity()) capacities.push_back(grown.GetCapacity());
  }
  EXPECT_EQ(capacities, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 95, 118}));
  grown.Delete(0);
  EXPECT_EQ(grown.GetCapacity(), 118);
  grown.Clear();
  EXPECT_EQ(grown.GetCapacity(), 0);
}

TEST(AnsiStringsAdapter, ShowsTheListInItsCodePage) {
  TUniStringList list;
  list.Add(u"caf\u00E9");
  TAnsiStrings& view = list.AnsiStrings();
  EXPECT_EQ(view.GetString(0), platform::utf16ToWtf8(u"caf\u00E9"));  // the active page, UTF-8

  TAnsiStringsForWideStringsAdapter cp1252(list, 1252);
  EXPECT_EQ(cp1252.GetString(0), "caf\xE9");
  cp1252.Insert(1, "\x80");
  EXPECT_EQ(list.Strings(1), u"\u20AC");
  EXPECT_EQ(cp1252.GetCount(), 2);

  TUniMemoryStream in("x\r\n+AOk-");
  cp1252.LoadFromStreamInCodePage(in, CP_UTF7);
  EXPECT_EQ(lines(list), (Lines{u"x", u"\u00E9"}));
  TUniMemoryStream out;
  cp1252.SaveToStreamInCodePage(out, 1252);
  EXPECT_EQ(out.Bytes(), "x\r\n\xE9\r\n");

  // Assigning another list's view copies its 8-bit lines and objects.
  TUniStringList other;
  int marker = 0;
  other.AddObject(u"\u20AC1", &marker);
  TAnsiStringsForWideStringsAdapter otherView(other);  // both in the active page
  list.SetAnsiStrings(otherView);
  EXPECT_EQ(lines(list), Lines{u"\u20AC1"});
  EXPECT_EQ(list.GetObject(0), &marker);
  list.SetAnsiStrings(list.AnsiStrings());  // itself: unchanged
  EXPECT_EQ(lines(list), Lines{u"\u20AC1"});
}
