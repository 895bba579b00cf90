#include "editor/CodeEditWordWrap.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <random>
#include <string>
#include <vector>

#include "editor/CodeEdit.h"
#include "editor/CodeEditCore.h"
#include "editor/CodeEditTextBuffer.h"
#include "tests/editor/CodeEditFakeView.h"
#include "tests/support/ThrownText.h"

using namespace codeedit;

namespace {

struct WordWrapFixture : ::testing::Test {
  FakeView view;
  TCodeEditCore core{&view};

  // The editor wrapping at Width columns.
  TCodeWordWrapPlugin& wrapAt(int Width) {
    core.FCharsInWindow = Width;
    if (core.WordWrap())
      core.WordWrapDisplayChanged();
    else
      core.SetWordWrap(true);
    return plugin();
  }
  TCodeWordWrapPlugin& plugin() { return *dynamic_cast<TCodeWordWrapPlugin*>(core.WordWrapPlugin()); }

  static std::vector<int> rowsOf(const ICodeEditBufferPlugin& p) {
    std::vector<int> rows;
    for (int r = 1; r <= p.RowCount(); ++r)
      rows.push_back(p.RowLength(r));
    return rows;
  }
};

}  // namespace

TEST_F(WordWrapFixture, ShortestRowIsTwoThirdsOfTheWidth) {
  const std::pair<int, int> cases[] = {{80, 54}, {2, 2}, {1, 1}, {3, 2}, {300, 200}, {0, 1}};
  for (auto [width, minimum] : cases) {
    SCOPED_TRACE(width);
    EXPECT_EQ(TCodeWordWrapPlugin::MinRowWidthFor(width), minimum);
  }
  EXPECT_EQ(wrapAt(80).MinRowWidth(), 54);
  EXPECT_EQ(thrownText([] { TCodeWordWrapPlugin p(nullptr); }),
            "Owner of TCodeWordWrapPlugin must be a TCustomCodeEdit");
}

TEST_F(WordWrapFixture, LinesBreakIntoRows) {
  struct Case {
    const char* name;
    int width;
    std::u16string line;
    std::vector<int> rows;
  };
  const Case cases[] = {
      {"200 letters without a break", 80, std::u16string(200, u'x'), {80, 80, 40}},
      {"a blank too near the row start is no break", 7, u"abcd efgh", {7, 2}},
      {"a blank past two thirds begins the next row", 10, u"aaaaaaaa bbbbbbbb", {8, 9}},
      {"empty line", 10, u"", {0}},
      {"exactly the width", 10, std::u16string(10, u'y'), {10}},
      {"a wide glyph stays whole", 10, u"aaaaaaaaa\u4E2D", {9, 2}},
      {"tabs count their columns and break", 5, u"\tab", {5, 5}},
      {"a window wider than a byte wraps at its width", 300, std::u16string(700, u'z'), {300, 300, 100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    core.Lines().SetAllText(c.line);
    if (c.line.empty())
      core.Lines().Add(u"");
    TCodeWordWrapPlugin& p = wrapAt(c.width);
    EXPECT_EQ(p.WrapWidth(), c.width);
    EXPECT_EQ(rowsOf(p), c.rows);
    EXPECT_EQ(core.DisplayLineCount(), static_cast<int>(c.rows.size()));
  }
}

TEST_F(WordWrapFixture, RowLengthOutsideTheRowsRaises) {
  core.Lines().SetAllText(u"abcd efgh");
  TCodeWordWrapPlugin& p = wrapAt(7);
  ASSERT_EQ(p.RowCount(), 2);
  EXPECT_EQ(thrownText([&] { p.RowLength(0); }), "List index out of bounds (0)");
  EXPECT_EQ(thrownText([&] { p.RowLength(3); }), "List index out of bounds (3)");
  EXPECT_THROW(p.RowLength(-1), EListError);
}

TEST_F(WordWrapFixture, PositionsMapBetweenBufferAndRows) {
  // Rows: "abcd efgh" as 7 + 2, "xy", "\tab" as 5 + 5 (tab width 8, 7 columns).
  core.Lines().SetAllText(u"abcd efgh\r\nxy\r\n\tab");
  wrapAt(7);
  ASSERT_EQ(rowsOf(plugin()), (std::vector<int>{7, 2, 2, 7, 3}));
  struct ToDisplay {
    TBufferCoord buffer;
    TDisplayCoord display;
  };
  const ToDisplay forward[] = {
      {{7, 1}, {7, 1}},   // the first row's last character
      {{8, 1}, {1, 2}},   // just past an inner row: the next row's start
      {{10, 1}, {3, 2}},  // just past the last row: that row's length + 1
      {{14, 1}, {7, 2}},  // beyond the line stays on its last row
      {{1, 2}, {1, 3}},
      {{2, 3}, {2, 5}},   // 'a' after the tab sits in display column 9
      {{1, 6}, {1, 8}},   // lines past the end take one row each
  };
  for (const ToDisplay& c : forward) {
    SCOPED_TRACE(testing::Message() << c.buffer.CharPos << "," << c.buffer.LinePos);
    EXPECT_EQ(core.BufferToDisplayPos(c.buffer), c.display);
  }
  struct ToBuffer {
    TDisplayCoord display;
    TBufferCoord buffer;
  };
  const ToBuffer back[] = {
      {{3, 2}, {10, 1}},
      {{20, 1}, {8, 1}},   // past an inner row's end: the next row's first character
      {{20, 2}, {15, 1}},  // on the last row the column may pass the text up to the width + 1
      {{5, 4}, {1, 3}},    // inside the tab
      {{2, 5}, {2, 3}},
      {{4, 9}, {4, 7}},
  };
  for (const ToBuffer& c : back) {
    SCOPED_TRACE(testing::Message() << c.display.Column << "," << c.display.Row);
    EXPECT_EQ(core.DisplayToBufferPos(c.display), c.buffer);
  }
  EXPECT_EQ(core.LineToRow(2), 3);
  EXPECT_EQ(core.LineToRow(3), 4);
  EXPECT_EQ(core.RowToLine(2), 1);
  EXPECT_EQ(core.RowToLine(5), 3);
  EXPECT_EQ(core.DisplayLineCount(), 5);

  // Off again, rows are lines.
  core.SetWordWrap(false);
  EXPECT_EQ(core.LineToRow(3), 3);
  EXPECT_EQ(core.DisplayLineCount(), 3);
  EXPECT_EQ(core.BufferToDisplayPos({8, 1}), (TDisplayCoord{8, 1}));
}

TEST_F(WordWrapFixture, TablesFollowTheWidthTabsAndDeletions) {
  core.Lines().SetAllText(std::u16string(20, u'q') + u"\r\n\tx");
  TCodeWordWrapPlugin& p = wrapAt(10);
  EXPECT_EQ(rowsOf(p), (std::vector<int>{10, 10, 9}));
  wrapAt(6);
  EXPECT_EQ(rowsOf(p), (std::vector<int>{6, 6, 6, 2, 6, 3}));
  core.SetTabWidth(2);
  EXPECT_EQ(rowsOf(p), (std::vector<int>{6, 6, 6, 2, 3}));

  // A line that grows a row moves every row below it: the gutter repaints
  // to the end; one that keeps its rows does not.
  view.gutterRanges.clear();
  core.Lines().PutString(1, u"\tx" + std::u16string(8, u'w'));
  EXPECT_EQ(rowsOf(p), (std::vector<int>{6, 6, 6, 2, 6, 5}));
  ASSERT_FALSE(view.gutterRanges.empty());
  EXPECT_EQ(view.gutterRanges.front().first, 2);
  view.gutterRanges.clear();
  core.Lines().PutString(1, u"short");
  core.Lines().PutString(1, u"shor");
  EXPECT_EQ(view.gutterRanges.size(), 1u);  // only the first of the two changed the rows

  core.Lines().DeleteLines(0, 2);
  EXPECT_EQ(p.RowCount(), 0);
  EXPECT_EQ(core.DisplayLineCount(), 0);
  EXPECT_EQ(core.LineToRow(1), 1);
}

TEST_F(WordWrapFixture, EditsKeepTheTablesOfAFullWrap) {
  std::mt19937 random(4711);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  const std::u16string alphabet = u"abcdefgh    \t.,\u4E2D\u4E8C";
  auto randomLine = [&] {
    std::u16string s(static_cast<std::size_t>(pick(0, 60)), u' ');
    for (char16_t& c : s)
      c = alphabet[static_cast<std::size_t>(pick(0, static_cast<int>(alphabet.size()) - 1))];
    return s;
  };
  for (int i = 0; i < 30; ++i)
    core.Lines().Add(randomLine());
  TCodeWordWrapPlugin& p = wrapAt(13);

  auto expectFullWrap = [&](int edit) {
    SCOPED_TRACE(testing::Message() << "after edit " << edit);
    TCodeWordWrapPlugin fresh(&core);
    ASSERT_EQ(p.LineCount(), core.LineCount());
    ASSERT_EQ(rowsOf(p), rowsOf(fresh));
    for (int line = 0; line < fresh.LineCount(); ++line)
      ASSERT_EQ(p.LineRowEnd(line), fresh.LineRowEnd(line)) << "line " << line;
  };
  TCodeEditStringList& lines = core.Lines();
  for (int edit = 1; edit <= 1000; ++edit) {
    const int count = lines.GetCount();
    switch (pick(0, 5)) {
      case 0:
        lines.Insert(pick(0, count), randomLine());
        break;
      case 1:
        if (count > 0)
          lines.Delete(pick(0, count - 1));
        break;
      case 2:
      case 3:
        if (count > 0)
          lines.PutString(pick(0, count - 1), randomLine());
        break;
      case 4: {
        const int at = pick(0, count);
        lines.InsertLines(at, pick(1, 4));
        lines.PutString(at, randomLine());
        break;
      }
      case 5:
        if (count > 0)
          lines.DeleteLines(pick(0, count - 1), pick(1, 5));
        break;
    }
    if (edit % 100 == 0)
      expectFullWrap(edit);
    if (HasFatalFailure())
      return;
  }
}

TEST(CodeEditWordWrap, TheControlRewrapsWhenItsWidthChanges) {
  TCodeEdit edit;
  edit.resize(240, 120);
  edit.show();
  QCoreApplication::processEvents();
  TCodeEditCore& core = edit.Core();
  ASSERT_GT(core.FCharsInWindow, 6);
  const int width = core.FCharsInWindow;
  const int length = 2 * width + 5;
  edit.Lines().SetAllText(u"short\r\n" + std::u16string(static_cast<std::size_t>(length), u'w') + u"\r\nlast");
  core.SetWordWrap(true);
  EXPECT_EQ(core.DisplayLineCount(), 5);
  EXPECT_EQ(core.WordWrapPlugin()->RowLength(4), 5);
  edit.resize(240 - 4 * core.FCharWidth, 120);
  QCoreApplication::processEvents();
  ASSERT_LT(core.FCharsInWindow, width);
  EXPECT_EQ(core.DisplayLineCount(), 2 + (length + core.FCharsInWindow - 1) / core.FCharsInWindow);
  EXPECT_EQ(core.WordWrapPlugin()->RowLength(2), core.FCharsInWindow);
}
