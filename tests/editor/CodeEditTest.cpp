#include "editor/CodeEdit.h"

#include "editor/CodeClipboardText.h"
#include "editor/CodeHighlighterIni.h"
#include "tests/editor/CodeEditDefaults.h"
#include "tests/editor/CodeEditThrowingHighlighter.h"
#include "tests/support/CodeEditLinesSuite.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace codeedit;

namespace {

QImage grab(TCodeEdit& edit) {
  QImage image(edit.viewport()->size(), QImage::Format_ARGB32);
  image.fill(Qt::magenta);
  edit.viewport()->render(&image);
  return image;
}

// What the user sees of a fixed-pitch font: "i", "W" and "0" take one
// advance. The spacing fontconfig records says less: Noto Sans Mono, often
// the system's monospace font, is not marked fixed-pitch.
::testing::AssertionResult AdvancesAreEqual(const QFont& font) {
  const QFontMetricsF metrics(font);
  const qreal i = metrics.horizontalAdvance(QLatin1Char('i'));
  const qreal w = metrics.horizontalAdvance(QLatin1Char('W'));
  const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
  if (i > 0 && std::abs(i - w) < 1.0 / 64 && std::abs(i - zero) < 1.0 / 64)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << QFontInfo(font).family().toStdString() << ": i " << i << ", W " << w
                                       << ", 0 " << zero;
}

}  // namespace

TEST(CodeEdit, ANewControlHasItsDefaults) {
  TCodeEdit edit;
  EXPECT_EQ(edit.size(), QSize(200, 150));
  EXPECT_EQ(edit.Font().family(), QStringLiteral("Courier New"));
  EXPECT_EQ(edit.Font().pointSize(), 10);
  EXPECT_TRUE(AdvancesAreEqual(edit.Font()));
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
  EXPECT_TRUE(AdvancesAreEqual(edit.Font()));
  QFontInfo info(edit.Font());
  EXPECT_EQ(info.pointSize(), 12);
  EXPECT_TRUE(info.bold());

  // In pixels, italic, and a family nobody has: the same.
  QFont missing(QStringLiteral("No Such Family At All"));
  missing.setPixelSize(15);
  missing.setItalic(true);
  edit.SetFont(missing);
  EXPECT_TRUE(AdvancesAreEqual(edit.Font()));
  EXPECT_EQ(edit.Font().pixelSize(), 15);
  EXPECT_TRUE(edit.Font().italic());

  // Whatever the system's monospace font is, the editor's font measures fixed.
  const QFont system = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  edit.SetFont(QFont(QStringLiteral("DejaVu Serif"), 9));
  EXPECT_TRUE(AdvancesAreEqual(edit.Font())) << "system monospace: " << QFontInfo(system).family().toStdString();
  EXPECT_EQ(edit.Core().FCharWidth, edit.TextDrawer().CellWidth());

  QFont mono(QStringLiteral("DejaVu Sans Mono"), 11);
  if (QFontInfo(mono).family() != mono.family())
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
  edit.Lines().SetAllText(u"(a=1)");
  ThrowingHighlighter h;
  edit.Core().SetHighlighter(&h);
  h.armed = true;
  (void)grab(edit);
  EXPECT_GE(edit.CaughtExceptions(), 1);

  // A key whose command asks the highlighter (the bracket match skips
  // brackets inside strings): the failure stays in the key handler.
  int before = edit.CaughtExceptions();
  QKeyEvent press(QEvent::KeyPress, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
  QCoreApplication::sendEvent(&edit, &press);
  EXPECT_GT(edit.CaughtExceptions(), before);

  // A line added while the rescan fails is kept.
  before = edit.CaughtExceptions();
  edit.Add(QStringLiteral("b=2"));
  EXPECT_GT(edit.CaughtExceptions(), before);
  EXPECT_EQ(edit.Count(), 2);

  h.armed = false;
  QKeyEvent again(QEvent::KeyPress, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
  QCoreApplication::sendEvent(&edit, &again);
  EXPECT_EQ(edit.Core().CaretXY(), (TBufferCoord{5, 1}));
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

// --- clipboard, undo and drops ----------------------------------------------------------

namespace {

std::vector<std::u16string> LinesOfEdit(TCodeEdit& edit) {
  std::vector<std::u16string> lines;
  for (int i = 1; i <= edit.Core().LineCount(); ++i)
    lines.emplace_back(edit.Core().LineText(i));
  return lines;
}

// The viewport point inside the cell of a buffer position.
QPoint PointOf(TCodeEdit& edit, TBufferCoord pos) {
  TCodeEditCore& c = edit.Core();
  const TDisplayCoord d = c.BufferToDisplayPos(pos);
  return {c.FGutterWidth + 2 + (d.Column - c.FLeftChar) * c.FCharWidth + 1, (d.Row - c.FTopLine) * c.FLineHeight + 1};
}

// A drag of source's selection entering target and dropped at a position.
bool DragAndDrop(TCodeEdit& target, TCodeEdit& source, TBufferCoord at, Qt::KeyboardModifiers modifiers) {
  TCodeEditDragData data;
  data.Source = &source;
  const std::u16string text = source.Core().SelectedText();
  data.setText(QString::fromStdU16String(text));
  const QPoint point = PointOf(target, at);
  QDragEnterEvent enter(point, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, modifiers);
  QCoreApplication::sendEvent(target.viewport(), &enter);
  if (!enter.isAccepted())
    return false;
  QDropEvent drop(QPointF(point), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, modifiers);
  QCoreApplication::sendEvent(target.viewport(), &drop);
  return drop.isAccepted();
}

void SetEditLines(TCodeEdit& edit, std::initializer_list<std::u16string_view> lines) {
  edit.Lines().Clear();
  for (std::u16string_view line : lines)
    edit.Lines().Add(line);
}

}  // namespace

TEST(CodeEdit, AColumnCopiedInOneEditorIsPastedAsAColumnInAnother) {
  TCodeEdit from;
  SetEditLines(from, {u"abcd", u"efgh"});
  from.Core().SetSelectionMode(smColumn);
  from.Core().SetCaretAndSelection({4, 2}, {2, 1}, {4, 2});
  from.Core().CopyToClipboard();

  TCodeEdit to;
  SetEditLines(to, {u"1234", u"5678"});
  to.Core().SetCaretAndSelection({2, 1}, {2, 1}, {2, 1});
  ASSERT_EQ(to.Core().SelectionMode(), smNormal);
  to.paste();
  EXPECT_EQ(LinesOfEdit(to), (std::vector<std::u16string>{u"1bc234", u"5fg678"}));
  to.undo();
  EXPECT_EQ(LinesOfEdit(to), (std::vector<std::u16string>{u"1234", u"5678"}));
  to.redo();
  EXPECT_EQ(LinesOfEdit(to), (std::vector<std::u16string>{u"1bc234", u"5fg678"}));
}

TEST(CodeEdit, TextFromAnotherProgramIsPastedInTheSelectionMode) {
  for (TCodeSelectionMode mode : {smNormal, smColumn}) {
    SCOPED_TRACE(int(mode));
    QGuiApplication::clipboard()->setText(QStringLiteral("XY\r\nZ"));
    TCodeEdit edit;
    SetEditLines(edit, {u"1234", u"5678"});
    edit.Core().SetSelectionMode(mode);
    edit.Core().SetCaretAndSelection({3, 1}, {3, 1}, {3, 1});
    edit.paste();
    const std::vector<std::u16string> expected =
        mode == smColumn ? std::vector<std::u16string>{u"12XY34", u"56Z78"}
                         : std::vector<std::u16string>{u"12XY", u"Z34", u"5678"};
    EXPECT_EQ(LinesOfEdit(edit), expected);
  }
}

TEST(CodeEdit, CutClearUndoAndRedoSlots) {
  TCodeEdit edit;
  SetEditLines(edit, {u"one two"});
  edit.Core().SetCaretAndSelection({8, 1}, {5, 1}, {8, 1});
  edit.cut();
  EXPECT_EQ(edit.Core().LineText(1), u"one ");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("two"));
  // A new selection, made as the keys make one: a step of its own.
  edit.Core().UndoList().AddGroupBreak();
  edit.Core().SetCaretAndSelection({4, 1}, {1, 1}, {4, 1});
  edit.clear();
  EXPECT_EQ(edit.Core().LineText(1), u" ");
  edit.undo();
  EXPECT_EQ(edit.Core().LineText(1), u"one ");
  edit.undo();
  EXPECT_EQ(edit.Core().LineText(1), u"one two");
  edit.redo();
  EXPECT_EQ(edit.Core().LineText(1), u"one ");

  // Read-only: every change is refused without a word.
  edit.Core().SetReadOnly(true);
  edit.Core().SetCaretAndSelection({4, 1}, {1, 1}, {4, 1});
  QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
  edit.cut();
  edit.clear();
  edit.paste();
  edit.undo();
  edit.redo();
  EXPECT_EQ(edit.Core().LineText(1), u"one ");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("pasted"));
  EXPECT_EQ(edit.CaughtExceptions(), 0);
}

TEST(CodeEdit, DropsMoveOrCopyTheDraggedSelection) {
  struct Case {
    const char* name;
    bool otherEditor;
    Qt::KeyboardModifiers modifiers;
    TBufferCoord dropAt;
    bool targetReadOnly;
    std::vector<std::u16string> target;
    std::vector<std::u16string> source;  // the other editor's lines afterwards
  };
  const Case cases[] = {
      {"inside its own selection nothing changes", false, Qt::NoModifier, {3, 1}, false, {u"abcdef ghi"}, {}},
      {"after itself on the line it keeps the drop column", false, Qt::NoModifier, {8, 1}, false, {u"adef bcghi"}, {}},
      {"with Ctrl in its own editor it is copied", false, Qt::ControlModifier, {8, 1}, false, {u"abcdef bcghi"}, {}},
      {"into another editor it is copied", true, Qt::NoModifier, {2, 1}, false, {u"xbcy"}, {u"abcdef ghi"}},
      {"with Shift into another editor it moves", true, Qt::ShiftModifier, {2, 1}, false, {u"xbcy"},
       {u"adef ghi"}},
      {"a read-only editor refuses the drop", true, Qt::NoModifier, {2, 1}, true, {u"xy"}, {u"abcdef ghi"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCodeEdit source;
    TCodeEdit other;
    SetEditLines(source, {u"abcdef ghi"});
    SetEditLines(other, {u"xy"});
    source.Core().SetCaretAndSelection({4, 1}, {2, 1}, {4, 1});
    TCodeEdit& target = c.otherEditor ? other : source;
    target.Core().SetReadOnly(c.targetReadOnly);
    const bool dropped = DragAndDrop(target, source, c.dropAt, c.modifiers);
    EXPECT_EQ(LinesOfEdit(target), c.target);
    if (c.otherEditor)
      EXPECT_EQ(LinesOfEdit(source), c.source);
    const bool changes = c.target != std::vector<std::u16string>{u"abcdef ghi"} && !c.targetReadOnly;
    EXPECT_EQ(dropped, changes);
    if (changes) {
      // The dropped text is selected, the caret at its start; one undo
      // takes the drop back.
      EXPECT_EQ(target.Core().SelectedText(), u"bc");
      EXPECT_EQ(target.Core().CaretXY(), target.Core().BlockBeginSorted());
      target.undo();
      const std::vector<std::u16string> before = c.otherEditor ? std::vector<std::u16string>{u"xy"}
                                                                 : std::vector<std::u16string>{u"abcdef ghi"};
      EXPECT_EQ(LinesOfEdit(target), before);
    }
  }
}

TEST(CodeEdit, DroppedFilesReachOnDropFilesAsPaths) {
  TCodeEdit edit;
  std::vector<std::u16string> received;
  edit.OnDropFiles = [&](TCodeEdit&, int, int, TUnicodeStrings& files) {
    for (int i = 0; i < files.GetCount(); ++i)
      received.push_back(files.GetString(i));
  };
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/one.reg")), QUrl::fromLocalFile(QStringLiteral("/tmp/two words.reg"))});
  for (bool option : {false, true}) {
    SCOPED_TRACE(option);
    edit.Core().SetOptions(option ? edit.Core().Options() | OptionBit(eoDropFiles)
                                  : edit.Core().Options() & ~OptionBit(eoDropFiles));
    QDragEnterEvent enter(QPoint(40, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(edit.viewport(), &enter);
    EXPECT_EQ(enter.isAccepted(), option);
    QDropEvent drop(QPointF(40, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(edit.viewport(), &drop);
  }
  EXPECT_EQ(received, (std::vector<std::u16string>{u"/tmp/one.reg", u"/tmp/two words.reg"}));
  EXPECT_EQ(edit.Core().LineCount(), 0) << "files are not text";
}
