#include "editor/CodeEditCore.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "editor/CodeEditSearch.h"
#include "tests/editor/CodeEditFakeView.h"
#include "tests/support/ThrownText.h"

using namespace codeedit;

namespace {

struct SearchFixture : ::testing::Test {
  FakeView view;
  TCodeEditCore core{&view};
  TCodeEditSearch engine;

  SearchFixture() {
    core.FCharsInWindow = 40;
    core.FLinesInWindow = 10;
    core.SetSearchEngine(&engine);
  }
  void setText(std::u16string_view text) { core.Lines().SetAllText(text); }
  std::u16string text() const { return core.Lines().GetAllText(); }
};

}  // namespace

TEST_F(SearchFixture, WithoutAnEngineNothingIsSearched) {
  setText(u"abc");
  core.SetSearchEngine(nullptr);
  for (std::u16string_view pattern : {u"b", u""}) {
    SCOPED_TRACE(pattern.size());
    EXPECT_EQ(thrownText([&] { core.SearchReplace(pattern, u"", ssoReplaceAll); }),
              "No search engine has been assigned");
    EXPECT_THROW(core.SearchReplace(pattern, u"", 0), ECodeEditError);
  }
  core.SetSearchEngine(&engine);
  EXPECT_EQ(core.SearchReplace(u"", u"x", ssoReplaceAll | ssoEntireScope), 0);
  EXPECT_EQ(text(), u"abc");

  // An engine that goes is forgotten.
  {
    TCodeEditSearch shortLived;
    core.SetSearchEngine(&shortLived);
  }
  EXPECT_EQ(core.SearchEngine(), nullptr);
}

TEST_F(SearchFixture, AFindSelectsOneMatchFromTheCaret) {
  setText(u"ab ab\r\nxx ab");
  struct Case {
    const char* name;
    TBufferCoord caret;
    TCodeSearchOptions options;
    TBufferCoord begin, end, caretAfter;
  };
  const Case cases[] = {
      {"forward from the caret skips a match that starts before it", {2, 1}, 0, {4, 1}, {6, 1}, {6, 1}},
      {"the entire scope starts at the top", {2, 1}, ssoEntireScope, {1, 1}, {3, 1}, {3, 1}},
      {"backward up to the caret, caret at the match start", {5, 2}, ssoBackwards, {4, 1}, {6, 1}, {4, 1}},
      {"backward over the whole text takes the last", {1, 1}, ssoBackwards | ssoEntireScope, {4, 2}, {6, 2},
       {4, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    core.SetCaretAndSelection(c.caret, c.caret, c.caret);
    EXPECT_EQ(core.SearchReplace(u"ab", u"", c.options), 1);
    EXPECT_EQ(core.BlockBeginSorted(), c.begin);
    EXPECT_EQ(core.BlockEndSorted(), c.end);
    EXPECT_EQ(core.CaretXY(), c.caretAfter);
    EXPECT_EQ(text(), u"ab ab\r\nxx ab");
  }
  core.SetCaretAndSelection({1, 2}, {1, 2}, {1, 2});
  EXPECT_EQ(core.SearchReplace(u"zz", u"", 0), 0);
}

TEST_F(SearchFixture, ReplaceAllKeepsTheColumnsOfLaterMatches) {
  struct Case {
    const char* name;
    std::u16string_view before, search, replace, after;
    int count;
  };
  const Case cases[] = {
      {"longer", u"xabyabzab\r\nab", u"ab", u"ABCDE", u"xABCDEyABCDEzABCDE\r\nABCDE", 4},
      {"shorter", u"xabcyabcz", u"abc", u"-", u"x-y-z", 2},
      {"removed", u"a.b.c", u".", u"", u"abc", 2},
      {"the replacement holds the pattern", u"aa", u"a", u"aa", u"aaaa", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setText(c.before);
    EXPECT_EQ(core.SearchReplace(c.search, c.replace, ssoReplaceAll | ssoEntireScope), c.count);
    EXPECT_EQ(text(), c.after);
  }
}

TEST_F(SearchFixture, APromptSkipsThenReplacesTheRestInOneUndoStep) {
  setText(u"ab ab\r\nab ab");
  std::vector<std::pair<int, int>> asked;
  std::vector<TCodeReplaceAction> answers{raSkip, raReplaceAll};
  core.OnReplaceText = [&](TCodeEditCore&, std::u16string_view search, std::u16string_view replace, int line,
                           int column, TCodeReplaceAction& action) {
    EXPECT_EQ(search, u"ab");
    EXPECT_EQ(replace, u"XYZ");
    asked.push_back({column, line});
    action = answers.at(asked.size() - 1);
  };
  EXPECT_EQ(core.SearchReplace(u"ab", u"XYZ", ssoReplaceAll | ssoPrompt | ssoEntireScope), 4);
  EXPECT_EQ(text(), u"ab XYZ\r\nXYZ XYZ");
  EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{1, 1}, {4, 1}}));
  core.Undo();
  EXPECT_EQ(text(), u"ab ab\r\nab ab");

  // Cancel stops at once; a single replace stops after the first match.
  asked.clear();
  answers = {raCancel};
  EXPECT_EQ(core.SearchReplace(u"ab", u"XYZ", ssoReplaceAll | ssoPrompt | ssoEntireScope), 1);
  EXPECT_EQ(text(), u"ab ab\r\nab ab");
  core.OnReplaceText = nullptr;
  EXPECT_EQ(core.SearchReplace(u"ab", u"XYZ", ssoReplace | ssoPrompt | ssoEntireScope), 1);
  EXPECT_EQ(text(), u"XYZ ab\r\nab ab");
}

TEST_F(SearchFixture, SelectedOnlyStaysInsideTheSelection) {
  struct Case {
    const char* name;
    TCodeSelectionMode mode;
    TBufferCoord begin, end;
    std::u16string_view after;
    int count;
  };
  const std::u16string_view before = u"ab ab ab\r\nab ab ab\r\nab ab ab";
  const Case cases[] = {
      // Columns 3..7 hold the middle match whole; the last one starts at 7.
      {"column", smColumn, {3, 1}, {7, 2}, u"ab X ab\r\nab X ab\r\nab ab ab", 2},
      {"column given right to left", smColumn, {7, 1}, {3, 2}, u"ab X ab\r\nab X ab\r\nab ab ab", 2},
      {"normal", smNormal, {3, 1}, {5, 2}, u"ab X X\r\nX ab ab\r\nab ab ab", 3},
      {"line", smLine, {3, 2}, {2, 3}, u"ab ab ab\r\nX X X\r\nX X X", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setText(before);
    core.SetSelectionMode(c.mode);
    core.SetCaretAndSelection(c.end, c.begin, c.end);
    core.SetActiveSelectionMode(c.mode);  // a search before left a plain selection active
    EXPECT_EQ(core.SearchReplace(u"ab", u"X", ssoReplaceAll | ssoSelectedOnly), c.count);
    EXPECT_EQ(text(), c.after);
  }
}

TEST_F(SearchFixture, ALargeReplaceAllIsOneUndoStep) {
  std::u16string original;
  for (int i = 0; i < 1000; ++i)
    original += i == 0 ? u"a a a a a" : u"\r\na a a a a";
  setText(original);
  core.SetMaxUndo(1024);
  std::vector<TTransientType> transients;
  core.OnPaintTransient = [&](TCodeEditCore&, TTransientType t) { transients.push_back(t); };
  EXPECT_EQ(core.SearchReplace(u"a", u"bb", ssoReplaceAll | ssoEntireScope), 5000);
  ASSERT_FALSE(transients.empty());
  EXPECT_EQ(transients.front(), ttBefore);
  EXPECT_EQ(transients.back(), ttAfter);
  EXPECT_EQ(core.LineText(1000), u"bb bb bb bb bb");
  EXPECT_EQ(core.PaintLock(), 0);
  core.Undo();
  EXPECT_EQ(text(), original);
  EXPECT_FALSE(core.CanUndo());
}
