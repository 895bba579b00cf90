#include "editor/CodeEditCore.h"

#include "editor/CodeHighlighterIni.h"
#include "tests/editor/CodeEditDefaults.h"
#include "tests/editor/CodeEditFakeView.h"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace codeedit;

namespace {

// Range = nesting depth of braces after the line; counts the lines it scans.
class BraceHighlighter : public TCodeCustomHighlighter {
public:
  TCodeHighlighterAttributes* DefaultAttribute(int) const override { return nullptr; }
  bool AtLineEnd() const override { return FScanPos > FScanLength; }
  TCodeHighlighterAttributes* CurrentTokenAttribute() const override { return nullptr; }
  int CurrentTokenKind() const override { return 0; }
  void ScanNextToken() override {
    FTokenStart = FScanPos;
    if (FScanPos < FScanLength) {
      char16_t c = FScanLine[static_cast<std::size_t>(FScanPos)];
      if (c == u'{')
        ++depth;
      else if (c == u'}' && depth > 0)
        --depth;
    }
    ++FScanPos;
    TCodeCustomHighlighter::ScanNextToken();
  }
  int GetRange() const override { return depth; }
  void SetRange(int Range) override { depth = Range; }
  void ResetRange() override { depth = 0; }

  std::vector<int> scanned;

protected:
  void DoSetLine(std::u16string_view Line, int LineIndex) override {
    scanned.push_back(LineIndex);
    TCodeCustomHighlighter::DoSetLine(Line, LineIndex);
  }

private:
  int depth = 0;
};

struct CoreFixture : ::testing::Test {
  FakeView view;
  TCodeEditCore core{&view};

  void setText(std::u16string_view text) { core.Lines().SetAllText(text); }
};

}  // namespace

TEST_F(CoreFixture, NewCoreHasItsDefaults) {
  ExpectCodeEditDefaults(core);
  EXPECT_EQ(core.Highlighter(), nullptr);
}

TEST_F(CoreFixture, TabsAndWideGlyphsMapBetweenBufferAndDisplay) {
  setText(u"\tab\r\nx\u4E00y");
  EXPECT_EQ(core.BufferToDisplayPos({2, 1}), (TDisplayCoord{9, 1}));
  EXPECT_EQ(core.BufferToDisplayPos({3, 1}), (TDisplayCoord{10, 1}));
  EXPECT_EQ(core.DisplayToBufferPos({5, 1}), (TBufferCoord{1, 1}));
  EXPECT_EQ(core.DisplayToBufferPos({9, 1}), (TBufferCoord{2, 1}));
  // The ideograph takes columns 2 and 3; either maps back to it.
  EXPECT_EQ(core.BufferToDisplayPos({3, 2}), (TDisplayCoord{4, 2}));
  EXPECT_EQ(core.DisplayToBufferPos({3, 2}), (TBufferCoord{2, 2}));
  EXPECT_EQ(core.DisplayToBufferPos({4, 2}), (TBufferCoord{3, 2}));
  // Past the line end every index is one column.
  EXPECT_EQ(core.BufferToDisplayPos({6, 2}), (TDisplayCoord{7, 2}));
  EXPECT_EQ(core.DisplayToBufferPos({7, 2}), (TBufferCoord{6, 2}));
  // Lines beyond the text keep the position.
  EXPECT_EQ(core.BufferToDisplayPos({4, 9}), (TDisplayCoord{4, 9}));
  // A tab width change moves the columns.
  core.SetTabWidth(4);
  EXPECT_EQ(core.BufferToDisplayPos({2, 1}), (TDisplayCoord{5, 1}));
  EXPECT_EQ(core.LineToRow(2), 2);
  EXPECT_EQ(core.RowToLine(2), 2);
  EXPECT_EQ(core.DisplayLineCount(), 2);
}

TEST_F(CoreFixture, CellCountsAreMeasuredOncePerCharacter) {
  setText(u"\u4E00\u4E00\u4E00a");
  core.BufferToDisplayPos({5, 1});
  core.BufferToDisplayPos({5, 1});
  EXPECT_EQ(view.measured, 2);
  core.FontChanged();
  core.BufferToDisplayPos({5, 1});
  EXPECT_EQ(view.measured, 4);
}

TEST_F(CoreFixture, GlyphFillersStandForExtraCells) {
  EXPECT_EQ(core.InsertGlyphFillers(u"a\u4E00"), u"a\uE000\u4E00");
  // A zero-width mark gets no filler.
  EXPECT_EQ(core.InsertGlyphFillers(u"e\u0301"), u"e\u0301");
  // The line buffer's display length counts the fillers.
  setText(u"\t\u4E00");
  EXPECT_EQ(core.Lines().GetExpandedLength(0), 10);

  const std::u16string display = u"a\uE000\u4E00b";
  struct Case {
    int first, count;
    std::u16string text;
    int taken;
  } cases[] = {
      {1, 2, u"a\u4E00", 2},   // ends on the filler: the glyph comes whole
      {2, 1, u"\u4E00", 1},    // starts on the filler
      {3, 2, u"\u4E00b", 2},
      {1, 4, u"a\u4E00b", 3},
      {4, 5, u"b", 1},          // runs past the end
      {5, 1, u"", 0},
  };
  for (const Case& c : cases) {
    int count = c.count;
    EXPECT_EQ(TCodeEditCore::StripGlyphFillers(display, c.first, count), c.text) << c.first << "," << c.count;
    EXPECT_EQ(count, c.taken) << c.first << "," << c.count;
  }
}

TEST_F(CoreFixture, WordPositions) {
  setText(u"ab cd\r\n  ef, gh");
  EXPECT_EQ(core.NextWordPosEx({1, 1}), (TBufferCoord{4, 1}));
  EXPECT_EQ(core.NextWordPosEx({5, 1}), (TBufferCoord{3, 2}));
  EXPECT_EQ(core.NextWordPosEx({5, 2}), (TBufferCoord{7, 2}));
  // On the last line there is nowhere to go.
  EXPECT_EQ(core.NextWordPosEx({10, 2}), (TBufferCoord{10, 2}));
  EXPECT_EQ(core.WordStartEx({5, 1}), (TBufferCoord{4, 1}));
  EXPECT_EQ(core.WordStartEx({40, 1}), (TBufferCoord{4, 1}));
  EXPECT_EQ(core.WordEndEx({1, 1}), (TBufferCoord{3, 1}));
  EXPECT_EQ(core.WordEndEx({4, 1}), (TBufferCoord{6, 1}));
  EXPECT_EQ(core.PrevWordPosEx({6, 1}), (TBufferCoord{4, 1}));
  EXPECT_EQ(core.PrevWordPosEx({4, 1}), (TBufferCoord{1, 1}));
  EXPECT_EQ(core.PrevWordPosEx({1, 2}), (TBufferCoord{6, 1}));
  EXPECT_EQ(core.PrevWordPosEx({3, 2}), (TBufferCoord{6, 1}));
  EXPECT_EQ(core.PrevWordPosEx({1, 1}), (TBufferCoord{1, 1}));
  // Lines outside the text leave the position alone.
  EXPECT_EQ(core.NextWordPosEx({1, 7}), (TBufferCoord{1, 7}));
}

TEST_F(CoreFixture, CharacterClassesWithoutHighlighter) {
  EXPECT_TRUE(core.IsIdentChar(u'_'));
  EXPECT_TRUE(core.IsIdentChar(u'\u00E9'));
  EXPECT_FALSE(core.IsIdentChar(u','));
  EXPECT_TRUE(core.IsWordBreakChar(u'\u00A7'));
  EXPECT_TRUE(core.IsWordBreakChar(u' '));
  EXPECT_FALSE(core.IsWordBreakChar(u'a'));
  EXPECT_TRUE(core.IsWhiteChar(u'\t'));
  EXPECT_FALSE(core.IsWhiteChar(u'a'));
}

TEST_F(CoreFixture, SelectWordAroundTakesTheIdentifier) {
  setText(u"abc_def,\r\nxy");
  std::vector<TCodeStatusChanges> changes;
  core.OnStatusChange = [&](TCodeEditCore&, TCodeStatusChanges c) { changes.push_back(c); };
  core.SelectWordAround({2, 1});
  EXPECT_EQ(core.BlockBegin(), (TBufferCoord{1, 1}));
  EXPECT_EQ(core.BlockEnd(), (TBufferCoord{8, 1}));
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{8, 1}));
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_TRUE(changes[0] & scSelection);
  // Beyond the line only the caret moves.
  core.SelectWordAround({20, 2});
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{3, 2}));
  // With eoNoSelection the block stays empty.
  core.SetOptions(core.Options() | OptionBit(eoNoSelection));
  core.SelectWordAround({1, 2});
  EXPECT_FALSE(core.SelAvail());
}

TEST_F(CoreFixture, MatchingBrackets) {
  setText(u"(a[b)c]\r\n{x\r\n}");
  EXPECT_EQ(core.GetMatchingBracketEx({1, 1}), (TBufferCoord{5, 1}));
  EXPECT_EQ(core.GetMatchingBracketEx({5, 1}), (TBufferCoord{1, 1}));
  EXPECT_EQ(core.GetMatchingBracketEx({3, 1}), (TBufferCoord{7, 1}));
  EXPECT_EQ(core.GetMatchingBracketEx({1, 2}), (TBufferCoord{1, 3}));
  EXPECT_EQ(core.GetMatchingBracketEx({1, 3}), (TBufferCoord{1, 2}));
  EXPECT_EQ(core.GetMatchingBracketEx({2, 1}), (TBufferCoord{0, 0}));
  EXPECT_EQ(core.GetMatchingBracketEx({9, 1}), (TBufferCoord{0, 0}));
  core.Lines().Add(u"(");
  EXPECT_EQ(core.GetMatchingBracketEx({1, 4}), (TBufferCoord{0, 0}));
  // No match: the caret goes to (1, 1).
  core.SetCaretXY({1, 4});
  core.FindMatchingBracket();
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{1, 1}));
}

TEST_F(CoreFixture, BracketsInsideStringsAreSkipped) {
  TCodeIniHighlighter ini;
  core.SetHighlighter(&ini);
  setText(u"k=(\"a)\" )");
  EXPECT_EQ(core.GetMatchingBracketEx({3, 1}), (TBufferCoord{9, 1}));
  std::u16string token;
  TCodeHighlighterAttributes* attr = nullptr;
  ASSERT_TRUE(core.GetAttributeAt({5, 1}, token, attr));
  EXPECT_EQ(attr, ini.StringAttri());
  EXPECT_EQ(token, u"\"a)\"");
  int kind = -1, start = 0;
  ASSERT_TRUE(core.GetTokenInfoAt({5, 1}, token, kind, start, attr));
  EXPECT_EQ(start, 4);
  EXPECT_FALSE(core.GetAttributeAt({1, 5}, token, attr));
  EXPECT_EQ(attr, nullptr);
}

TEST_F(CoreFixture, SettersClampAndReportOnlyChanges) {
  struct Case {
    int set, stored;
  } tabs[] = {{0, 1}, {300, 256}, {-5, 1}, {4, 4}};
  for (const Case& c : tabs) {
    core.SetTabWidth(c.set);
    EXPECT_EQ(core.TabWidth(), c.stored) << c.set;
    EXPECT_EQ(core.Lines().TabWidth(), c.stored) << c.set;
  }
  core.SetMaxScrollWidth(0);
  EXPECT_EQ(core.MaxScrollWidth(), 1);
  core.SetMaxScrollWidth(INT_MAX);
  EXPECT_EQ(core.MaxScrollWidth(), INT_MAX - 1);

  std::vector<TCodeStatusChanges> changes;
  core.OnStatusChange = [&](TCodeEditCore&, TCodeStatusChanges c) { changes.push_back(c); };
  core.SetReadOnly(false);
  EXPECT_TRUE(changes.empty());
  core.SetReadOnly(true);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], scReadOnly);
  // Under the paint lock changes collect and come once.
  core.IncPaintLock();
  core.SetReadOnly(false);
  core.SetInsertMode(false);
  EXPECT_EQ(changes.size(), 1u);
  core.DecPaintLock();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[1], scReadOnly | scInsertMode);
}

TEST_F(CoreFixture, NestedTransientNotificationsFireForTheOuterPairOnly) {
  std::vector<TTransientType> fired;
  core.OnPaintTransient = [&](TCodeEditCore&, TTransientType t) { fired.push_back(t); };
  core.DoPaintTransientEx(ttBefore, true);
  core.DoPaintTransientEx(ttBefore, true);
  core.DoPaintTransientEx(ttAfter, true);
  core.DoPaintTransientEx(ttAfter, true);
  EXPECT_EQ(fired, (std::vector<TTransientType>{ttBefore, ttAfter}));
  // An unbalanced after does not drive the count below zero.
  core.DoPaintTransientEx(ttAfter, true);
  core.DoPaintTransient(ttBefore);
  EXPECT_EQ(fired.size(), 4u);
}

TEST_F(CoreFixture, ClearingTheLinesResetsCaretAndUndo) {
  setText(u"one\r\ntwo\r\nthree");
  core.SetCaretAndSelection({3, 3}, {1, 2}, {3, 3});
  core.UndoList().AddChange(crInsert, {1, 1}, {2, 1}, u"x", smNormal);
  core.RedoList().AddChange(crInsert, {1, 1}, {2, 1}, u"x", smNormal);
  core.Lines().Clear();
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{1, 1}));
  EXPECT_FALSE(core.SelAvail());
  EXPECT_FALSE(core.UndoList().CanUndo());
  EXPECT_FALSE(core.RedoList().CanUndo());
}

TEST_F(CoreFixture, RescansStopWhereTheStoredRangeRepeats) {
  setText(u"a\r\n{\r\nb\r\n}\r\nc\r\nd");
  BraceHighlighter h;
  core.SetHighlighter(&h);
  EXPECT_EQ(h.scanned, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(core.Lines().GetRange(2), 1);
  EXPECT_EQ(core.Lines().GetRange(3), 0);

  // A change that keeps the range rescans that line only.
  h.scanned.clear();
  core.Lines().PutString(2, u"bb");
  EXPECT_EQ(h.scanned, (std::vector<int>{2}));

  // Opening a brace on line 0 changes ranges down to the line where they
  // agree again.
  h.scanned.clear();
  core.Lines().PutString(0, u"{");
  EXPECT_EQ(h.scanned, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(core.Lines().GetRange(5), 1);
  h.scanned.clear();
  core.Lines().PutString(4, u"}");
  EXPECT_EQ(h.scanned, (std::vector<int>{4, 5}));
  EXPECT_EQ(core.Lines().GetRange(5), 0);

  // Deleting a line rescans from there.
  h.scanned.clear();
  core.Lines().Delete(1);
  EXPECT_EQ(h.scanned.front(), 1);
}

TEST_F(CoreFixture, ADestroyedHighlighterLeavesNil) {
  setText(u"x");
  auto h = std::make_unique<TCodeIniHighlighter>();
  core.SetHighlighter(h.get());
  h.reset();
  EXPECT_EQ(core.Highlighter(), nullptr);
  EXPECT_TRUE(core.IsIdentChar(u'x'));
  core.Lines().Add(u"y");
}

TEST_F(CoreFixture, MarksFollowDeletedAndInsertedLines) {
  setText(u"1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10");
  std::vector<TCodeEditMark*> marks;
  for (int line : {5, 6, 9}) {
    auto mark = std::make_unique<TCodeEditMark>(&core);
    mark->SetLine(line);
    marks.push_back(mark.get());
    core.Marks().Add(std::move(mark));
  }
  core.DoLinesDeleted(5, 2);
  EXPECT_EQ(marks[0]->Line(), 5);
  EXPECT_EQ(marks[1]->Line(), 5);
  EXPECT_EQ(marks[2]->Line(), 7);
  core.DoLinesInserted(5, 3);
  EXPECT_EQ(marks[0]->Line(), 8);
  EXPECT_EQ(marks[2]->Line(), 10);
}

TEST_F(CoreFixture, LineMarksAreCappedAtSixteen) {
  setText(u"a");
  std::vector<TCodeEditMark*> added;
  for (int i = 0; i < 20; ++i) {
    auto mark = std::make_unique<TCodeEditMark>(&core);
    mark->SetLine(1);
    added.push_back(mark.get());
    core.Marks().Add(std::move(mark));
  }
  TCodeEditMarks found;
  found.fill(added.back());
  core.Marks().GetLineMarks(1, found);
  for (std::size_t i = 0; i < found.size(); ++i)
    EXPECT_EQ(found[i], added[i]);
  core.Marks().GetLineMarks(2, found);
  for (TCodeEditMark* m : found)
    EXPECT_EQ(m, nullptr);
}

TEST_F(CoreFixture, AMarkOutsideTheListForgetsItsEditor) {
  auto mark = std::make_unique<TCodeEditMark>(&core);
  TCodeEditMark* raw = mark.get();
  core.Marks().Add(std::move(mark));
  EXPECT_EQ(raw->GetEdit(), &core);
  std::unique_ptr<TCodeEditMark> out = core.Marks().Extract(raw);
  EXPECT_EQ(out->GetEdit(), nullptr);
  core.Marks().Add(std::move(out));
  EXPECT_EQ(raw->GetEdit(), nullptr);
}

TEST_F(CoreFixture, Bookmarks) {
  core.SetBookmark(10, 1, 1);
  core.SetBookmark(0, 1, 0);
  EXPECT_EQ(core.Marks().Count(), 0);
  // An empty editor still takes line 1.
  core.SetBookmark(0, 1, 1);
  EXPECT_EQ(core.Marks().Count(), 1);

  setText(u"1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8");
  std::vector<int> cleared;
  core.OnClearBookmark = [&](TCodeEditCore&, TCodeEditMark*& m) { cleared.push_back(m->Line()); };
  core.SetBookmark(3, 2, 2);
  core.SetBookmark(3, 4, 7);
  EXPECT_EQ(cleared, (std::vector<int>{2}));
  ASSERT_NE(core.BookMark(3), nullptr);
  EXPECT_EQ(core.BookMark(3)->Line(), 7);
  EXPECT_TRUE(core.BookMark(3)->IsBookmark());
  EXPECT_EQ(core.Marks().Count(), 2);

  core.GotoBookmark(3);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{4, 7}));
  core.GotoLineAndCenter(4);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{1, 4}));
  // A bookmark cut off by deleting lines at the end goes nowhere.
  core.Lines().DeleteLines(5, 3);
  core.GotoBookmark(3);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{1, 4}));

  // A handler that takes the mark keeps it; the editor stores nothing.
  std::unique_ptr<TCodeEditMark> taken;
  core.OnPlaceBookmark = [&](TCodeEditCore&, TCodeEditMark*& m) {
    taken.reset(m);
    m = nullptr;
  };
  core.SetBookmark(5, 1, 1);
  EXPECT_EQ(core.BookMark(5), nullptr);
  EXPECT_NE(taken, nullptr);
  core.ClearBookmark(3);
  EXPECT_EQ(core.BookMark(3), nullptr);
  EXPECT_EQ(core.Marks().Count(), 1);
}

TEST_F(CoreFixture, InvalidationsCollectWhileTheLinesChange) {
  setText(u"1\r\n2\r\n3\r\n4\r\n5\r\n6");
  view.textRanges.clear();
  core.Lines().BeginUpdate();
  core.Lines().PutString(1, u"b");
  core.Lines().PutString(3, u"d");
  EXPECT_TRUE(view.textRanges.empty());
  core.Lines().EndUpdate();
  ASSERT_EQ(view.textRanges.size(), 1u);
  EXPECT_EQ(view.textRanges[0], (std::pair<int, int>{2, 4}));
}
