// The normalising wide string list: storage, events, errors, sorting, text and
// file forms.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "tests/support/TempDir.h"
#include "unicode/SupUnicode.h"

namespace {

using namespace sup;

std::vector<std::u16string> items(const TWideStringList& list) {
  std::vector<std::u16string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.GetString(i));
  return out;
}

// Records the change events of a list.
struct EventLog {
  explicit EventLog(TWideStringList& list) {
    list.OnChanging = [this](TWideStrings&) { events += "<"; };
    list.OnChange = [this](TWideStrings&) { events += ">"; };
  }
  std::string events;
};

template <class F>
std::string errorOf(F&& f) {
  try {
    f();
  } catch (const EStringListError& e) {
    return e.what();
  }
  return "no error";
}

TEST(TWideStringList, AddStoresFormCAndKeepsTheRawName) {
  TWideStringList list;
  EXPECT_EQ(list.Add(u"Cafe\u0301"), 0);
  EXPECT_EQ(list.Add(u"Caf\u00E9"), 1);
  EXPECT_EQ(list.Add(u""), 2);
  EXPECT_EQ(list.GetString(0), u"Caf\u00E9");
  EXPECT_EQ(list.GetString(1), u"Caf\u00E9");
  // Two names that differ only in form stay two names, and each keeps the form
  // the registry knows it by.
  EXPECT_EQ(list.rawString(0), u"Cafe\u0301");
  EXPECT_EQ(list.rawString(1), u"Caf\u00E9");
  EXPECT_EQ(list.rawString(2), u"");

  list.Exchange(0, 1);
  EXPECT_EQ(list.rawString(0), u"Caf\u00E9");
  EXPECT_EQ(list.rawString(1), u"Cafe\u0301");
  list.Delete(0);
  EXPECT_EQ(list.rawString(0), u"Cafe\u0301");
  list.PutString(0, u"A\u030A");
  EXPECT_EQ(list.GetString(0), u"\u00C5");
  EXPECT_EQ(list.rawString(0), u"A\u030A");

  TWideStringList plain;
  plain.SetNormalForm(nfNone);
  plain.Add(u"e\u0301");
  EXPECT_EQ(plain.GetString(0), u"e\u0301");
}

TEST(TWideStringList, IndexOfIgnoresCaseAndForm) {
  TWideStringList list;
  list.Add(u"alpha");
  list.Add(u"\u00C9t\u00E9");
  list.Add(u"Alpha");
  EXPECT_EQ(list.IndexOf(u"ALPHA"), 0);
  EXPECT_EQ(list.IndexOf(u"E\u0301TE\u0301"), 1);
  EXPECT_EQ(list.IndexOf(u"beta"), -1);
}

TEST(TWideStringList, IndexErrors) {
  TWideStringList list;
  list.Add(u"a");
  list.Add(u"b");
  EXPECT_EQ(errorOf([&] { list.Delete(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(errorOf([&] { list.Delete(2); }), "List index out of bounds (2)");
  EXPECT_EQ(errorOf([&] { list.GetString(2); }), "List index out of bounds (2)");
  EXPECT_EQ(errorOf([&] { list.GetObject(-5); }), "List index out of bounds (-5)");
  EXPECT_EQ(errorOf([&] { list.PutObject(2, nullptr); }), "List index out of bounds (2)");
  EXPECT_EQ(errorOf([&] { list.Exchange(0, 2); }), "List index out of bounds (2)");
  EXPECT_EQ(errorOf([&] { list.Insert(3, u"x"); }), "List index out of bounds (3)");
  EXPECT_EQ(errorOf([&] { list.Insert(-1, u"x"); }), "List index out of bounds (-1)");
  EXPECT_EQ(items(list), (std::vector<std::u16string>{u"a", u"b"}));
  list.Insert(2, u"c");
  list.Insert(0, u"z");
  EXPECT_EQ(items(list), (std::vector<std::u16string>{u"z", u"a", u"b", u"c"}));
}

TEST(TWideStringList, EventsFireOncePerChangeAndNotWhenNothingChanges) {
  TWideStringList list;
  EventLog log(list);
  list.Clear();
  EXPECT_EQ(log.events, "") << "Clear of an empty list";
  list.Add(u"a");
  EXPECT_EQ(log.events, "<>");
  log.events.clear();
  list.Sort();
  EXPECT_EQ(log.events, "") << "Sort of one item";
  list.BeginUpdate();
  list.Add(u"b");
  list.Add(u"c");
  list.BeginUpdate();
  list.Delete(0);
  list.EndUpdate();
  EXPECT_EQ(log.events, "<");
  list.EndUpdate();
  EXPECT_EQ(log.events, "<>");
  log.events.clear();
  list.SetAllText(u"x\r\ny\r\nz");
  EXPECT_EQ(log.events, "<>");
  log.events.clear();
  list.Clear();
  EXPECT_EQ(log.events, "<>");
  EXPECT_EQ(list.GetCapacity(), 0);
  // An unmatched EndUpdate does not silence later events.
  list.EndUpdate();
  list.Add(u"q");
  EXPECT_EQ(log.events, "<><>");
}

TEST(TWideStringList, CapacityGrowsInStepsAndShrinks) {
  TWideStringList list;
  std::vector<int> capacities;
  for (int i = 0; i < 80; ++i) {
    list.Add(u"x");
    if (capacities.empty() || capacities.back() != list.GetCapacity())
      capacities.push_back(list.GetCapacity());
  }
  EXPECT_EQ(capacities, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 95}));
  list.SetCapacity(10);
  EXPECT_EQ(list.Count(), 10);
  EXPECT_EQ(list.GetCapacity(), 10);
  EXPECT_THROW(list.SetCapacity(-1), EStringListError);
}

TEST(TWideStringList, TextJoinsWithCrLfAndSplitsAtEveryLineBreak) {
  TWideStringList list;
  EXPECT_EQ(list.GetAllText(), u"");
  list.Add(u"first");
  list.Add(u"second");
  EXPECT_EQ(list.GetAllText(), u"first\r\nsecond");
  EXPECT_EQ(list.GetSeparatedText(u", "), u"first, second");

  const struct {
    const char* what;
    std::u16string text;
    std::vector<std::u16string> lines;
  } cases[] = {
      {"empty", u"", {}},
      {"CR LF is one break", u"a\r\nb", {u"a", u"b"}},
      {"LF CR is two", u"a\n\rb", {u"a", u"", u"b"}},
      {"final break adds no line", u"a\r\n", {u"a"}},
      {"only a break", u"\r\n", {u""}},
      {"two final breaks", u"a\r\r", {u"a", u""}},
      {"every break character",
       std::u16string(u"a\nb\vc\fd\re\u2028f\u2029g\0h", 15),
       {u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h"}},
      {"lines are normalised", u"e\u0301\nx", {u"\u00E9", u"x"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    list.SetAllText(c.text);
    EXPECT_EQ(items(list), c.lines);
  }
}

TEST(TWideStringList, SortOrdersByLocaleIgnoringCaseAndCarriesObjects) {
  TWideStringList list;
  int objects[3];
  list.AddObject(u"beta", &objects[0]);
  list.AddObject(u"Gamma", &objects[1]);
  list.AddObject(u"ALPHA", &objects[2]);
  list.Sort();
  EXPECT_EQ(items(list), (std::vector<std::u16string>{u"ALPHA", u"beta", u"Gamma"}));
  EXPECT_EQ(list.GetObject(0), &objects[2]);
  EXPECT_EQ(list.GetObject(2), &objects[1]);

  // Many names, already sorted, reversed and shuffled: the result is ordered
  // and holds every name (the sort's depth stays small for ordered input).
  std::vector<std::u16string> names;
  for (int i = 0; i < 5000; ++i) {
    std::u16string n = u"key";
    for (int v = i; v > 0; v /= 26) n += static_cast<char16_t>((i % 2 ? u'a' : u'A') + v % 26);
    names.push_back(n);
  }
  std::mt19937 rng(7);
  for (int order = 0; order < 3; ++order) {
    SCOPED_TRACE(order);
    if (order == 1) std::reverse(names.begin(), names.end());
    if (order == 2) std::shuffle(names.begin(), names.end(), rng);
    TWideStringList big;
    for (const auto& n : names) big.Add(n);
    big.Sort();
    auto sorted = items(big);
    for (std::size_t i = 1; i < sorted.size(); ++i)
      ASSERT_LE(WideCompareText(sorted[i - 1], sorted[i], big.Language()), 0) << i;
    auto expected = names;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
  }
}

TEST(TWideStringList, SortedListFindsAndHandlesDuplicates) {
  TWideStringList list;
  list.Add(u"delta");
  list.Add(u"Bravo");
  list.Add(u"charlie");
  list.SetSorted(true);
  EXPECT_EQ(items(list), (std::vector<std::u16string>{u"Bravo", u"charlie", u"delta"}));

  int index = -1;
  EXPECT_TRUE(list.Find(u"CHARLIE", index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(list.Find(u"alpha", index));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(list.Find(u"echo", index));
  EXPECT_EQ(index, 3);
  EXPECT_EQ(list.IndexOf(u"DELTA"), 2);
  EXPECT_EQ(list.IndexOf(u"zulu"), -1);

  EXPECT_EQ(list.Add(u"alpha"), 0);
  EXPECT_EQ(list.Add(u"ALPHA"), 0) << "ignored duplicate";
  EXPECT_EQ(list.Count(), 4);
  list.SetDuplicates(dupError);
  EXPECT_EQ(errorOf([&] { list.Add(u"bravo"); }), "String list does not allow duplicates");
  list.SetDuplicates(dupAccept);
  EXPECT_EQ(list.Add(u"BRAVO"), 1);
  EXPECT_EQ(list.Count(), 5);
  EXPECT_TRUE(list.Find(u"bravo", index));
  EXPECT_EQ(index, 1) << "the first equal item";

  EXPECT_EQ(errorOf([&] { list.Insert(0, u"x"); }), "Operation not allowed on sorted list");
  EXPECT_EQ(errorOf([&] { list.PutString(0, u"x"); }), "Operation not allowed on sorted list");
}

TEST(TWideStringList, MoveAssignAndAddStrings) {
  TWideStringList list;
  int object = 0;
  list.Add(u"a");
  list.AddObject(u"b", &object);
  list.Add(u"c");
  list.Move(1, 2);
  EXPECT_EQ(items(list), (std::vector<std::u16string>{u"a", u"c", u"b"}));
  EXPECT_EQ(list.GetObject(2), &object);

  TWideStringList copy;
  copy.Add(u"old");
  copy.Assign(list);
  EXPECT_EQ(items(copy), items(list));
  EXPECT_EQ(copy.GetObject(2), &object);

  std::vector<std::string> ansi;
  list.AssignTo(ansi);
  EXPECT_EQ(ansi, (std::vector<std::string>{"a", "c", "b"}));
  copy.Assign(std::vector<std::string>{"x", "y"});
  EXPECT_EQ(items(copy), (std::vector<std::u16string>{u"x", u"y"}));
}

TEST(TWideStringList, StreamsRoundTripInEveryFormat) {
  const std::u16string text = u"plain\r\nCaf\u00E9 \u20AC \U0001D11E";
  const struct {
    TWideTextFormat format;
    std::string bom;
  } formats[] = {{wtfUtf16LE, "\xFF\xFE"}, {wtfUtf16BE, "\xFE\xFF"}, {wtfUtf8, "\xEF\xBB\xBF"}};
  for (const auto& f : formats) {
    SCOPED_TRACE(static_cast<int>(f.format));
    TWideStringList list;
    list.SetAllText(text);
    list.SetTextFormat(f.format);
    std::stringstream stream;
    list.SaveToStream(stream);
    EXPECT_TRUE(list.Saved());
    EXPECT_EQ(stream.str().substr(0, f.bom.size()), f.bom);

    TWideStringList back;
    back.LoadFromStream(stream);
    EXPECT_EQ(back.TextFormat(), f.format);
    EXPECT_EQ(back.GetAllText(), text);
  }
  std::stringstream little;
  TWideStringList one;
  one.Add(u"A");
  one.SaveToStream(little);
  EXPECT_EQ(little.str(), std::string("\xFF\xFE" "A\0", 4));

  // A trailing odd byte of UTF-16 text is half a character and is dropped.
  std::stringstream odd(std::string("\xFF\xFE" "A\0B", 5));
  TWideStringList fromOdd;
  fromOdd.LoadFromStream(odd);
  EXPECT_EQ(fromOdd.GetAllText(), u"A");
}

TEST(TWideStringList, EightBitTextAsksBeforeLosingCharacters) {
  std::stringstream plain("one\ntwo\n");
  TWideStringList list;
  list.LoadFromStream(plain);
  EXPECT_EQ(list.TextFormat(), wtfAnsi);
  EXPECT_EQ(items(list), (std::vector<std::u16string>{u"one", u"two"}));

  int asked = 0;
  bool allow = false;
  list.OnConfirmConversion = [&](TWideStrings&, bool& allowed) {
    ++asked;
    allowed = allow;
  };
  std::stringstream ascii;
  list.SaveToStream(ascii);
  EXPECT_EQ(asked, 0) << "nothing above U+00FF";
  EXPECT_EQ(ascii.str(), "one\r\ntwo");

  list.Add(u"\u20AC");
  std::stringstream refused;
  list.SaveToStream(refused);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(refused.str(), "");
  EXPECT_FALSE(list.Saved());
  allow = true;
  std::stringstream allowed;
  list.SaveToStream(allowed);
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(list.Saved());
  EXPECT_EQ(allowed.str().substr(0, 10), "one\r\ntwo\r\n");
}

TEST(TWideStringList, EightBitTextUsesTheActiveCodePage) {
  const unsigned previous = platform::activeCodePage();
  platform::setActiveCodePage(1252);
  std::stringstream in(std::string("caf\xE9\r\n\x80"));
  TWideStringList list;
  list.LoadFromStream(in);
  EXPECT_EQ(items(list), (std::vector<std::u16string>{u"caf\u00E9", u"\u20AC"}));
  list.Add(u"\u03A9");
  list.OnConfirmConversion = [](TWideStrings&, bool& allowed) { allowed = true; };
  std::stringstream out;
  list.SaveToStream(out);
  EXPECT_EQ(out.str(), "caf\xE9\r\n\x80\r\n?");
  platform::setActiveCodePage(previous);
}

TEST(TWideStringList, FilesRoundTripAndMissingFilesFail) {
  testsupport::TempDir dir;
  const std::string path = (dir.path() / "names.txt").string();
  TWideStringList list;
  list.SetAllText(u"a\r\nb\u00E9");
  list.SaveToFile(path);
  TWideStringList back;
  back.LoadFromFile(path);
  EXPECT_EQ(items(back), items(list));
  EXPECT_THROW(back.LoadFromFile((dir.path() / "missing.txt").string()), EStreamError);
  EXPECT_THROW(list.SaveToFile((dir.path() / "no" / "such" / "dir.txt").string()), EStreamError);
}

}  // namespace
