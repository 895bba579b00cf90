#include "editor/CodeEditCore.h"

#include "tests/editor/CodeEditFakeView.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace codeedit;

namespace {

// 8 x 16 pixel cells, no gutter, a window of 40 columns and 20 rows.
struct ScrollFixture : ::testing::Test {
  FakeView view;
  TCodeEditCore core{&view};

  ScrollFixture() {
    core.FCharWidth = 8;
    core.FLineHeight = 16;
    core.ApplyGutterWidth(0);
    core.SetClientSize(2 + 40 * 8, 20 * 16);
  }
  void setLines(int count, std::u16string_view each = u"line") {
    std::u16string text;
    for (int i = 0; i < count; ++i) {
      if (i > 0)
        text += u"\r\n";
      text += each;
    }
    core.Lines().SetAllText(text);
  }
};

TEST_F(ScrollFixture, TheWindowHoldsWholeCells) {
  EXPECT_EQ(core.FCharsInWindow, 40);
  EXPECT_EQ(core.FLinesInWindow, 20);
  EXPECT_EQ(core.FTextOffset, 2);
  core.ApplyGutterWidth(30);
  EXPECT_EQ(core.FTextOffset, 32);
  EXPECT_EQ(core.FCharsInWindow, 36);
}

TEST_F(ScrollFixture, CaretIsLimitedToTheText) {
  struct Case {
    const char* name;
    std::u16string_view text;
    TCodeEditorOptions options;
    TBufferCoord asked, placed;
  } cases[] = {
      {"empty buffer", u"", 0, {5, 3}, {1, 1}},
      {"empty buffer, past line ends", u"", OptionBit(eoScrollPastEol), {5, 3}, {5, 1}},
      {"beyond the line end", u"abc\r\nxy", 0, {10, 1}, {4, 1}},
      {"below the last line", u"abc\r\nxy", 0, {10, 9}, {3, 2}},
      {"before the start", u"abc", 0, {-4, -2}, {1, 1}},
      {"past the end allowed", u"abc", OptionBit(eoScrollPastEol), {10, 1}, {10, 1}},
      {"not beyond MaxScrollWidth + 1", u"abc", OptionBit(eoScrollPastEol), {5000, 1}, {1025, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    core.Lines().SetAllText(c.text);
    core.SetOptions(c.options);
    core.SetCaretXY(c.asked);
    EXPECT_EQ(core.CaretXY(), c.placed);
  }
}

TEST_F(ScrollFixture, ThePaintLockCollectsOneNotification) {
  setLines(100);
  std::vector<TCodeStatusChanges> changes;
  core.OnStatusChange = [&](TCodeEditCore&, TCodeStatusChanges c) { changes.push_back(c); };
  view.clear();
  core.BeginPaintLock();
  core.SetCaretXY({3, 50});
  core.SetCaretXY({4, 60});
  core.SetInsertMode(false);
  EXPECT_TRUE(changes.empty());
  EXPECT_EQ(view.scrollBarUpdates, 0);
  EXPECT_EQ(view.caretPlacements, 0);
  core.EndPaintLock();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], scCaretX | scCaretY | scTopLine | scInsertMode);
  EXPECT_EQ(view.scrollBarUpdates, 1);
  EXPECT_EQ(view.caretPlacements, 1);
  // The scroll under the lock only repaints once at its release.
  EXPECT_TRUE(view.scrolls.empty());
  EXPECT_EQ(view.wholeInvalidations, 1);
  EXPECT_EQ(core.FTopLine, 41);
}

TEST_F(ScrollFixture, ManyMovesUnderTheLockRepaintOnce) {
  setLines(2000);
  view.clear();
  core.BeginPaintLock();
  for (int line = 1; line <= 2000; line += 3)
    core.SetCaretXY({1, line});
  core.EndPaintLock();
  EXPECT_TRUE(view.scrolls.empty());
  EXPECT_EQ(view.wholeInvalidations, 1);
  EXPECT_EQ(view.scrollBarUpdates, 1);
}

TEST_F(ScrollFixture, AnUnfocusedViewIsAskedAgainForTheCaret) {
  setLines(5);
  view.focused = false;
  core.SetCaretXY({2, 2});
  EXPECT_TRUE(core.CaretChangedPending());
  view.focused = true;
  core.PlaceSystemCaret();
  EXPECT_FALSE(core.CaretChangedPending());
}

TEST_F(ScrollFixture, TopLineScrollsOrRepaints) {
  setLines(100);
  std::vector<TCodeStatusChanges> changes;
  core.OnStatusChange = [&](TCodeEditCore&, TCodeStatusChanges c) { changes.push_back(c); };
  view.clear();
  core.SetTopLine(4);
  EXPECT_EQ(core.FTopLine, 4);
  ASSERT_EQ(view.scrolls.size(), 1u);
  EXPECT_EQ(view.scrolls[0], (std::pair<int, int>{0, -3}));
  EXPECT_EQ(view.wholeInvalidations, 0);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], scTopLine);
  // A window or more: everything is repainted.
  core.SetTopLine(24);
  EXPECT_EQ(view.scrolls.size(), 1u);
  EXPECT_EQ(view.wholeInvalidations, 1);
  // Limited to the last full page, or the last line with eoScrollPastEof.
  core.SetTopLine(500);
  EXPECT_EQ(core.FTopLine, 81);
  core.SetOptions(core.Options() | OptionBit(eoScrollPastEof));
  core.SetTopLine(500);
  EXPECT_EQ(core.FTopLine, 100);
  core.SetTopLine(-3);
  EXPECT_EQ(core.FTopLine, 1);
  // Unchanged: nothing at all.
  view.clear();
  changes.clear();
  core.SetTopLine(1);
  EXPECT_TRUE(changes.empty());
  EXPECT_EQ(view.scrollBarUpdates, 0);
}

TEST_F(ScrollFixture, LeftCharMovesTheTextOffset) {
  setLines(3, std::u16string(100, u'x'));
  view.clear();
  core.SetLeftChar(3);
  EXPECT_EQ(core.FTextOffset, 2 - 2 * 8);
  ASSERT_EQ(view.scrolls.size(), 1u);
  EXPECT_EQ(view.scrolls[0], (std::pair<int, int>{-2, 0}));
  // With eoScrollPastEol the limit is MaxScrollWidth; without it the longest line.
  core.SetLeftChar(5000);
  EXPECT_EQ(core.FLeftChar, 1024 - 40 + 1);
  core.SetOptions(core.Options() & ~OptionBit(eoScrollPastEol));
  core.SetLeftChar(5000);
  EXPECT_EQ(core.FLeftChar, 100 - 40 + 1);
}

TEST_F(ScrollFixture, EnsureCursorPosVisibleFollowsTheCaret) {
  setLines(200, std::u16string(100, u'x'));
  struct Case {
    const char* name;
    TBufferCoord caret;
    bool centre;
    int top, left;
  } cases[] = {
      {"below the window", {1, 50}, false, 31, 1},
      {"inside: nothing moves", {1, 40}, false, 31, 1},
      {"above the window", {1, 10}, false, 10, 1},
      {"right of the window", {60, 10}, false, 10, 21},
      {"left of the window", {5, 10}, false, 10, 5},
      {"centred below", {1, 100}, true, 91, 1},
      {"centred just above", {1, 90}, true, 81, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    core.SetCaretPositionEx(false, c.caret);
    core.EnsureCursorPosVisibleEx(c.centre);
    EXPECT_EQ(core.FTopLine, c.top);
    EXPECT_EQ(core.FLeftChar, c.left);
    EXPECT_TRUE(core.CaretInsideView());
  }
}

TEST_F(ScrollFixture, ScrollRanges) {
  setLines(100);
  EXPECT_EQ(core.VertScrollMax(), 100);
  EXPECT_EQ(core.HorzScrollMax(), 1024);
  core.SetOptions(core.Options() & ~OptionBit(eoScrollPastEol));
  EXPECT_EQ(core.HorzScrollMax(), 4);
  core.SetOptions(core.Options() | OptionBit(eoScrollPastEof));
  EXPECT_EQ(core.VertScrollMax(), 119);
  core.Lines().Clear();
  core.SetOptions(core.Options() & ~OptionBit(eoScrollPastEof));
  EXPECT_EQ(core.VertScrollMax(), 1);
  EXPECT_EQ(core.HorzScrollMax(), 1);
}

TEST_F(ScrollFixture, CaretShapes) {
  struct Case {
    TCodeEditCaretType type;
    TCodeCaretShape shape;
  } cases[] = {
      {ctVerticalLine, {2, 14, -1, 0}},
      {ctHorizontalLine, {8, 2, 0, 14}},
      {ctHalfBlock, {8, 7, 0, 7}},
      {ctBlock, {8, 14, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    core.SetInsertMode(true);
    core.SetInsertCaret(c.type);
    core.InitializeCaret();
    EXPECT_EQ(core.CaretShape(), c.shape);
    EXPECT_EQ(core.FCaretOffsetX, c.shape.OffsetX);
    EXPECT_EQ(core.FCaretOffsetY, c.shape.OffsetY);
  }
  // Overwrite mode takes the other shape (a block by default).
  core.SetInsertMode(false);
  EXPECT_EQ(core.CaretShape(), (TCodeCaretShape{8, 14, 0, 0}));
}

TEST_F(ScrollFixture, InvalidatedRangesAreOrderedAndReachBelowTheText) {
  setLines(10);
  view.clear();
  core.InvalidateLine(3);
  core.SetActiveLineColor(0x00FFFF);
  core.SetCaretXY({1, 5});
  // The old caret line and the new one repaint with an active line colour.
  ASSERT_GE(view.textRanges.size(), 4u);
  EXPECT_EQ(view.textRanges[0], (std::pair<int, int>{3, 3}));
  EXPECT_EQ(view.textRanges[1], (std::pair<int, int>{1, 1}));
  EXPECT_EQ(view.textRanges[2], (std::pair<int, int>{1, 1}));
  EXPECT_EQ(view.textRanges[3], (std::pair<int, int>{5, 5}));
  // Deleting lines repaints to the bottom of the window.
  view.clear();
  core.Lines().Delete(7);
  ASSERT_FALSE(view.textRanges.empty());
  EXPECT_EQ(view.textRanges.back(), (std::pair<int, int>{8, INT_MAX}));
  // While the lines change, text and gutter ranges collect and go once.
  view.clear();
  core.Lines().BeginUpdate();
  core.Lines().Insert(5, u"new");
  core.Lines().Delete(2);
  EXPECT_TRUE(view.textRanges.empty());
  EXPECT_TRUE(view.gutterRanges.empty());
  core.Lines().EndUpdate();
  EXPECT_EQ(view.textRanges, (std::vector<std::pair<int, int>>{{3, INT_MAX}}));
  EXPECT_EQ(view.gutterRanges, (std::vector<std::pair<int, int>>{{3, INT_MAX}}));
}

}  // namespace
