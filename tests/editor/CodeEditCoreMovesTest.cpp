#include "editor/CodeEditCore.h"

#include <gtest/gtest.h>

#include "tests/editor/CodeEditWindowFixture.h"

#include <functional>
#include <string>

using namespace codeedit;

namespace {

using MovesFixture = CodeEditWindowFixture;

}  // namespace

TEST_F(MovesFixture, HorizontalMovesCrossLinesOnlyWithoutScrollPastEol) {
  setText(u"l1\r\nl2\r\nl3\r\nline4\r\nline5\r\nl6");
  struct Case {
    bool pastEol;
    TBufferCoord from;
    int dx;
    TBufferCoord to;
  } cases[] = {
      {false, {1, 5}, -1, {6, 4}},   // to the end of the line above
      {true, {1, 5}, -1, {1, 5}},    // stays in column 1
      {false, {6, 5}, 1, {1, 6}},    // after the last character: to the next line
      {true, {6, 5}, 1, {7, 5}},     // on past the end
      {false, {3, 6}, 1, {3, 6}},    // the last line has no next one
      {false, {1, 1}, -1, {1, 1}},
      {false, {2, 4}, -40, {1, 4}},  // a page left stops at column 1
      {false, {2, 4}, 40, {6, 4}},   // a page right at the line end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from.CharPos << "," << c.from.LinePos << " by " << c.dx << " past "
                                    << c.pastEol);
    withOption(eoScrollPastEol, c.pastEol);
    core.SetCaretXY(c.from);
    core.MoveCaretX(c.dx, false);
    EXPECT_EQ(core.CaretXY(), c.to);
  }
}

TEST_F(MovesFixture, EnhancedHomeAndEndToggle) {
  setText(u"  abc\r\nabc  \r\n   ");
  withOption(eoEnhanceHomeKey, true);
  withOption(eoEnhanceEndKey, true);
  core.SetCaretXY({5, 1});
  for (int expected : {3, 1, 3}) {
    core.MoveToLineHome(false);
    EXPECT_EQ(core.CaretXY().CharPos, expected);
  }
  core.SetCaretXY({1, 2});
  for (int expected : {4, 6, 4}) {
    core.MoveToLineEnd(false);
    EXPECT_EQ(core.CaretXY().CharPos, expected);
  }
  // A blank line: Home goes past the blanks, End to column 1 and the end.
  core.SetCaretXY({2, 3});
  core.MoveToLineHome(false);
  EXPECT_EQ(core.CaretXY().CharPos, 1);
  core.MoveToLineHome(false);
  EXPECT_EQ(core.CaretXY().CharPos, 4);
  core.MoveToLineEnd(false);
  EXPECT_EQ(core.CaretXY().CharPos, 1);

  // Plain keys go to column 1 and to the line end.
  withOption(eoEnhanceHomeKey, false);
  withOption(eoEnhanceEndKey, false);
  core.SetCaretXY({4, 1});
  core.MoveToLineHome(true);
  EXPECT_EQ(core.CaretXY().CharPos, 1);
  EXPECT_EQ(core.SelectedText(), u"  a");
  core.SetCaretXY({1, 2});
  core.MoveToLineEnd(false);
  EXPECT_EQ(core.CaretXY().CharPos, 6);
}

TEST_F(MovesFixture, SelectingMovesGrowFromTheAnchorAndPlainMovesCollapse) {
  setText(u"abcdef\r\nxyz");
  core.SetCaretAndSelection({2, 1}, {2, 1}, {2, 1});
  for (int i = 0; i < 3; ++i)
    core.MoveCaretX(1, true);
  EXPECT_EQ(core.SelectedText(), u"bcd");
  core.MoveCaretY(1, true);
  EXPECT_EQ(core.BlockBeginSorted(), (TBufferCoord{2, 1}));
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{5, 2})) << "past the end of the short line";
  core.MoveCaretX(-1, false);
  EXPECT_FALSE(core.SelAvail());
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{4, 2}));
}

TEST_F(MovesFixture, CaretMovesBreakTheUndoGroup) {
  setText(u"abc");
  core.UndoList().AddChange(crInsert, {1, 1}, {2, 1}, u"", smNormal);
  const int before = core.UndoList().ItemCount();
  core.MoveCaretX(1, false);
  EXPECT_EQ(core.UndoList().ItemCount(), before + 1);
  withOption(eoGroupUndo, false);
  core.MoveCaretX(1, false);
  EXPECT_EQ(core.UndoList().ItemCount(), before + 1);
}

TEST_F(MovesFixture, VerticalMovesKeepTheRememberedColumnWithKeepCaretX) {
  setText(u"long line here\r\nab\r\nanother long line");
  withOption(eoScrollPastEol, false);
  core.SetCaretXY({10, 1});
  core.MoveCaretY(1, false);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{3, 2}));
  core.MoveCaretY(1, false);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{3, 3})) << "without the option the short line's column holds";

  withOption(eoKeepCaretX, true);
  core.SetCaretXY({10, 1});
  core.MoveCaretY(1, false);
  core.MoveCaretY(1, false);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{10, 3}));
  core.MoveCaretY(5, false);
  EXPECT_EQ(core.CaretXY().LinePos, 3) << "no row below the last";
  core.MoveCaretY(-9, false);
  EXPECT_EQ(core.CaretXY().LinePos, 1);
}

TEST_F(MovesFixture, SelStartAndSelLengthCountCrLfAsTwo) {
  // Index 10 is the "c" of line 2: "abcdefgh" + CR LF is 10 characters.
  setText(u"abcdefgh\r\nccc\r\nlast");
  EXPECT_EQ(core.PosToCharIndex({1, 2}), 10);
  EXPECT_EQ(core.CharIndexToPos(10), (TBufferCoord{1, 2}));
  EXPECT_EQ(core.CharIndexToPos(9), (TBufferCoord{10, 1}));
  EXPECT_EQ(core.CharIndexToPos(1000), (TBufferCoord{1, 4}));

  core.SetSelStart(10);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{1, 2}));
  EXPECT_EQ(core.SelStart(), 10);
  EXPECT_EQ(core.SelLength(), 0);

  core.SetSelLength(-3);
  EXPECT_EQ(core.CaretXY(), core.CharIndexToPos(7));
  EXPECT_EQ(core.SelStart(), 7);
  EXPECT_EQ(core.SelLength(), 3);
  EXPECT_EQ(core.SelectedText(), u"h\r\n");

  core.SetSelStart(10);
  core.SetSelLength(-20);
  EXPECT_EQ(core.SelStart(), 10);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{5, 3}));
  EXPECT_EQ(core.SelectedText(), u"ccc\r\nlast");

  core.SetSelStart(2);
  core.SetSelLength(4);
  EXPECT_EQ(core.SelectedText(), u"cdef");
}

TEST_F(MovesFixture, IsInSelectionInEachMode) {
  setText(u"0123456789\r\n0123456789\r\n0123456789\r\n0123456789\r\n0123456789");
  struct Case {
    TCodeSelectionMode mode;
    TBufferCoord p;
    bool in;
  } cases[] = {
      {smColumn, {3, 3}, true},   {smColumn, {5, 3}, false}, {smColumn, {2, 2}, true},
      {smColumn, {4, 5}, false},  {smNormal, {4, 2}, false}, {smNormal, {5, 2}, true},
      {smNormal, {9, 3}, true},   {smNormal, {2, 4}, false}, {smNormal, {1, 4}, true},
      {smLine, {9, 4}, true},     {smLine, {1, 1}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.mode) << " " << c.p.CharPos << "," << c.p.LinePos);
    core.SetSelectionMode(c.mode);
    core.SetCaretAndSelection({2, 4}, {5, 2}, {2, 4});
    EXPECT_EQ(core.IsInSelection(c.p), c.in);
  }
  core.SetCaretAndSelection({2, 4}, {2, 4}, {2, 4});
  EXPECT_FALSE(core.IsInSelection({2, 4}));
}

TEST_F(MovesFixture, PointsBecomeCells) {
  setText(u"abc\r\ndef\r\nghi");
  const int x0 = core.FGutterWidth + 2;
  struct Case {
    int x, y;
    TDisplayCoord nearest, under;
  } cases[] = {
      {x0, 0, {1, 1}, {1, 1}},
      {x0 + 3, 17, {1, 2}, {1, 2}},
      {x0 + 4, 17, {1, 2}, {1, 2}},    // half a cell: to the even neighbour
      {x0 + 12, 17, {3, 2}, {2, 2}},   // one and a half cells round to two
      {x0 + 5, 17, {2, 2}, {1, 2}},
      {0, -5, {1, 1}, {1, 1}},
      {x0, 20 * 16 + 40, {1, 20}, {1, 23}},  // below the window: the nearest cell stays on its last row
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    EXPECT_EQ(core.PointToNearestCell(c.x, c.y), c.nearest);
    EXPECT_EQ(core.PointToCell(c.x, c.y), c.under);
  }
  core.CaretFromPoint(x0 + 100, 20 * 16 - 1);
  EXPECT_EQ(core.CaretXY().LinePos, 3) << "the caret stays on a row of the text";
}

// Word wrap at 10 columns. Line 1 "abcdefghijklmnopqrstuv" has rows 1-3 (10,
// 10 and 2 cells), line 2 "xy" row 4, line 3 "aaaaaaaa bbbbbbbbbbbbb" rows
// 5-7 (8 cells: it breaks before its blank, then 10 and 4).
struct WrappedMovesFixture : CodeEditWindowFixture {
  WrappedMovesFixture() {
    core.SetClientSize(2 + 10 * 8, 20 * 16);
    setText(u"abcdefghijklmnopqrstuv\r\nxy\r\naaaaaaaa bbbbbbbbbbbbb");
    core.SetWordWrap(true);
  }
};

TEST_F(WrappedMovesFixture, TheCaretAtARowBoundaryShowsAtTheUpperRowsEndOrTheLowerRowsStart) {
  ASSERT_EQ(core.DisplayLineCount(), 7);
  ASSERT_EQ(core.WordWrapPlugin()->RowLength(5), 8);
  using Step = std::function<void(TCodeEditCore&)>;
  auto command = [](TCodeEditorCommand c) { return Step([c](TCodeEditCore& e) { e.ExecuteCommand(c, 0, nullptr); }); };
  auto click = [](int column, int row) { return Step([=](TCodeEditCore& e) { e.PlaceCaretAtDisplayPos({column, row}); }); };
  struct Case {
    const char* name;
    TBufferCoord from;
    bool fromEol;
    Step step;
    TBufferCoord to;
    bool eol;
    TDisplayCoord shown;
  };
  const Case cases[] = {
      {"End on an inner row: the row's end", {3, 1}, false, command(ecLineEnd), {11, 1}, true, {11, 1}},
      {"End again stays", {11, 1}, true, command(ecLineEnd), {11, 1}, true, {11, 1}},
      {"End on the last row: after the text", {21, 1}, false, command(ecLineEnd), {23, 1}, false, {3, 3}},
      {"End on a row broken at a blank", {3, 3}, false, command(ecLineEnd), {9, 3}, true, {9, 5}},
      {"Home from the upper row's end", {11, 1}, true, command(ecLineStart), {1, 1}, false, {1, 1}},
      {"Home on a continuation row: its start", {15, 1}, false, command(ecLineStart), {11, 1}, false, {1, 2}},
      {"Right onto the next row's start: the upper end first", {10, 1}, false, command(ecRight), {11, 1}, true, {11, 1}},
      {"Right from the upper end: the lower start", {11, 1}, true, command(ecRight), {11, 1}, false, {1, 2}},
      {"Left from a row's start: the upper end", {11, 1}, false, command(ecLeft), {11, 1}, true, {11, 1}},
      {"Left from the upper end: the character before", {11, 1}, true, command(ecLeft), {10, 1}, false, {10, 1}},
      {"Left at a line's start is no row boundary", {1, 2}, false, command(ecLeft), {1, 2}, false, {1, 4}},
      {"Down keeps the column", {5, 1}, false, command(ecDown), {15, 1}, false, {5, 2}},
      {"Down from the upper end: the next row's end", {11, 1}, true, command(ecDown), {21, 1}, true, {11, 2}},
      {"Up onto a shorter row: its end", {18, 3}, false, command(ecUp), {9, 3}, true, {9, 5}},
      {"Up onto the last row of the line above", {2, 2}, false, command(ecUp), {22, 1}, false, {2, 3}},
      {"A click past a row's end", {1, 1}, false, click(20, 5), {9, 3}, true, {9, 5}},
      {"A click inside a row", {1, 1}, false, click(5, 5), {5, 3}, false, {5, 5}},
      {"A click past a line's last row stays on it", {1, 1}, false, click(6, 4), {6, 2}, false, {6, 4}},
      {"A caret moved far past a last row's end on another line comes back", {1, 1}, false,
       Step([](TCodeEditCore& e) { e.SetCaretXY({40, 2}); }), {11, 2}, false, {11, 4}},
      {"On its own line it stays", {1, 2}, false, Step([](TCodeEditCore& e) { e.SetCaretXY({40, 2}); }), {40, 2},
       false, {40, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    core.SetCaretXY(c.from);
    core.FCaretAtEOL = c.fromEol;
    c.step(core);
    EXPECT_EQ(core.CaretXY(), c.to);
    EXPECT_EQ(core.FCaretAtEOL, c.eol);
    EXPECT_EQ(core.CaretDisplayPos(), c.shown);
  }
}

TEST_F(WrappedMovesFixture, TheCaretIsDrawnWhereItShows) {
  core.SetCaretXY({11, 1});
  // At the lower row's start, then at the upper row's end.
  EXPECT_EQ(core.CaretRect().Top, 16);
  EXPECT_EQ(core.CaretRect().Left, core.FTextOffset + core.FCaretOffsetX);
  view.clear();
  core.MoveCaretX(-1, false);
  EXPECT_EQ(core.CaretRect().Top, 0);
  EXPECT_EQ(core.CaretRect().Left, core.FTextOffset + 10 * 8 + core.FCaretOffsetX);
  EXPECT_GE(view.caretPlacements, 1);
  // Past the window's last column the caret stays after it.
  core.SetCaretXY({40, 2});
  EXPECT_LE(core.CaretRect().Left, core.FTextOffset + 10 * 8 + core.FCaretOffsetX);
}
