#include "editor/CodeEditCore.h"

#include "editor/CodeHighlighterIni.h"
#include "png/qt/PngIconList.h"
#include "tests/editor/CodeEditFakeView.h"
#include "tests/editor/CodeEditRecordingDrawer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace codeedit;

namespace {

constexpr int CW = 8;
constexpr int LH = 16;

// A 40-column, 10-row window right of the default 30-pixel gutter.
struct PaintFixture : ::testing::Test {
  FakeView view;
  TCodeEditCore core{&view};
  RecordingDrawer drawer{CW};
  TCodeIniHighlighter ini;

  PaintFixture() { resize(40, 10); }
  void resize(int columns, int rows) {
    core.FCharWidth = CW;
    core.FLineHeight = LH;
    core.SetClientSize(core.FGutterWidth + 2 + columns * CW, rows * LH);
  }
  int width() const { return core.ClientWidth(); }
  int height() const { return core.ClientHeight(); }
  int columnX(int column) const { return core.FTextOffset + (column - 1) * CW; }
  void paintAll() {
    drawer.clear();
    drawer.textOffset = core.FTextOffset;
    core.Paint(drawer, {0, 0, width(), height()});
  }
  std::vector<RecordedText> row(int r) const {
    std::vector<RecordedText> result;
    for (const RecordedText& t : drawer.texts)
      if (t.rect.Top == (r - 1) * LH && t.text != u"\u2192")
        result.push_back(t);
    // Parts come in drawing order; a row without highlighter draws its
    // selected middle last.
    std::stable_sort(result.begin(), result.end(),
                     [](const RecordedText& a, const RecordedText& b) { return a.first < b.first; });
    return result;
  }
  std::vector<RecordedFill> rowFills(int r) const {
    std::vector<RecordedFill> result;
    for (const RecordedFill& f : drawer.fills)
      if (f.rect.Top == (r - 1) * LH && f.rect.Left >= core.FGutterWidth + 2)
        result.push_back(f);
    return result;
  }
};

TEST_F(PaintFixture, ASelectionSplitsARunAtItsCells) {
  core.Lines().SetAllText(u"Key=value");
  core.SetHighlighter(&ini);
  core.SetCaretAndSelection({6, 1}, {3, 1}, {6, 1});
  paintAll();
  const std::vector<RecordedText> parts = row(1);
  ASSERT_EQ(parts.size(), 3u);
  struct Expected {
    std::u16string_view text;
    int first, last;
    bool selected;
  } expected[] = {{u"Ke", 1, 2, false}, {u"y=v", 3, 5, true}, {u"alue", 6, 9, false}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(parts[static_cast<std::size_t>(i)].text, expected[i].text);
    EXPECT_EQ(parts[static_cast<std::size_t>(i)].first, expected[i].first);
    EXPECT_EQ(parts[static_cast<std::size_t>(i)].last, expected[i].last);
    EXPECT_EQ(parts[static_cast<std::size_t>(i)].selected, expected[i].selected);
  }
  EXPECT_EQ(parts[1].fg, core.SelectedColor().Foreground());
  EXPECT_EQ(parts[1].bg, core.SelectedColor().Background());
  EXPECT_EQ(parts[0].bg, clWindow);
  // Then the rest of the row, unselected.
  const std::vector<RecordedFill> fills = rowFills(1);
  ASSERT_FALSE(fills.empty());
  EXPECT_EQ(fills.back().rect.Left, columnX(10));
  EXPECT_EQ(fills.back().rect.Right, width());
  EXPECT_EQ(fills.back().color, clWindow);
}

TEST_F(PaintFixture, SelectionsBeyondTheLineEnd) {
  core.Lines().SetAllText(u"ab\r\ncd\r\nef");
  // Normal mode over two lines: the first row is selected to its end.
  core.SetCaretAndSelection({2, 2}, {2, 1}, {2, 2});
  paintAll();
  std::vector<RecordedText> first = row(1);
  ASSERT_FALSE(first.empty());
  EXPECT_TRUE(first.back().selected);
  EXPECT_EQ(first.back().first, 2);
  EXPECT_GE(first.back().rect.Right, width());
  std::vector<RecordedText> second = row(2);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0].text, u"c");
  EXPECT_TRUE(second[0].selected);
  EXPECT_FALSE(second[1].selected);
  // Line mode: every selected row entirely, past the text.
  core.SetSelectionMode(smLine);
  core.SetCaretAndSelection({1, 2}, {1, 1}, {1, 2});
  paintAll();
  for (int r = 1; r <= 2; ++r) {
    SCOPED_TRACE(r);
    std::vector<RecordedText> parts = row(r);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_TRUE(parts[0].selected);
    EXPECT_EQ(parts[0].rect.Left, core.FGutterWidth + 2);
    EXPECT_GE(parts[0].rect.Right, width());
  }
  ASSERT_EQ(row(3).size(), 1u);
  EXPECT_FALSE(row(3)[0].selected);
}

TEST_F(PaintFixture, HideSelectionWithoutFocusPaintsNoSelection) {
  core.Lines().SetAllText(u"Key=value\r\nx=1");
  core.SetHighlighter(&ini);
  core.SetCaretAndSelection({2, 2}, {1, 1}, {2, 2});
  core.SetHideSelection(true);
  auto anySelected = [&] {
    return std::any_of(drawer.texts.begin(), drawer.texts.end(), [](const RecordedText& t) { return t.selected; }) ||
           std::any_of(drawer.fills.begin(), drawer.fills.end(),
                       [&](const RecordedFill& f) { return f.color == core.SelectedColor().Background(); });
  };
  view.focused = false;
  paintAll();
  EXPECT_FALSE(anySelected());
  view.focused = true;
  paintAll();
  EXPECT_TRUE(anySelected());
  core.SetHideSelection(false);
  view.focused = false;
  paintAll();
  EXPECT_TRUE(anySelected());
}

TEST_F(PaintFixture, TheRightEdgeRunsDownEveryRowAndBelowTheText) {
  resize(100, 10);
  core.Lines().SetAllText(u"one\r\ntwo\r\nthree");
  core.SetRightEdgeColor(0x0000FF);
  paintAll();
  const int edge = core.FTextOffset + 80 * CW;
  auto textLines = [&] {
    std::vector<RecordedLine> result;
    for (const RecordedLine& l : drawer.lines)
      if (l.x > core.FGutterWidth)
        result.push_back(l);
    return result;
  };
  ASSERT_FALSE(textLines().empty());
  int covered = 0;
  for (const RecordedLine& l : textLines()) {
    EXPECT_EQ(l.x, edge);
    EXPECT_EQ(l.color, 0x0000FFu);
    EXPECT_EQ(l.top, covered);
    covered = l.bottom - 1;
  }
  EXPECT_GE(covered, height());
  // RightEdge 0 draws none.
  core.SetRightEdge(0);
  paintAll();
  EXPECT_TRUE(textLines().empty());
}

TEST_F(PaintFixture, TheActiveLineColourFillsTheCaretLine) {
  core.Lines().SetAllText(u"a=1\r\nb=2");
  core.SetHighlighter(&ini);
  ini.KeyAttri()->SetBackground(0x00C0C0);
  core.SetActiveLineColor(0xFFFF00);
  core.SetCaretXY({1, 2});
  paintAll();
  for (const RecordedText& t : row(2))
    EXPECT_EQ(t.bg, 0xFFFF00u) << std::string(t.text.begin(), t.text.end());
  ASSERT_FALSE(rowFills(2).empty());
  EXPECT_EQ(rowFills(2).back().color, 0xFFFF00u);
  EXPECT_EQ(rowFills(2).back().rect.Right, width());
  // Other lines keep the highlighter's colours and the window's.
  EXPECT_EQ(row(1).front().bg, 0x00C0C0u);
  EXPECT_EQ(rowFills(1).back().color, clWindow);
}

TEST_F(PaintFixture, SpecialCharactersShowBlanksTabsAndLineEnds) {
  core.SetTabWidth(4);
  core.SetOptions(core.Options() | OptionBit(eoShowSpecialChars));
  core.Lines().SetAllText(u"\tb c");
  paintAll();
  const std::vector<RecordedText> parts = row(1);
  ASSERT_FALSE(parts.empty());
  EXPECT_EQ(parts[0].text.substr(0, 8), u"    b\u2219c\u00B6");
  const auto mark = std::find_if(drawer.texts.begin(), drawer.texts.end(),
                                 [](const RecordedText& t) { return t.text == u"\u2192"; });
  ASSERT_NE(mark, drawer.texts.end());
  EXPECT_EQ(mark->x, columnX(2) + CW / 2);
}

TEST_F(PaintFixture, AWideGlyphCutByTheFirstColumnIsDrawnWhole) {
  core.Lines().SetAllText(u"a\u4E00b");
  core.SetLeftChar(3);
  paintAll();
  const std::vector<RecordedText> parts = row(1);
  ASSERT_FALSE(parts.empty());
  EXPECT_EQ(parts[0].first, 3);
  EXPECT_EQ(parts[0].text.substr(0, 2), u"\u4E00b");
  // Its first cell is column 2, left of the painted part.
  EXPECT_EQ(parts[0].x, columnX(2));
  EXPECT_EQ(parts[0].rect.Left, columnX(3));
}

TEST_F(PaintFixture, SpecialLinesSwapTheirColoursForTheSelection) {
  core.Lines().SetAllText(u"abc");
  core.OnSpecialLineColors = [](TCodeEditCore&, int, bool& special, TColor& fg, TColor& bg) {
    special = true;
    fg = 0x111111;
    bg = 0x222222;
  };
  core.SetCaretAndSelection({3, 1}, {2, 1}, {3, 1});
  paintAll();
  const std::vector<RecordedText> parts = row(1);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].bg, 0x222222u);
  EXPECT_EQ(parts[1].fg, 0x222222u);
  EXPECT_EQ(parts[1].bg, 0x111111u);
}

TEST_F(PaintFixture, GutterNumbersBorderAndWidth) {
  core.Gutter().SetUseFontStyle(false);
  core.Gutter().SetShowLineNumbers(true);
  core.Gutter().SetBorderColor(0x0000FF);
  core.Gutter().SetColor(0x00FF00);
  // Left offset + right offset + four digits + 2.
  EXPECT_EQ(core.FGutterWidth, 16 + 2 + 4 * CW + 2);
  EXPECT_EQ(core.FTextOffset, core.FGutterWidth + 2);
  core.Lines().SetAllText(u"a\r\nb");
  paintAll();
  ASSERT_EQ(drawer.gutterTexts.size(), 2u);
  for (const RecordedGutterText& t : drawer.gutterTexts) {
    EXPECT_EQ(t.text.size(), 4u);
    EXPECT_EQ(t.x + static_cast<int>(t.text.size()) * CW, core.FGutterWidth - core.Gutter().RightOffset() - 2);
    EXPECT_TRUE(t.opaque);
  }
  EXPECT_EQ(drawer.gutterTexts[1].text, u"   2");
  // The middle border: its colour one pixel inside, the gutter's at the edge.
  auto lineAt = [&](int x) {
    return std::find_if(drawer.lines.begin(), drawer.lines.end(), [x](const RecordedLine& l) { return l.x == x; });
  };
  ASSERT_NE(lineAt(core.FGutterWidth - 2), drawer.lines.end());
  EXPECT_EQ(lineAt(core.FGutterWidth - 2)->color, 0x0000FFu);
  ASSERT_NE(lineAt(core.FGutterWidth - 1), drawer.lines.end());
  EXPECT_EQ(lineAt(core.FGutterWidth - 1)->color, 0x00FF00u);
  // The number replaced by the event.
  core.OnGutterGetText = [](TCodeEditCore&, int line, std::u16string& text) {
    if (line == 2)
      text.assign(1, u'x');
  };
  paintAll();
  EXPECT_EQ(drawer.gutterTexts[1].text, u"x");
  EXPECT_EQ(drawer.gutterTexts[1].x, core.FGutterWidth - 2 - CW - 2);
}

TEST_F(PaintFixture, AnAutoSizedGutterGrowsAtTheTenThousandthLine) {
  core.Gutter().SetUseFontStyle(false);
  core.Gutter().SetShowLineNumbers(true);
  core.Gutter().SetAutoSize(true);
  std::u16string text;
  for (int i = 0; i < 9999; ++i)
    text += u"x\r\n";
  text += u"x";
  core.Lines().SetAllText(text);
  ASSERT_EQ(core.LineCount(), 10000);
  const int wide = core.FGutterWidth;
  core.Lines().Delete(9999);
  EXPECT_EQ(core.FGutterWidth, wide - CW);
  EXPECT_EQ(core.Gutter().AutoSizeDigits(), 4);
  core.Lines().Add(u"x");
  EXPECT_EQ(core.FGutterWidth, wide);
  EXPECT_EQ(core.Gutter().AutoSizeDigits(), 5);
}

TEST_F(PaintFixture, BookmarksComeFirstInTheGutter) {
  core.Lines().SetAllText(u"1\r\n2\r\n3");
  core.SetBookmark(4, 1, 2);
  auto mark = std::make_unique<TCodeEditMark>(&core);
  mark->SetLine(2);
  mark->SetImageNumber(7);
  mark->SetShown(true);
  mark->SetInternalImage(true);
  core.Marks().Add(std::move(mark));
  paintAll();
  // Built-in pictures: the bookmark at the left margin; the other mark of
  // the line would start Xoffset further right, which the built-in pictures
  // never do.
  ASSERT_EQ(drawer.images.size(), 1u);
  EXPECT_TRUE(drawer.images[0].internal);
  EXPECT_EQ(drawer.images[0].index, 4);
  EXPECT_EQ(drawer.images[0].x, core.BookMarkOptions().LeftMargin());
  EXPECT_EQ(drawer.images[0].y, LH);
  // The gutter-paint event gets each line with its row's offset.
  std::vector<std::pair<int, int>> painted;
  core.OnGutterPaint = [&](TCodeEditCore&, CodeEditDrawer&, int line, int x, int) { painted.push_back({line, x}); };
  paintAll();
  EXPECT_EQ(painted, (std::vector<std::pair<int, int>>{{1, 0}, {2, 24}, {3, 0}}));
}

TEST_F(PaintFixture, MarksFromAnImageListLineUpAfterTheBookmark) {
  TPngIconList images(16, 16);
  drawer.imageCount = 8;
  core.BookMarkOptions().SetBookmarkImages(&images);
  core.Lines().SetAllText(u"1\r\n2\r\n3");
  core.SetBookmark(1, 1, 2);
  core.BookMark(1)->SetInternalImage(false);
  auto addMark = [&](int line, int image) {
    auto mark = std::make_unique<TCodeEditMark>(&core);
    mark->SetLine(line);
    mark->SetImageNumber(image);
    mark->SetShown(true);
    core.Marks().Add(std::move(mark));
  };
  addMark(2, 5);
  addMark(3, 8);  // one past the list's last picture: not drawn
  paintAll();
  const int left = core.BookMarkOptions().LeftMargin();
  const int step = core.BookMarkOptions().Xoffset();
  ASSERT_EQ(drawer.images.size(), 2u);
  EXPECT_EQ(drawer.images[0].index, 1);
  EXPECT_EQ(drawer.images[0].x, left);
  EXPECT_EQ(drawer.images[1].index, 5);
  EXPECT_EQ(drawer.images[1].x, left + step);
  // Other marks first: the bookmark goes right of them.
  core.BookMarkOptions().SetDrawBookmarksFirst(false);
  paintAll();
  ASSERT_EQ(drawer.images.size(), 2u);
  EXPECT_EQ(drawer.images[0].index, 5);
  EXPECT_EQ(drawer.images[0].x, left);
  EXPECT_EQ(drawer.images[1].index, 1);
  EXPECT_EQ(drawer.images[1].x, left + step);
  core.BookMarkOptions().SetBookmarkImages(nullptr);
}

TEST_F(PaintFixture, AGradientGutterWritesItsNumbersTransparently) {
  core.Gutter().SetUseFontStyle(false);
  core.Gutter().SetShowLineNumbers(true);
  core.Gutter().SetGradient(true);
  core.Lines().SetAllText(u"a\r\nb");
  paintAll();
  EXPECT_EQ(drawer.gradients, 1);
  ASSERT_EQ(drawer.gutterTexts.size(), 2u);
  for (const RecordedGutterText& t : drawer.gutterTexts)
    EXPECT_FALSE(t.opaque);
}

TEST_F(PaintFixture, ClipsLeftOrRightOfTheGutterPaintOnlyTheirSide) {
  core.Gutter().SetUseFontStyle(false);
  core.Gutter().SetShowLineNumbers(true);
  core.Lines().SetAllText(u"abc\r\ndef");
  drawer.textOffset = core.FTextOffset;
  core.Paint(drawer, {0, 0, core.FGutterWidth - 4, height()});
  EXPECT_TRUE(drawer.texts.empty());
  EXPECT_FALSE(drawer.gutterTexts.empty());
  drawer.clear();
  core.Paint(drawer, {core.FGutterWidth + 10, 0, width(), height()});
  EXPECT_TRUE(drawer.gutterTexts.empty());
  EXPECT_FALSE(drawer.texts.empty());
  for (const RecordedFill& f : drawer.fills)
    EXPECT_GE(f.rect.Left, core.FGutterWidth);
}

TEST_F(PaintFixture, InvalidationRectanglesOfLines) {
  std::u16string text;
  for (int i = 0; i < 30; ++i)
    text += u"line\r\n";
  core.Lines().SetAllText(text);
  core.SetTopLine(2);
  // Lines 3 to 5 in either order, from the gutter's edge to the right.
  const TCodeRect r = core.TextLinesRect(5, 3);
  EXPECT_EQ(r, (TCodeRect{core.FGutterWidth, 1 * LH, width(), 4 * LH}));
  // Below the window: nothing; reaching down: up to the last (partial) row.
  EXPECT_TRUE(core.TextLinesRect(20, 25).IsEmpty());
  EXPECT_TRUE(core.TextLinesRect(1, 1).IsEmpty());
  EXPECT_EQ(core.TextLinesRect(10, INT_MAX).Bottom, (core.FLinesInWindow + 1) * LH);
  EXPECT_EQ(core.GutterLinesRect(3, 3), (TCodeRect{0, LH, core.FGutterWidth, 2 * LH}));
}

// --- word wrap -----------------------------------------------------------------------

// The characters a row shows, its parts joined in column order.
std::u16string rowText(const std::vector<RecordedText>& parts) {
  std::u16string text;
  for (const RecordedText& t : parts)
    text += t.text;
  return text;
}

TEST_F(PaintFixture, EachWrappedRowPaintsItsSliceOfTheLine) {
  resize(10, 10);
  // Rows at width 10: 10, 10 and 2 cells; "aaaaaaaa bbbbbbbb" breaks before
  // its blank (8 and 9); "Key=..." breaks at '=' for the INI highlighter.
  core.Lines().SetAllText(u"abcdefghijklmnopqrstuv\r\nxy\r\naaaaaaaa bbbbbbbb");
  core.SetWordWrap(true);
  ASSERT_EQ(core.DisplayLineCount(), 6);
  const std::u16string expected[] = {u"abcdefghij", u"klmnopqrst", u"uv", u"xy", u"aaaaaaaa", u" bbbbbbbb"};
  for (bool highlighted : {false, true}) {
    SCOPED_TRACE(highlighted ? "INI highlighter" : "plain");
    core.SetHighlighter(highlighted ? &ini : nullptr);
    paintAll();
    for (int r = 1; r <= 6; ++r) {
      SCOPED_TRACE(r);
      const std::vector<RecordedText> parts = row(r);
      ASSERT_FALSE(parts.empty());
      EXPECT_EQ(parts.front().first, 1);
      std::u16string text = rowText(parts);
      if (highlighted)  // the highlighter's runs stop at the text
        EXPECT_EQ(text, expected[r - 1]);
      else
        EXPECT_EQ(text.substr(0, expected[r - 1].size()), expected[r - 1]);
      EXPECT_EQ(text.find_first_not_of(u' ', expected[r - 1].size()), std::u16string::npos);
    }
  }
  // The line end mark only after a line's last row.
  core.SetHighlighter(nullptr);
  core.SetOptions(core.Options() | OptionBit(eoShowSpecialChars));
  paintAll();
  const bool marked[] = {false, false, true, true, false, true};
  for (int r = 1; r <= 6; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(rowText(row(r)).find(u'\u00B6') != std::u16string::npos, marked[r - 1]);
  }
}

TEST_F(PaintFixture, AHighlightedWrappedRowKeepsItsTokensColours) {
  resize(10, 10);
  ini.KeyAttri()->SetForeground(0x0000AA);
  ini.TextAttri()->SetForeground(0x00AA00);
  core.SetHighlighter(&ini);
  core.Lines().SetAllText(u"name=abcdefghijklmnopq");
  core.SetWordWrap(true);
  ASSERT_EQ(core.DisplayLineCount(), 3);
  paintAll();
  // Row 1: the key, '=' and the value's first cells; row 2 the value on.
  const std::vector<RecordedText> first = row(1);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.front().text, u"name");
  EXPECT_EQ(first.front().fg, 0x0000AAu);
  EXPECT_EQ(rowText(first), u"name=abcde");
  const std::vector<RecordedText> second = row(2);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].text, u"fghijklmno");
  EXPECT_EQ(second[0].first, 1);
  EXPECT_EQ(second[0].fg, 0x00AA00u);
  EXPECT_EQ(rowText(row(3)), u"pq");
}

TEST_F(PaintFixture, ASelectionAcrossWrappedRowsPaintsOnTheRowsItCovers) {
  resize(10, 10);
  core.Lines().SetAllText(u"abcdefghijklmnopqrstuv\r\nxy");
  core.SetWordWrap(true);
  // Characters 5 to 14 of the line: row 1 from column 5 on, row 2 up to column 4.
  core.SetCaretAndSelection({15, 1}, {5, 1}, {15, 1});
  paintAll();
  auto selectedText = [&](int r) {
    std::u16string text;
    for (const RecordedText& t : row(r))
      if (t.selected)
        text += t.text;
    return text;
  };
  EXPECT_EQ(selectedText(1), u"efghij");
  EXPECT_EQ(selectedText(2), u"klmn");
  EXPECT_EQ(selectedText(3), u"");
  const std::vector<RecordedText> second = row(2);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[1].text, u"opqrst");
  EXPECT_FALSE(second[1].selected);
  // The caret stands on the second row, after its fourth cell.
  const TCodeRect caret = core.CaretRect();
  EXPECT_EQ(caret.Top, LH);
  EXPECT_EQ(caret.Left, columnX(5) + core.FCaretOffsetX);
}

TEST_F(PaintFixture, TheGutterMarksTheRowsAWrappedLineContinuesOn) {
  core.Gutter().SetUseFontStyle(false);
  core.Gutter().SetShowLineNumbers(true);
  core.Gutter().SetColor(0x00FFFF);
  resize(10, 10);
  core.Lines().SetAllText(u"abcdefghijklmnopqrstuv\r\nxy\r\nabcdefghijklm");
  core.SetWordWrap(true);
  ASSERT_EQ(core.DisplayLineCount(), 6);
  const int glyphX = core.FGutterWidth - core.Gutter().RightOffset() - core.WordWrapGlyph().GetWidth() - 2;
  ASSERT_GT(core.WordWrapGlyph().GetWidth(), 0);
  paintAll();
  EXPECT_EQ(drawer.glyphs, (std::vector<std::pair<int, int>>{{glyphX, LH}, {glyphX, 2 * LH}, {glyphX, 5 * LH}}));
  // Numbers on the lines' first rows only; the rows between get the gutter's colour.
  std::vector<int> numberRows;
  for (const RecordedGutterText& t : drawer.gutterTexts)
    numberRows.push_back(t.y / LH + 1);
  EXPECT_EQ(numberRows, (std::vector<int>{1, 4, 5}));
  const bool bandFilled = std::any_of(drawer.fills.begin(), drawer.fills.end(), [&](const RecordedFill& f) {
    return f.color == 0x00FFFFu && f.rect.Top == LH && f.rect.Bottom == 3 * LH && f.rect.Left < core.FGutterWidth;
  });
  EXPECT_TRUE(bandFilled);

  // A paint from the middle of a wrapped line still marks its rows.
  drawer.clear();
  core.Paint(drawer, {0, 2 * LH, core.FGutterWidth, 3 * LH});
  EXPECT_EQ(drawer.glyphs, (std::vector<std::pair<int, int>>{{glyphX, 2 * LH}}));
  // Hidden, or without word wrap, there is none.
  core.WordWrapGlyph().SetVisible(false);
  paintAll();
  EXPECT_TRUE(drawer.glyphs.empty());
  core.WordWrapGlyph().SetVisible(true);
  core.SetWordWrap(false);
  paintAll();
  EXPECT_TRUE(drawer.glyphs.empty());
}

TEST_F(PaintFixture, DeletingTheLastLinesRepaintsTheirGutterAndTextRows) {
  core.Gutter().SetUseFontStyle(false);
  core.Gutter().SetShowLineNumbers(true);
  resize(40, 10);
  struct Case {
    const char* name;
    std::u16string_view text;
    std::function<void()> deleteLastTwo;
  };
  const Case cases[] = {
      {"lines deleted", u"one\r\ntwo\r\nthree\r\nfour\r\nfive", [&] { core.Lines().DeleteLines(3, 2); }},
      {"a selection to the end deleted", u"one\r\ntwo\r\nthree\r\nfour\r\nfive",
       [&] {
         core.SetCaretAndSelection({5, 5}, {6, 3}, {5, 5});
         core.SetSelText(u"");
       }},
      {"two added lines undone", u"one\r\ntwo\r\nthree",
       [&] {
         core.ClearUndo();
         core.SetCaretXY({6, 3});
         core.SetSelText(u"\r\nfour\r\nfive");
         ASSERT_EQ(core.LineCount(), 5);
         view.clear();
         core.Undo();
       }},
  };
  // Rows 4 and 5 held the last two lines: both must be painted again.
  auto covers = [&](const std::vector<std::pair<int, int>>& ranges, bool gutter) {
    for (auto [first, last] : ranges) {
      const TCodeRect r = gutter ? core.GutterLinesRect(first, last) : core.TextLinesRect(first, last);
      if (r.Top <= 3 * LH && r.Bottom >= 5 * LH)
        return true;
    }
    return false;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    core.Lines().SetAllText(c.text);
    view.clear();
    c.deleteLastTwo();
    ASSERT_EQ(core.LineCount(), 3);
    EXPECT_TRUE(covers(view.gutterRanges, true));
    EXPECT_TRUE(covers(view.textRanges, false));
  }
}

TEST_F(PaintFixture, AWrappedLineRepaintsAllItsRows) {
  resize(10, 10);
  core.Lines().SetAllText(u"abcdefghijklmnopqrstuv\r\nxy\r\nlast");
  core.SetWordWrap(true);
  // Line 1 takes rows 1-3, line 2 row 4; from the last line on, the rest.
  EXPECT_EQ(core.TextLinesRect(1, 1), (TCodeRect{core.FGutterWidth, 0, width(), 3 * LH}));
  EXPECT_EQ(core.GutterLinesRect(2, 2), (TCodeRect{0, 3 * LH, core.FGutterWidth, 4 * LH}));
  EXPECT_EQ(core.TextLinesRect(3, 3).Bottom, (core.FLinesInWindow + 1) * LH);
  // A change that gives line 1 a fourth row repaints the rows below it.
  view.clear();
  core.Lines().PutString(0, std::u16string(31, u'w'));
  ASSERT_FALSE(view.textRanges.empty());
  EXPECT_EQ(core.TextLinesRect(view.textRanges.back().first, view.textRanges.back().second).Bottom,
            (core.FLinesInWindow + 1) * LH);
}

}  // namespace
