// The editor control's keyboard, mouse, wheel and focus handling, driven by
// Qt events on a read-only editor as the change-log panes use it.

#include "editor/CodeEdit.h"

#include "editor/CodeClipboardText.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace codeedit;

namespace {

struct InputFixture : ::testing::Test {
  std::vector<std::pair<TCodeEditorCommand, char16_t>> processed;
  std::unique_ptr<TCodeEdit> edit = std::make_unique<TCodeEdit>();
  // Made by inWindow; it owns the editor then and goes first.
  std::unique_ptr<QWidget> window;
  QLineEdit* sibling = nullptr;

  InputFixture() {
    edit->resize(400, 300);
    edit->Core().SetReadOnly(true);
    edit->Core().OnCommandProcessed = [this](TCodeEditCore&, TCodeEditorCommand& c, char16_t& ch, void*) {
      processed.push_back({c, ch});
    };
  }
  void setLines(int count) {
    for (int i = 1; i <= count; ++i)
      edit->Add(QStringLiteral("line %1 of the log").arg(i));
  }
  TCodeEditCore& core() { return edit->Core(); }
  QWidget* view() { return edit->viewport(); }
  // The viewport point of a buffer position's cell, a little inside it.
  QPoint pointOf(TBufferCoord p) {
    TCodeEditCore& c = core();
    return {c.FGutterWidth + 2 + (p.CharPos - c.FLeftChar) * c.FCharWidth + 1,
            (p.LinePos - c.FTopLine) * c.FLineHeight + c.FLineHeight / 2};
  }
  void wheel(int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QPointF at(50, 50);
    QWheelEvent event(at, view()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view(), &event);
  }
  // The editor in a shown window beside a line edit, with the focus.
  TCodeEdit* inWindow() {
    window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window.get());
    TCodeEdit* owned = edit.release();
    layout->addWidget(owned);
    sibling = new QLineEdit(window.get());
    layout->addWidget(sibling);
    window->show();
    QApplication::setActiveWindow(window.get());
    owned->setFocus();
    EXPECT_TRUE(QTest::qWaitFor([&] { return owned->hasFocus(); }, 5000));
    return owned;
  }
  bool processedCommand(TCodeEditorCommand c) const {
    for (const auto& p : processed)
      if (p.first == c)
        return true;
    return false;
  }
};

}  // namespace

TEST(CodeEditKeys, QtKeysBecomeVirtualKeys) {
  struct Case {
    int key;
    Qt::KeyboardModifiers modifiers;
    std::uint16_t vk;
    TShiftState shift;
  } cases[] = {
      {Qt::Key_A, Qt::ControlModifier, 'A', ssCtrl},
      {Qt::Key_3, Qt::ControlModifier | Qt::ShiftModifier, '3', ssCtrl | ssShift},
      {Qt::Key_NumberSign, Qt::ControlModifier | Qt::ShiftModifier, '3', ssCtrl | ssShift},
      {Qt::Key_9, Qt::KeypadModifier | Qt::AltModifier, 0x69, ssAlt},
      {Qt::Key_9, Qt::NoModifier, '9', 0},
      {Qt::Key_Backtab, Qt::ShiftModifier, 0x09, ssShift},
      {Qt::Key_Return, Qt::NoModifier, 0x0D, 0},
      {Qt::Key_Enter, Qt::KeypadModifier, 0x0D, 0},
      {Qt::Key_PageDown, Qt::ShiftModifier, 0x22, ssShift},
      {Qt::Key_F1, Qt::NoModifier, 0x70, 0},
      {Qt::Key_CapsLock, Qt::NoModifier, 20, 0},
      {Qt::Key_Alt, Qt::AltModifier, 18, ssAlt},
      {Qt::Key_Minus, Qt::KeypadModifier, 0x6D, 0},
      {Qt::Key_Minus, Qt::NoModifier, 0xBD, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    std::uint16_t vk = 0;
    TShiftState shift = 0;
    EXPECT_TRUE(TCodeEdit::TranslateQtKey(c.key, c.modifiers, vk, shift));
    EXPECT_EQ(vk, c.vk);
    EXPECT_EQ(shift, c.shift);
  }
  std::uint16_t vk = 1;
  TShiftState shift = 0;
  EXPECT_FALSE(TCodeEdit::TranslateQtKey(Qt::Key_Eacute, Qt::NoModifier, vk, shift));
  EXPECT_EQ(vk, 0);
}

TEST_F(InputFixture, ShiftRightSelectsAndCtrlACtrlCCopiesEverything) {
  edit->Add(QStringLiteral("REGEDIT4"));
  edit->Add(QString());
  edit->Add(QStringLiteral("[HKEY_CURRENT_USER\\Software\\X]"));
  for (int i = 0; i < 3; ++i)
    QTest::keyClick(edit.get(), Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(core().SelectedText(), u"REG");
  EXPECT_EQ(core().SelLength(), 3);

  QTest::keyClick(edit.get(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(edit.get(), Qt::Key_C, Qt::ControlModifier);
  // The selection ends with the last line: the text but its final line break.
  EXPECT_EQ(QGuiApplication::clipboard()->text() + QStringLiteral("\r\n"), edit->Text());

  // Five characters give the private block of seven bytes.
  core().SetCaretAndSelection({6, 3}, {1, 3}, {6, 3});
  QTest::keyClick(edit.get(), Qt::Key_Insert, Qt::ControlModifier);
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->text(), QStringLiteral("[HKEY"));
  EXPECT_EQ(data->data(QString::fromLatin1(CodeEditClipboardFormat)), QByteArray("\0[HKEY\0", 7));
}

TEST_F(InputFixture, ChangingKeysDoNothingInAReadOnlyEditorButAreProcessed) {
  edit->Add(QStringLiteral("abc"));
  edit->Add(QStringLiteral("def"));
  QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
  const QString before = edit->Text();
  struct Key {
    int key;
    Qt::KeyboardModifiers modifiers;
    TCodeEditorCommand command;
  } keys[] = {{Qt::Key_Delete, Qt::NoModifier, ecDeleteChar},
              {Qt::Key_Backspace, Qt::NoModifier, ecDeleteLastChar},
              {Qt::Key_V, Qt::ControlModifier, ecPaste},
              {Qt::Key_Z, Qt::ControlModifier, ecUndo},
              {Qt::Key_X, Qt::NoModifier, ecChar}};
  for (const Key& k : keys) {
    SCOPED_TRACE(k.command);
    processed.clear();
    QTest::keyClick(edit.get(), static_cast<Qt::Key>(k.key), k.modifiers);
    EXPECT_EQ(edit->Text(), before);
    ASSERT_EQ(processed.size(), 1u) << "one command, and its character dropped";
    EXPECT_EQ(processed[0].first, k.command);
  }
}

TEST_F(InputFixture, CtrlShiftDigitSetsAndClearsABookmark) {
  setLines(5);
  core().SetCaretXY({4, 2});
  QTest::keyClick(edit.get(), Qt::Key_3, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_NE(core().BookMark(3), nullptr);
  EXPECT_EQ(core().BookMark(3)->Line(), 2);
  core().SetCaretXY({1, 5});
  QTest::keyClick(edit.get(), Qt::Key_3, Qt::ControlModifier);
  EXPECT_EQ(core().CaretXY(), (TBufferCoord{4, 2}));
  // The symbol a US keyboard reports for Shift+3 is the same key.
  QTest::keyClick(edit.get(), Qt::Key_NumberSign, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(core().BookMark(3), nullptr);
}

TEST_F(InputFixture, AltAndKeypadDigitsTypeTheCodeOnce) {
  processed.clear();
  // Alt stays down while the digits are typed (QTest's clicks would let it go
  // after each key).
  const Qt::KeyboardModifiers held = Qt::AltModifier | Qt::KeypadModifier;
  for (Qt::Key key : {Qt::Key_9, Qt::Key_6, Qt::Key_0, Qt::Key_0}) {
    const QString digit(QChar(u'0' + (key - Qt::Key_0)));
    QKeyEvent press(QEvent::KeyPress, key, held, digit);
    QApplication::sendEvent(edit.get(), &press);
    QKeyEvent release(QEvent::KeyRelease, key, held, digit);
    QApplication::sendEvent(edit.get(), &release);
  }
  QKeyEvent alt(QEvent::KeyRelease, Qt::Key_Alt, Qt::AltModifier);
  QApplication::sendEvent(edit.get(), &alt);
  std::vector<char16_t> typed;
  for (const auto& p : processed)
    if (p.first == ecChar)
      typed.push_back(p.second);
  EXPECT_EQ(typed, (std::vector<char16_t>{u'\u2580'})) << "and the digits themselves type nothing";
}

TEST_F(InputFixture, TabMovesTheFocusOnAndReturnGoesToTheWindowUnlessWanted) {
  TCodeEdit* owned = inWindow();
  QTest::keyClick(owned, Qt::Key_Tab);
  EXPECT_TRUE(QTest::qWaitFor([&] { return sibling->hasFocus(); }, 5000));

  owned->SetWantTabs(true);
  owned->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return owned->hasFocus(); }, 5000));
  QTest::keyClick(owned, Qt::Key_Tab);
  EXPECT_TRUE(owned->hasFocus());

  QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
  QApplication::sendEvent(owned, &press);
  EXPECT_TRUE(press.isAccepted());
  owned->SetWantReturns(false);
  QKeyEvent again(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
  QApplication::sendEvent(owned, &again);
  EXPECT_FALSE(again.isAccepted());
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
  QApplication::sendEvent(owned, &escape);
  EXPECT_FALSE(escape.isAccepted());
}

TEST_F(InputFixture, FocusChangesBecomeCommands) {
  inWindow();
  sibling->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return sibling->hasFocus(); }, 5000));
  EXPECT_TRUE(processedCommand(ecFocusEnter));
  EXPECT_TRUE(processedCommand(ecFocusExit));
}

TEST_F(InputFixture, AnInputMethodCommitIsOneCommandWithItsText) {
  std::u16string text;
  edit->Core().OnProcessCommand = [&](TCodeEditCore&, TCodeEditorCommand& c, char16_t&, void* data) {
    if (c == ecImeStr)
      text = static_cast<const char16_t*>(data);
  };
  QInputMethodEvent preedit(QStringLiteral("ni"), {});
  QApplication::sendEvent(edit.get(), &preedit);
  EXPECT_TRUE(text.empty()) << "composing is not committing";
  QInputMethodEvent commit;
  commit.setCommitString(QStringLiteral("\u4F60\u597D"));
  QApplication::sendEvent(edit.get(), &commit);
  EXPECT_EQ(text, u"\u4F60\u597D");
}

TEST_F(InputFixture, TheWheelScrollsByWholeNotches) {
  setLines(200);
  ASSERT_GT(core().FLinesInWindow, 6);
  core().SetTopLine(50);
  wheel(40);
  wheel(40);
  EXPECT_EQ(core().FTopLine, 50) << "two thirds of a notch scroll nothing yet";
  wheel(40);
  EXPECT_EQ(core().FTopLine, 47);
  wheel(-120);
  EXPECT_EQ(core().FTopLine, 50);
  wheel(-120, Qt::ControlModifier);
  EXPECT_EQ(core().FTopLine, 50 + core().FLinesInWindow);
  core().SetOptions(core().Options() | OptionBit(eoHalfPageScroll));
  wheel(120, Qt::ControlModifier);
  EXPECT_EQ(core().FTopLine, 50 + core().FLinesInWindow - core().FLinesInWindow / 2);
}

TEST_F(InputFixture, AClickInsideTheSelectionPlacesTheCaretOrStartsADrag) {
  setLines(5);
  int drags = 0;
  edit->OnStartDrag = [&](TCodeEdit&) { ++drags; };
  core().SetCaretAndSelection({10, 2}, {1, 2}, {10, 2});
  const QPoint inside = pointOf({4, 2});
  QTest::mousePress(view(), Qt::LeftButton, Qt::NoModifier, inside);
  EXPECT_TRUE(core().SelAvail()) << "the selection waits for a drag";
  QTest::mouseRelease(view(), Qt::LeftButton, Qt::NoModifier, inside);
  EXPECT_FALSE(core().SelAvail());
  EXPECT_EQ(core().CaretXY(), (TBufferCoord{4, 2}));
  EXPECT_EQ(drags, 0);

  core().SetCaretAndSelection({10, 2}, {1, 2}, {10, 2});
  QTest::mousePress(view(), Qt::LeftButton, Qt::NoModifier, inside);
  QMouseEvent move(QEvent::MouseMove, inside + QPoint(QApplication::startDragDistance(), 0),
                   view()->mapToGlobal(inside + QPoint(QApplication::startDragDistance(), 0)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view(), &move);
  EXPECT_EQ(drags, 1);
  QTest::mouseRelease(view(), Qt::LeftButton, Qt::NoModifier, inside);
  EXPECT_EQ(core().SelectedText(), u"line 2 of") << "a drag leaves the selection alone";
}

TEST_F(InputFixture, ShiftClickExtendsAndRightClickLeavesEverything) {
  setLines(5);
  QTest::mouseClick(view(), Qt::LeftButton, Qt::NoModifier, pointOf({3, 1}));
  EXPECT_EQ(core().CaretXY(), (TBufferCoord{3, 1}));
  QTest::mouseClick(view(), Qt::LeftButton, Qt::ShiftModifier, pointOf({5, 2}));
  EXPECT_EQ(core().BlockBeginSorted(), (TBufferCoord{3, 1}));
  EXPECT_EQ(core().BlockEndSorted(), (TBufferCoord{5, 2}));

  const TBufferCoord caret = core().CaretXY();
  QTest::mouseClick(view(), Qt::RightButton, Qt::NoModifier, pointOf({2, 4}));
  EXPECT_EQ(core().CaretXY(), caret);
  EXPECT_TRUE(core().SelAvail());

  core().SetOptions(core().Options() | OptionBit(eoRightMouseMovesCursor));
  QTest::mouseClick(view(), Qt::RightButton, Qt::NoModifier, pointOf({4, 1}));
  EXPECT_EQ(core().CaretXY(), caret) << "inside the selection it stays";
  QTest::mouseClick(view(), Qt::RightButton, Qt::NoModifier, pointOf({2, 4}));
  EXPECT_EQ(core().CaretXY(), (TBufferCoord{2, 4}));
  EXPECT_FALSE(core().SelAvail());
}

TEST_F(InputFixture, DraggingBelowTheWindowScrollsRowByRow) {
  setLines(200);
  QTest::mousePress(view(), Qt::LeftButton, Qt::NoModifier, pointOf({2, 2}));
  const QPoint below(60, core().FLinesInWindow * core().FLineHeight + 5);
  QMouseEvent move(QEvent::MouseMove, below, view()->mapToGlobal(below), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(view(), &move);
  EXPECT_TRUE(edit->AutoScrolling());
  EXPECT_EQ(edit->ScrollDeltaY(), 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return core().FTopLine > 2; }, 5000));
  EXPECT_TRUE(core().SelAvail());
  QTest::mouseRelease(view(), Qt::LeftButton, Qt::NoModifier, below);
  EXPECT_FALSE(edit->AutoScrolling());
}

TEST_F(InputFixture, GutterClicksReportTheLine) {
  setLines(5);
  std::vector<std::pair<Qt::MouseButton, int>> clicks;
  edit->OnGutterClick = [&](TCodeEdit&, Qt::MouseButton b, int, int, int line, TCodeEditMark*) {
    clicks.push_back({b, line});
  };
  ASSERT_GT(core().FGutterWidth, 4);
  // A right click reaches the gutter only when it may move the caret.
  core().SetOptions(core().Options() | OptionBit(eoRightMouseMovesCursor));
  const QPoint gutter(2, core().FLineHeight * 2 + 3);
  QTest::mousePress(view(), Qt::LeftButton, Qt::NoModifier, gutter);
  EXPECT_TRUE(clicks.empty()) << "the left button reports on release";
  QTest::mouseRelease(view(), Qt::LeftButton, Qt::NoModifier, gutter);
  QTest::mousePress(view(), Qt::RightButton, Qt::NoModifier, gutter);
  EXPECT_EQ(clicks, (std::vector<std::pair<Qt::MouseButton, int>>{{Qt::LeftButton, 3}, {Qt::RightButton, 3}}));
  QTest::mouseRelease(view(), Qt::RightButton, Qt::NoModifier, gutter);
  EXPECT_EQ(clicks.size(), 2u);
}

TEST_F(InputFixture, ScrollBarStepsMoveTheTopLineAndTheHintSaysWhere) {
  setLines(200);
  QScrollBar* bar = edit->verticalScrollBar();
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(core().FTopLine, 2);
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(core().FTopLine, 2 + core().FLinesInWindow);
  bar->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(core().FTopLine, 1);
  EXPECT_EQ(edit->ScrollHintText(), QStringLiteral("Top Line: 1"));
  edit->SetScrollHintFormat(shfTopToBottom);
  EXPECT_EQ(edit->ScrollHintText(), QStringLiteral("1 - %1").arg(1 + core().FLinesInWindow));
}
