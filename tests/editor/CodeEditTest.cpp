#include "editor/CodeEdit.h"

#include "editor/CodeHighlighterIni.h"
#include "tests/editor/CodeEditDefaults.h"
#include "tests/support/CodeEditLinesSuite.h"

#include <QCoreApplication>
#include <QFontInfo>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

using namespace codeedit;

namespace {

// Throws from its scanner once armed: the editor must survive it.
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

QImage grab(TCodeEdit& edit) {
  QImage image(edit.viewport()->size(), QImage::Format_ARGB32);
  image.fill(Qt::magenta);
  edit.viewport()->render(&image);
  return image;
}

}  // namespace

TEST(CodeEdit, ANewControlHasItsDefaults) {
  TCodeEdit edit;
  EXPECT_EQ(edit.size(), QSize(200, 150));
  EXPECT_EQ(edit.Font().family(), QStringLiteral("Courier New"));
  EXPECT_EQ(edit.Font().pointSize(), 10);
  EXPECT_TRUE(QFontInfo(edit.Font()).fixedPitch());
  EXPECT_EQ(edit.BorderStyle(), bsSingle);
  EXPECT_NE(edit.frameStyle() & QFrame::Shape_Mask, QFrame::NoFrame);
  EXPECT_TRUE(edit.viewport()->testAttribute(Qt::WA_OpaquePaintEvent));
  TCodeEditCore& core = edit.Core();
  ExpectCodeEditDefaults(core);
  EXPECT_GT(core.FCharWidth, 0);
  EXPECT_GT(core.FLineHeight, 0);
  edit.SetBorderStyle(bsNone);
  EXPECT_EQ(edit.frameStyle() & QFrame::Shape_Mask, QFrame::NoFrame);
}

TEST(CodeEdit, ProportionalFontsAreReplacedByFixedPitchOnes) {
  TCodeEdit edit;
  QFont sans(QStringLiteral("DejaVu Sans"), 12);
  sans.setBold(true);
  edit.SetFont(sans);
  QFontInfo info(edit.Font());
  EXPECT_TRUE(info.fixedPitch()) << info.family().toStdString();
  EXPECT_EQ(info.pointSize(), 12);
  EXPECT_TRUE(info.bold());

  QFont mono(QStringLiteral("DejaVu Sans Mono"), 11);
  if (!QFontInfo(mono).fixedPitch())
    GTEST_SKIP() << "DejaVu Sans Mono is not installed";
  edit.SetFont(mono);
  EXPECT_EQ(edit.Font(), mono);
  EXPECT_EQ(edit.Core().FCharWidth, edit.TextDrawer().CellWidth());
}

TEST(CodeEdit, CellsComeFromTheBoldMAdvance) {
  TCodeEdit edit;
  TheTextDrawer& drawer = edit.TextDrawer();
  EXPECT_EQ(drawer.CharCells(u'a'), 1);
  EXPECT_EQ(drawer.CharCells(u'\u0301'), 0);
  const int plain = drawer.CellWidth();
  drawer.SetCharExtra(3);
  EXPECT_EQ(drawer.CellWidth(), plain + 3);
}

TEST(CodeEdit, PaintsTextIntoItsViewport) {
  TCodeEdit edit;
  edit.Lines().SetAllText(u"[section]\r\nkey=\"value\" ; c\r\n\tWWWW \u4E00x\r\n; comment");
  edit.resize(400, 150);
  QImage empty = grab(edit);
  EXPECT_NE(empty.pixelColor(5, 5), QColor(Qt::magenta));  // opaque: the whole area is painted
  TCodeIniHighlighter ini;
  edit.Core().SetHighlighter(&ini);
  QImage painted = grab(edit);
  if (const char* shot = std::getenv("CODEEDIT_SHOT"))
    painted.save(QString::fromLocal8Bit(shot));
  const QColor background = painted.pixelColor(painted.width() - 5, painted.height() - 5);
  int inked = 0;
  const int lineHeight = edit.Core().FLineHeight;
  for (int y = 0; y < lineHeight; ++y)
    for (int x = edit.Core().FTextOffset; x < painted.width(); ++x)
      if (painted.pixelColor(x, y) != background)
        ++inked;
  EXPECT_GT(inked, 20);
}

TEST(CodeEdit, AThrowingHighlighterLeavesAWorkingWidget) {
  TCodeEdit edit;
  edit.Lines().SetAllText(u"a=1");
  ThrowingHighlighter h;
  edit.Core().SetHighlighter(&h);
  h.armed = true;
  (void)grab(edit);
  EXPECT_GE(edit.CaughtExceptions(), 1);

  const int before = edit.CaughtExceptions();
  QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
  QCoreApplication::sendEvent(&edit, &press);
  EXPECT_GT(edit.CaughtExceptions(), before);

  // The text went in before the rescan failed; the caret stayed.
  EXPECT_EQ(edit.Lines().GetString(0), u"xa=1");
  h.armed = false;
  edit.Core().SetCaretXY({5, 1});
  QKeyEvent again(QEvent::KeyPress, Qt::Key_Y, Qt::NoModifier, QStringLiteral("y"));
  QCoreApplication::sendEvent(&edit, &again);
  EXPECT_EQ(edit.Lines().GetString(0), u"xa=1y");
  EXPECT_EQ(edit.Core().CaretXY().CharPos, 6);
  const int after = edit.CaughtExceptions();
  (void)grab(edit);
  EXPECT_EQ(edit.CaughtExceptions(), after);
}

TEST(CodeEdit, DestroyingTheHighlighterLeavesNil) {
  TCodeEdit edit;
  edit.Lines().SetAllText(u"a=1");
  {
    TCodeIniHighlighter ini;
    edit.Core().SetHighlighter(&ini);
  }
  EXPECT_EQ(edit.Core().Highlighter(), nullptr);
  (void)grab(edit);
  EXPECT_EQ(edit.CaughtExceptions(), 0);
}

namespace {
struct CodeEditFactory {
  static std::unique_ptr<CodeEditLines> make() { return std::make_unique<TCodeEdit>(); }
};
}  // namespace
INSTANTIATE_TYPED_TEST_SUITE_P(CodeEdit, CodeEditLinesSuite, CodeEditFactory);
