#include "editor/CodeEdit.h"

#include "editor/CodeEditGlyphs.h"
#include "editor/CodeHighlighterIni.h"
#include "tests/app/Screenshot.h"
#include "tests/editor/RegExportSample.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace codeedit;

namespace {

// An editor in DejaVu Sans Mono 10 (a fixed font), sized so its viewport
// holds whole rows.
struct PaintedEdit {
  TCodeEdit edit;

  explicit PaintedEdit(int columns = 60, int rows = 12) {
    edit.SetFont(QFont(QStringLiteral("DejaVu Sans Mono"), 10));
    setViewport(columns, rows);
  }
  TCodeEditCore& core() { return edit.Core(); }
  int cw() { return core().FCharWidth; }
  int lh() { return core().FLineHeight; }
  void setViewport(int columns, int rows) {
    resize(QSize(400, 300));
    const QSize extra = edit.size() - edit.viewport()->size();
    resize(QSize(core().FGutterWidth + 2 + columns * cw() + extra.width(), rows * lh() + extra.height()));
  }
  // A hidden widget gets its resize events only when shown; sent now, they
  // lay out the viewport and tell the model its size.
  void resize(QSize size) {
    const QSize old = edit.size();
    const QSize oldViewport = edit.viewport()->size();
    edit.resize(size);
    QResizeEvent event(size, old);
    QApplication::sendEvent(&edit, &event);
    QResizeEvent viewportEvent(edit.viewport()->size(), oldViewport);
    QApplication::sendEvent(edit.viewport(), &viewportEvent);
  }
  QImage grab() { return edit.viewport()->grab().toImage(); }
  int columnX(int column) { return core().FTextOffset + (column - 1) * cw(); }
  int rowTop(int row) { return (row - core().FTopLine) * lh(); }
};

TEST(CodeEditPaint, SelectionBackgroundCoversTheSelectedCells) {
  PaintedEdit p;
  TCodeEditCore& c = p.core();
  c.SelectedColor().SetBackground(0x0000FF);
  c.Lines().SetAllText(u"abcdef\r\nace");
  c.SetCaretAndSelection({5, 1}, {2, 1}, {5, 1});
  QImage image = p.grab();
  const QColor red(255, 0, 0);
  // The bottom pixel row of the first text row: no ink of these letters.
  const int y = p.rowTop(1) + p.lh() - 1;
  for (int column = 1; column <= 8; ++column) {
    SCOPED_TRACE(column);
    const bool selected = column >= 2 && column <= 4;
    EXPECT_EQ(image.pixelColor(p.columnX(column), y) == red, selected);
    EXPECT_EQ(image.pixelColor(p.columnX(column + 1) - 1, y) == red, selected);
  }
  // Line mode: the whole row, past the end of the text; the next row not.
  c.SetSelectionMode(smLine);
  c.SetCaretAndSelection({1, 1}, {1, 1}, {2, 1});
  image = p.grab();
  EXPECT_EQ(image.pixelColor(image.width() - 2, y), red);
  EXPECT_NE(image.pixelColor(image.width() - 2, y + p.lh()), red);
}

TEST(CodeEditPaint, HideSelectionWithoutFocusPaintsNoSelection) {
  PaintedEdit p;
  TCodeEditCore& c = p.core();
  c.SelectedColor().SetBackground(0x0000FF);
  c.Lines().SetAllText(u"abcdef");
  c.SetCaretAndSelection({5, 1}, {1, 1}, {5, 1});
  c.SetHideSelection(true);
  ASSERT_FALSE(p.edit.hasFocus());
  QImage image = p.grab();
  for (int x = 0; x < image.width(); ++x)
    ASSERT_NE(image.pixelColor(x, p.lh() - 1), QColor(255, 0, 0)) << x;
  c.SetHideSelection(false);
  image = p.grab();
  EXPECT_EQ(image.pixelColor(p.columnX(2), p.lh() - 1), QColor(255, 0, 0));
}

TEST(CodeEditPaint, TheRightEdgeAndTheGutterBorder) {
  PaintedEdit p(90, 8);
  TCodeEditCore& c = p.core();
  c.SetRightEdgeColor(0x00FF00);
  c.Gutter().SetColor(0x808080);
  c.Gutter().SetBorderColor(0x0000FF);
  c.Lines().SetAllText(u"one\r\ntwo\r\nthree");
  const QImage image = p.grab();
  const int edge = c.FTextOffset + 80 * c.FCharWidth;
  for (int y = 0; y < image.height(); ++y) {
    ASSERT_EQ(image.pixelColor(edge, y), QColor(0, 255, 0)) << y;
    // The middle border: its colour two pixels in, the gutter's after it.
    ASSERT_EQ(image.pixelColor(c.FGutterWidth - 2, y), QColor(255, 0, 0)) << y;
    ASSERT_EQ(image.pixelColor(c.FGutterWidth - 1, y), QColor(128, 128, 128)) << y;
  }
}

TEST(CodeEditPaint, TheActiveLineColourFillsTheCaretsLine) {
  PaintedEdit p;
  TCodeEditCore& c = p.core();
  c.Lines().SetAllText(u"abc\r\nxyz\r\n123");
  c.SetActiveLineColor(0xFFFF00);
  c.SetCaretXY({2, 2});
  const QImage image = p.grab();
  const QColor cyan(0, 255, 255);
  const int y = p.rowTop(2) + p.lh() - 1;
  for (int x : {p.columnX(1), p.columnX(4), image.width() - 1})
    EXPECT_EQ(image.pixelColor(x, y), cyan) << x;
  EXPECT_NE(image.pixelColor(image.width() - 1, y - p.lh()), cyan);
}

TEST(CodeEditPaint, LineNumbersEndBeforeTheRightOffset) {
  PaintedEdit p;
  TCodeEditCore& c = p.core();
  c.Gutter().SetShowLineNumbers(true);
  c.Gutter().SetColor(0xFFFFFF);
  c.Gutter().SetBorderStyle(gbsNone);
  c.Lines().SetAllText(u"a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\nh\r\ni\r\nj\r\nk");
  const QImage image = p.grab();
  const int end = c.FGutterWidth - c.Gutter().RightOffset() - 2;
  // The last digit of "11" ends at that column; nothing is inked beyond it.
  int rightmost = -1;
  for (int y = p.rowTop(11); y < p.rowTop(11) + p.lh(); ++y)
    for (int x = 0; x < c.FGutterWidth; ++x)
      if (image.pixelColor(x, y) != QColor(255, 255, 255))
        rightmost = std::max(rightmost, x);
  EXPECT_LT(rightmost, end);
  EXPECT_GE(rightmost, end - p.edit.GutterCharWidth(c.Gutter().Font()));
}

TEST(CodeEditPaint, AnAutoSizedGutterGrowsByOneCellAtTheTenThousandthLine) {
  PaintedEdit p;
  TCodeEditCore& c = p.core();
  c.Gutter().SetShowLineNumbers(true);
  c.Gutter().SetAutoSize(true);
  std::u16string text;
  for (int i = 1; i < 9999; ++i)
    text += u"x\n";
  text += u"x";
  c.Lines().SetAllText(text);
  const int narrow = c.FGutterWidth;
  c.Lines().Add(u"y");
  EXPECT_EQ(c.FGutterWidth, narrow + p.edit.GutterCharWidth(c.Gutter().Font()));
  EXPECT_EQ(c.FTextOffset, c.FGutterWidth + 2);
}

TEST(CodeEditPaint, ScrollBarsFollowTheModel) {
  PaintedEdit p(40, 20);
  TCodeEditCore& c = p.core();
  ASSERT_EQ(c.FLinesInWindow, 20);
  std::u16string text;
  for (int i = 1; i < 100; ++i)
    text += u"line\n";
  text += u"last";
  c.Lines().SetAllText(text);
  QScrollBar* v = p.edit.verticalScrollBar();
  EXPECT_EQ(v->minimum(), 1);
  EXPECT_EQ(v->maximum(), 81);
  EXPECT_EQ(v->pageStep(), 20);
  c.SetTopLine(30);
  EXPECT_EQ(v->value(), 30);
  // The bar moves the view.
  v->setValue(12);
  EXPECT_EQ(c.FTopLine, 12);
  p.edit.horizontalScrollBar()->setValue(5);
  EXPECT_EQ(c.FLeftChar, 5);
  EXPECT_EQ(c.FTextOffset, c.FGutterWidth + 2 - 4 * c.FCharWidth);
  // Qt's bars are 32-bit: long texts keep their positions unscaled.
  text.clear();
  for (int i = 1; i < 40000; ++i)
    text += u"x\n";
  text += u"x";
  c.Lines().SetAllText(text);
  EXPECT_EQ(v->maximum(), 40000 - 20 + 1);
  c.SetTopLine(39000);
  EXPECT_EQ(v->value(), 39000);
}

TEST(CodeEditPaint, ShortTextHidesOrDisablesTheBars) {
  PaintedEdit p(40, 10);
  TCodeEditCore& c = p.core();
  c.SetOptions(c.Options() & ~OptionBit(eoScrollPastEol));
  c.Lines().SetAllText(u"short\r\ntext");
  // Without eoHideShowScrollbars the bars stay, disabled.
  EXPECT_EQ(p.edit.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_FALSE(p.edit.verticalScrollBar()->isEnabled());
  EXPECT_FALSE(p.edit.horizontalScrollBar()->isEnabled());
  c.SetOptions(c.Options() | OptionBit(eoHideShowScrollbars));
  EXPECT_EQ(p.edit.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(p.edit.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  // A text that no longer fits brings them back.
  std::u16string text;
  for (int i = 0; i < 50; ++i)
    text += u"line\n";
  c.Lines().SetAllText(text);
  EXPECT_EQ(p.edit.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_TRUE(p.edit.verticalScrollBar()->isEnabled());
}

// Records the regions the viewport is asked to paint.
class PaintRecorder : public QObject {
public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      regions.push_back(static_cast<QPaintEvent*>(event)->region());
    return false;
  }
  std::vector<QRegion> regions;
};

TEST(CodeEditPaint, AShortScrollRepaintsOnlyTheUncoveredBand) {
  PaintedEdit p(40, 10);
  TCodeEditCore& c = p.core();
  std::u16string text;
  for (int i = 0; i < 100; ++i)
    text += u"line\n";
  c.Lines().SetAllText(text);
  p.edit.show();
  PaintRecorder recorder;
  p.edit.viewport()->installEventFilter(&recorder);
  // Wait (bounded) for the first paint of the shown window.
  for (int i = 0; i < 500 && recorder.regions.empty(); ++i) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(recorder.regions.empty());
  recorder.regions.clear();
  c.SetTopLine(4);
  for (int i = 0; i < 500 && recorder.regions.empty(); ++i) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(recorder.regions.empty());
  QRegion painted;
  for (const QRegion& r : recorder.regions)
    painted += r;
  // Three rows came up from below: only they (and the scroll bars' change,
  // which is not the viewport's) are painted.
  const QRect band = painted.boundingRect();
  EXPECT_GE(band.top(), p.edit.viewport()->height() - 3 * p.lh() - 1);
  p.edit.viewport()->removeEventFilter(&recorder);
}

TEST(CodeEditPaint, TheInputMethodIsToldTheCaretRectangle) {
  PaintedEdit p;
  TCodeEditCore& c = p.core();
  c.Lines().SetAllText(u"abc\r\ndef");
  c.SetCaretXY({3, 2});
  const QRect rect = p.edit.inputMethodQuery(Qt::ImCursorRectangle).toRect();
  const QPoint origin = p.edit.viewport()->pos();
  EXPECT_EQ(rect.left() - origin.x(), p.columnX(3) - 1);
  EXPECT_EQ(rect.top() - origin.y(), p.rowTop(2));
  EXPECT_EQ(rect.width(), 2);
  EXPECT_EQ(rect.height(), p.lh() - 2);
  // Scrolled out of the text area, the caret has no place.
  c.SetLeftChar(10);
  EXPECT_TRUE(p.edit.CaretRect().isEmpty());
}

// Shows the editor and gives it the focus; false when the platform never
// does (the caller skips).
bool focus(TCodeEdit& edit) {
  edit.show();
  edit.activateWindow();
  edit.setFocus();
  for (int i = 0; i < 500 && !edit.hasFocus(); ++i) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return edit.hasFocus();
}

TEST(CodeEditPaint, TheCaretInvertsItsCellWhileFocused) {
  PaintedEdit p;
  TCodeEditCore& c = p.core();
  c.Lines().SetAllText(u"abc\r\n\r\nxyz");
  if (!focus(p.edit))
    GTEST_SKIP() << "the platform gives no focus";
  // A caret just moved is shown at once (the blink starts over).
  c.SetCaretXY({3, 2});
  QImage image = p.grab();
  const int x = p.columnX(3);
  const int y = p.rowTop(2) + p.lh() / 2;
  const QColor background = image.pixelColor(p.columnX(8), y);
  EXPECT_NE(image.pixelColor(x, y), background);
  EXPECT_NE(image.pixelColor(x - 1, y), background);
  EXPECT_EQ(image.pixelColor(x + 1, y), background);
  // The block caret of overwrite mode takes the whole cell.
  c.SetInsertMode(false);
  image = p.grab();
  EXPECT_NE(image.pixelColor(x + p.cw() - 1, y), background);
  EXPECT_EQ(image.pixelColor(x + p.cw(), y), background);
  // Without focus no caret is drawn.
  p.edit.clearFocus();
  image = p.grab();
  EXPECT_EQ(image.pixelColor(x, y), background);
}

// The .reg export as a change-log pane shows it: INI colours, line numbers.
void ShowRegExport(TCodeEditCore& c, TCodeIniHighlighter& ini) {
  c.SetHighlighter(&ini);
  c.Gutter().SetShowLineNumbers(true);
  c.Gutter().SetAutoSize(true);
  c.Lines().SetAllText(RegExportSample);
}

TEST(CodeEditPaint, ARegExportWithTheIniHighlighter) {
  PaintedEdit p(64, 24);
  TCodeEditCore& c = p.core();
  TCodeIniHighlighter ini;
  ShowRegExport(c, ini);
  c.SetRightEdge(40);
  // Focused, so that the picture shows the caret at the selection's end.
  focus(p.edit);
  c.SetCaretAndSelection({12, 8}, {2, 6}, {12, 8});
  const QImage image = p.grab();
  // Comments are green.
  bool green = false;
  for (int x = p.columnX(1); x < p.columnX(20) && !green; ++x)
    for (int y = p.rowTop(3); y < p.rowTop(4); ++y)
      if (image.pixelColor(x, y).green() > 100 && image.pixelColor(x, y).red() < 80)
        green = true;
  EXPECT_TRUE(green);
  // The right edge crosses the long line and the rows below the text.
  const int edge = c.FTextOffset + 40 * c.FCharWidth;
  for (int row : {6, 19, 24})
    EXPECT_EQ(image.pixelColor(edge, p.rowTop(row) + 1), QColor(192, 192, 192)) << row;
  saveScreenshot(p.edit, "CodeEditRegExport");
}

TEST(CodeEditPaint, AWrappedRegExportShowsEachRowsOwnText) {
  PaintedEdit p(40, 30);
  TCodeEditCore& c = p.core();
  TCodeIniHighlighter ini;
  ShowRegExport(c, ini);
  p.setViewport(40, 30);  // the gutter grew with its numbers
  c.SetWordWrap(true);
  int wallpaper = 0;
  for (int line = 1; line <= c.LineCount() && wallpaper == 0; ++line)
    if (c.LineText(line).starts_with(u"\"Wallpaper\""))
      wallpaper = line;
  ASSERT_GT(wallpaper, 0);
  const int first = c.LineToRow(wallpaper);
  ASSERT_GE(c.LineToRow(wallpaper + 1) - first, 2) << "the long line wraps";
  focus(p.edit);
  c.SetCaretXY({60, wallpaper});
  const QImage image = p.grab();
  // The continuation row shows other text than the line's first row.
  auto rowPixels = [&](int row) {
    std::vector<QRgb> pixels;
    for (int y = p.rowTop(row); y < p.rowTop(row + 1); ++y)
      for (int x = p.columnX(1); x < p.columnX(30); ++x)
        pixels.push_back(image.pixel(x, y));
    return pixels;
  };
  EXPECT_NE(rowPixels(first), rowPixels(first + 1));
  // The wrap glyph stands in the gutter of the continuation row only.
  auto gutterInk = [&](int row) {
    const QColor gutter = image.pixelColor(1, p.rowTop(row) + 1);
    int ink = 0;
    for (int y = p.rowTop(row); y < p.rowTop(row + 1); ++y)
      for (int x = c.FGutterWidth / 2; x < c.FGutterWidth - 2; ++x)
        ink += image.pixelColor(x, y) != gutter;
    return ink;
  };
  EXPECT_GT(gutterInk(first + 1), 0);
  saveScreenshot(p.edit, "CodeEditWrappedRegExport");
}

// The control paints its region once, without a background first: the
// model's painting must cover every pixel of the clip it is given.
TEST(CodeEditPaint, ThePaintCoversEveryPixelOfItsClip) {
  PaintedEdit p(30, 10);
  TCodeEditCore& c = p.core();
  TCodeIniHighlighter ini;
  std::u16string many;
  for (int i = 0; i < 40; ++i)
    many += u"\"Value\"=\"some text that is long enough to wrap around\"\r\n";
  struct Case {
    const char* name;
    std::function<void()> set;
  };
  const Case cases[] = {
      {"an empty text", [&] { c.Lines().Clear(); }},
      {"a short text", [&] { c.Lines().SetAllText(u"a\r\nb"); }},
      {"highlighted, line numbers, scrolled to the end past it",
       [&] {
         c.SetHighlighter(&ini);
         c.Gutter().SetShowLineNumbers(true);
         c.SetOptions(c.Options() | OptionBit(eoScrollPastEof));
         c.Lines().SetAllText(many);
         c.SetTopLine(c.LineCount());
       }},
      {"wrapped without a border", [&] {
         c.Gutter().SetBorderStyle(gbsNone);
         c.SetWordWrap(true);
         c.SetTopLine(3);
       }},
      {"a gradient gutter without numbers", [&] {
         c.Gutter().SetShowLineNumbers(false);
         c.Gutter().SetGradient(true);
         c.SetCaretAndSelection({5, 4}, {3, 2}, {5, 4});
       }},
  };
  const int w = p.edit.viewport()->width(), h = p.edit.viewport()->height();
  const TCodeInternalImage marks(QStringLiteral("CodeEditInternalImages"), 10);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    k.set();
    for (const QRect clip : {QRect(0, 0, w, h), QRect(5, 7, w / 2, h / 3), QRect(c.FGutterWidth + 3, 20, 17, 40)}) {
      SCOPED_TRACE(testing::Message() << clip.x() << "," << clip.y() << " " << clip.width() << "x" << clip.height());
      QImage image(w, h, QImage::Format_RGB32);
      image.fill(QColor(255, 0, 255));
      {
        QPainter painter(&image);
        painter.setClipRect(clip);
        TCodePainterDrawer drawer(painter, p.edit.TextDrawer(), p.edit.palette(),
                                  [&]() -> const TCodeInternalImage& { return marks; });
        c.Paint(drawer, {clip.left(), clip.top(), clip.right() + 1, clip.bottom() + 1});
      }
      int unpainted = 0;
      for (int y = clip.top(); y <= clip.bottom(); ++y)
        for (int x = clip.left(); x <= clip.right(); ++x)
          unpainted += image.pixel(x, y) == qRgb(255, 0, 255);
      EXPECT_EQ(unpainted, 0);
    }
  }
}

}  // namespace
