#include "editor/CodeEditCore.h"

#include "editor/CodeHighlighterIni.h"
#include "tests/editor/CodeEditFakeView.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace codeedit;

namespace {

struct SelectionFixture : ::testing::Test {
  FakeView view;
  TCodeEditCore core{&view};

  void setText(std::u16string_view text) { core.Lines().SetAllText(text); }
  void select(TCodeSelectionMode mode, TBufferCoord begin, TBufferCoord end) {
    core.SetSelectionMode(mode);
    core.SetCaretAndSelection(end, begin, end);
  }
  std::vector<std::u16string> lines() const {
    std::vector<std::u16string> result;
    for (int i = 1; i <= core.LineCount(); ++i)
      result.emplace_back(core.LineText(i));
    return result;
  }
};

TEST_F(SelectionFixture, SelectedTextInEachMode) {
  struct Case {
    const char* name;
    std::u16string_view text;
    TCodeSelectionMode mode;
    TBufferCoord begin, end;
    bool trim;
    std::u16string_view expected;
  } cases[] = {
      {"normal over three lines", u"abcdef\r\nxy\r\n12345", smNormal, {3, 1}, {2, 3}, false, u"cdef\r\nxy\r\n1"},
      {"normal, anchor after the end", u"abcdef\r\nxy\r\n12345", smNormal, {2, 3}, {3, 1}, false, u"cdef\r\nxy\r\n1"},
      {"normal within a line", u"abcdef", smNormal, {2, 1}, {5, 1}, false, u"bcd"},
      {"normal to the end of a line", u"abc\r\nxy", smNormal, {2, 1}, {1, 2}, false, u"bc\r\n"},
      {"line mode, last two lines", u"abcdef\r\nxy\r\n12345", smLine, {2, 2}, {1, 3}, false, u"xy\r\n12345"},
      {"line mode, first two lines", u"abcdef\r\nxy\r\n12345", smLine, {4, 1}, {1, 2}, false, u"abcdef\r\nxy\r\n"},
      {"column, short line padded", u"abcdef\r\nab", smColumn, {2, 1}, {4, 2}, false, u"bc\r\nb "},
      {"column, short line trimmed", u"abcdef\r\nab", smColumn, {2, 1}, {4, 2}, true, u"bc\r\nb"},
      {"column, ends given right to left", u"abcdef\r\n123456", smColumn, {5, 2}, {3, 1}, false, u"cd\r\n34"},
      // Columns 1..9 take the TAB (eight columns) and the x after it whole.
      {"column over a tab", u"\tx\r\nabcdefghijk", smColumn, {1, 1}, {10, 2}, false, u"\tx\r\nabcdefghi"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setText(c.text);
    TCodeEditorOptions options = CODEEDIT_DEFAULT_OPTIONS & ~OptionBit(eoScrollPastEol);
    if (c.trim)
      options |= OptionBit(eoTrimTrailingSpaces);
    core.SetOptions(options);
    select(c.mode, c.begin, c.end);
    EXPECT_TRUE(core.SelAvail());
    EXPECT_EQ(core.SelectedText(), c.expected);
  }
}

TEST_F(SelectionFixture, EmptyAndZeroWidthSelections) {
  setText(u"abcdef\r\nxy\r\n12345");
  select(smColumn, {3, 1}, {3, 3});
  EXPECT_FALSE(core.SelAvail());
  EXPECT_FALSE(core.SelectionSpansLines());
  EXPECT_EQ(core.SelectedText(), u"");
  // The same ends in normal mode are a selection over three lines.
  core.SetActiveSelectionMode(smNormal);
  EXPECT_TRUE(core.SelAvail());
  EXPECT_TRUE(core.SelectionSpansLines());
  EXPECT_EQ(core.BlockBeginSorted(), (TBufferCoord{3, 1}));
  EXPECT_EQ(core.BlockEndSorted(), (TBufferCoord{3, 3}));
}

TEST_F(SelectionFixture, EndsAreLimitedByMode) {
  setText(u"abc\r\nxy");
  core.SetOptions(CODEEDIT_DEFAULT_OPTIONS & ~OptionBit(eoScrollPastEol));
  // Normal mode: not beyond the line's end; lines within the text.
  core.CollapseSelectionAt({10, 9});
  EXPECT_EQ(core.BlockBegin(), (TBufferCoord{3, 2}));
  // Column mode: any column, as a rectangle may reach past short lines.
  core.SetSelectionMode(smColumn);
  core.ExtendSelectionTo({10, 1});
  EXPECT_EQ(core.BlockEnd(), (TBufferCoord{10, 1}));
  EXPECT_EQ(core.ActiveSelectionMode(), smColumn);
  // With eoScrollPastEol, at most MaxScrollWidth + 1.
  core.SetOptions(CODEEDIT_DEFAULT_OPTIONS);
  core.ExtendSelectionTo({5000, 1});
  EXPECT_EQ(core.BlockEnd(), (TBufferCoord{1025, 1}));
  // eoNoSelection: the moving end stays.
  core.SetOptions(CODEEDIT_DEFAULT_OPTIONS | OptionBit(eoNoSelection));
  core.ExtendSelectionTo({2, 2});
  EXPECT_EQ(core.BlockEnd(), (TBufferCoord{1025, 1}));
}

TEST_F(SelectionFixture, MovingAnEndRepaintsTheLinesItCrosses) {
  setText(u"1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7");
  core.CollapseSelectionAt({1, 2});
  view.clear();
  core.ExtendSelectionTo({1, 4});
  ASSERT_EQ(view.textRanges.size(), 1u);
  EXPECT_EQ(view.textRanges[0], (std::pair<int, int>{2, 4}));
  // Collapsing repaints everything the old selection and the new point span.
  view.clear();
  core.CollapseSelectionAt({1, 6});
  ASSERT_EQ(view.textRanges.size(), 1u);
  EXPECT_EQ(view.textRanges[0], (std::pair<int, int>{2, 6}));
  // A column selection that changes its width repaints its whole height.
  core.SetSelectionMode(smColumn);
  core.ExtendSelectionTo({1, 3});
  view.clear();
  core.ExtendSelectionTo({2, 4});
  ASSERT_EQ(view.textRanges.size(), 1u);
  EXPECT_EQ(view.textRanges[0], (std::pair<int, int>{3, 6}));
}

TEST_F(SelectionFixture, SelectAllAndWordAtCaret) {
  setText(u"one two\r\nthree");
  core.SelectAll();
  EXPECT_EQ(core.BlockBegin(), (TBufferCoord{1, 1}));
  EXPECT_EQ(core.BlockEnd(), (TBufferCoord{6, 2}));
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{6, 2}));
  EXPECT_EQ(core.SelectedText(), u"one two\r\nthree");
  core.SetCaretAndClearSelection({6, 1});
  EXPECT_EQ(core.WordAtCaret(), u"two");
  EXPECT_FALSE(core.SelAvail());
}

TEST_F(SelectionFixture, ReplacingInNormalMode) {
  struct Case {
    const char* name;
    std::u16string_view text;
    TBufferCoord begin, end;
    std::u16string_view insert;
    TCodeEditorOptions extra;
    std::vector<std::u16string> expected;
    TBufferCoord caret;
  } cases[] = {
      {"a break splits the line", u"12345", {3, 1}, {3, 1}, u"a\r\nb", 0, {u"12a", u"b345"}, {2, 2}},
      {"LF and lone CR break too", u"12345", {3, 1}, {3, 1}, u"a\nb\rc", 0, {u"12a", u"b", u"c345"}, {2, 3}},
      {"a selection over lines is replaced", u"abcdef\r\nxy\r\n12345", {3, 1}, {2, 3}, u"X", 0, {u"abX2345"}, {4, 1}},
      {"deleting joins the lines", u"abcdef\r\nxy\r\n12345", {3, 1}, {2, 3}, u"", 0, {u"ab2345"}, {3, 1}},
      {"a NUL ends the text", u"ab", {2, 1}, {2, 1}, std::u16string_view(u"X\0Y", 3), 0, {u"aXb"}, {3, 1}},
      {"past the line end blanks fill the gap", u"ab", {5, 1}, {5, 1}, u"X", 0, {u"ab  X"}, {6, 1}},
      {"trailing blanks go with eoTrimTrailingSpaces", u"ab", {3, 1}, {3, 1}, u"c  \r\nd  ",
       OptionBit(eoTrimTrailingSpaces), {u"abc", u"d"}, {4, 2}},
      {"into an empty buffer", u"", {1, 1}, {1, 1}, u"x\r\ny", 0, {u"x", u"y"}, {2, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setText(c.text);
    core.SetOptions(CODEEDIT_DEFAULT_OPTIONS | c.extra);
    select(smNormal, c.begin, c.end);
    core.ReplaceSelectionEx(smNormal, c.insert, true);
    EXPECT_EQ(lines(), c.expected);
    EXPECT_EQ(core.CaretXY(), c.caret);
    EXPECT_FALSE(core.SelAvail());
  }
}

TEST_F(SelectionFixture, ReplacingInLineMode) {
  // Deleting lines that include the last one leaves an empty last line.
  setText(u"one\r\ntwo\r\nthree");
  select(smLine, {2, 2}, {1, 3});
  core.ReplaceSelection(u"");
  EXPECT_EQ(lines(), (std::vector<std::u16string>{u"one", u""}));
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{1, 2}));
  // Lines above the last go entirely.
  setText(u"one\r\ntwo\r\nthree");
  select(smLine, {1, 1}, {2, 2});
  core.ReplaceSelection(u"");
  EXPECT_EQ(lines(), (std::vector<std::u16string>{u"three"}));
  // Pieces ending in a break become lines in front of the caret's line.
  setText(u"one\r\ntwo");
  core.SetCaretAndClearSelection({3, 2});
  core.ReplaceSelectionEx(smLine, u"A\r\nB\r\nc", false);
  EXPECT_EQ(lines(), (std::vector<std::u16string>{u"one", u"A", u"B", u"ctwo"}));
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{2, 4}));
}

TEST_F(SelectionFixture, ReplacingInColumnMode) {
  // Two pieces at column 5 of the last line: the second makes a new line
  // padded with four blanks; each piece and the new line are undo entries.
  setText(u"abcdef\r\n12");
  core.UndoList().Clear();
  core.SetCaretAndClearSelection({5, 2});
  core.SetSelectionMode(smColumn);
  core.ReplaceSelectionEx(smColumn, u"X\r\nY", true);
  EXPECT_EQ(lines(), (std::vector<std::u16string>{u"abcdef", u"12  X", u"    Y"}));
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{6, 3}));
  std::vector<TCodeChangeReason> reasons;
  while (core.UndoList().CanUndo())
    reasons.insert(reasons.begin(), core.UndoList().PopItem()->Reason);
  EXPECT_EQ(reasons, (std::vector<TCodeChangeReason>{crPaste, crLineBreak, crPaste}));

  // Deleting a rectangle removes the same characters from every line.
  setText(u"abcdef\r\nab\r\n123456");
  select(smColumn, {2, 1}, {4, 3});
  core.ReplaceSelection(u"");
  EXPECT_EQ(lines(), (std::vector<std::u16string>{u"adef", u"a", u"1456"}));
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{2, 3}));
}

TEST_F(SelectionFixture, ReplacingMovesMarksWithTheirLines) {
  setText(u"1\r\n2\r\n3\r\n4\r\n5");
  core.SetBookmark(0, 1, 4);
  select(smNormal, {1, 1}, {1, 3});
  core.ReplaceSelection(u"");
  ASSERT_NE(core.BookMark(0), nullptr);
  EXPECT_EQ(core.BookMark(0)->Line(), 2);
  core.SetCaretAndClearSelection({2, 1});
  core.ReplaceSelection(u"x\r\ny\r\nz");
  EXPECT_EQ(core.BookMark(0)->Line(), 4);
}

TEST_F(SelectionFixture, StatusChangesOfAReplaceComeOnce) {
  setText(u"abc");
  std::vector<TCodeStatusChanges> changes;
  core.OnStatusChange = [&](TCodeEditCore&, TCodeStatusChanges c) { changes.push_back(c); };
  core.ReplaceSelection(u"x\r\ny");
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0] & (scCaretX | scCaretY), scCaretX | scCaretY);
  EXPECT_EQ(core.PaintLock(), 0);
}

// Throws from its scanner once armed.
class ThrowingHighlighter : public TCodeIniHighlighter {
public:
  void ScanNextToken() override {
    if (armed)
      throw std::runtime_error("scanner failed");
    TCodeIniHighlighter::ScanNextToken();
  }
  // Rescanned with every changed line, so a failure shows there too.
  bool HasLineRanges() const override { return true; }
  bool armed = false;
};

TEST_F(SelectionFixture, AFailingReplaceReleasesItsLocks) {
  ThrowingHighlighter failing;
  core.SetHighlighter(&failing);
  setText(u"abc\r\ndef");
  failing.armed = true;
  EXPECT_THROW(core.ReplaceSelection(u"x\r\ny"), std::runtime_error);
  EXPECT_EQ(core.PaintLock(), 0);
  EXPECT_EQ(core.Lines().UpdateCount(), 0);
  // The editor goes on working.
  failing.armed = false;
  std::vector<TCodeStatusChanges> changes;
  core.OnStatusChange = [&](TCodeEditCore&, TCodeStatusChanges c) { changes.push_back(c); };
  core.SetCaretXY({2, 2});
  EXPECT_EQ(changes.size(), 1u);
  core.SetHighlighter(nullptr);
}

}  // namespace
