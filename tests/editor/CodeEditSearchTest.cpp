#include "editor/CodeEditSearch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/CodeEditTextBuffer.h"
#include "tests/support/ThrownText.h"

using namespace codeedit;

namespace {

std::vector<int> Positions(TCodeEditSearch& engine, const std::u16string& line) {
  const int count = engine.FindAll(line);
  std::vector<int> result;
  EXPECT_EQ(count, engine.GetResultCount());
  for (int i = 0; i < count; ++i) {
    result.push_back(engine.GetResult(i));
    EXPECT_EQ(engine.GetLength(i), static_cast<int>(engine.Pattern().size()));
  }
  return result;
}

}  // namespace

TEST(CodeEditSearchTest, FindsEveryMatchOfALine) {
  struct Case {
    const char* name;
    std::u16string line, pattern;
    TCodeSearchOptions options;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {"case ignored by default", u"Key KEY key", u"key", 0, {1, 5, 9}},
      {"match case", u"Key KEY key", u"key", ssoMatchCase, {9}},
      {"beyond ASCII, case ignored", u"\u00C4rger \u00E4rger", u"\u00E4rger", 0, {1, 7}},
      {"beyond ASCII, case kept", u"\u00C4rger \u00E4rger", u"\u00E4rger", ssoMatchCase, {7}},
      {"matches do not overlap", u"aaaaa", u"aa", 0, {1, 3}},
      {"whole word at both ends and between breaks", u"cat concat cat_ (cat) cats", u"cat", ssoWholeWord, {1, 18}},
      {"whole word after a rejected part", u"concat cat", u"cat", ssoWholeWord, {8}},
      {"whole word of punctuation", u"a=b==c", u"=", ssoWholeWord, {2, 4, 5}},
      {"pattern longer than the line", u"ab", u"abc", 0, {}},
      {"empty pattern", u"abc", u"", 0, {}},
      {"empty line", u"", u"a", 0, {}},
      {"options the editor applies are ignored", u"x x", u"x", ssoBackwards | ssoEntireScope | ssoReplaceAll, {1, 3}},
  };
  TCodeEditSearch engine;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    engine.SetOptions(c.options);
    engine.SetPattern(c.pattern);
    EXPECT_EQ(Positions(engine, c.line), c.expected);
  }
}

TEST(CodeEditSearchTest, ResultsBelongToTheLastLine) {
  TCodeEditSearch engine;
  engine.SetPattern(u"ab");
  ASSERT_EQ(engine.FindAll(u"ab ab ab"), 3);
  EXPECT_EQ(engine.GetResult(2), 7);
  EXPECT_EQ(thrownText([&] { engine.GetResult(3); }), "List index out of bounds (3)");
  EXPECT_EQ(thrownText([&] { engine.GetLength(-1); }), "List index out of bounds (-1)");
  EXPECT_THROW(engine.GetResult(3), EListError);
  ASSERT_EQ(engine.FindAll(u"xyz"), 0);
  EXPECT_EQ(thrownText([&] { engine.GetResult(0); }), "List index out of bounds (0)");
  // A pattern changed between lines holds from the next line on.
  engine.SetPattern(u"XY");
  EXPECT_EQ(engine.FindAll(u"xyz"), 1);
  EXPECT_EQ(engine.Replace(u"xy", u"new text"), u"new text");
}

TEST(CodeEditSearchTest, ADestroyedEngineTellsItsClients) {
  int told = 0, toldRemoved = 0, toldReplaced = 0;
  int a = 0, b = 0;
  {
    TCodeEditSearch engine;
    engine.FreeNotification(&a, [&] { ++toldReplaced; });
    engine.FreeNotification(&a, [&] { ++told; });  // replaces the first
    engine.FreeNotification(&b, [&] { ++toldRemoved; });
    engine.RemoveFreeNotification(&b);
  }
  EXPECT_EQ(told, 1);
  EXPECT_EQ(toldReplaced, 0);
  EXPECT_EQ(toldRemoved, 0);
}
