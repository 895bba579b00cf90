#include "unicode/qt/UniStdCtrls.h"

#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

#include "unicode/qt/UniControls.h"
#include "unicode/qt/UniForms.h"
#include "unicode/qt/UniGraphics.h"
#include "unicode/qt/UniMenus.h"
#include "tests/app/Screenshot.h"

namespace {

using namespace uni;

constexpr auto kZhe = static_cast<Qt::Key>(0x0416);  // Cyrillic Ж

// A window with a line edit holding the focus, so that hotkeys are typed
// elsewhere than in the control they address, as a user types them.
class HotkeyWindow {
 public:
  HotkeyWindow() : FLayout(new QVBoxLayout(&FWindow)), FFocus(new QLineEdit) {
    FLayout->addWidget(FFocus);
  }
  template <class T>
  T* add(T* Control) {
    FLayout->addWidget(Control);
    return Control;
  }
  void show() {
    FWindow.show();
    FWindow.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&FWindow));
    FFocus->setFocus();
    ASSERT_TRUE(FFocus->hasFocus());
  }
  // Alt with a key and the character the keyboard layout gives it.
  void alt(Qt::Key Key, const QString& Text, Qt::KeyboardModifiers Extra = Qt::NoModifier) {
    QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Key, Text, Qt::AltModifier | Extra);
  }
  QLineEdit* focus() const { return FFocus; }

 private:
  QWidget FWindow;
  QVBoxLayout* FLayout;
  QLineEdit* FFocus;
};

TEST(UniStdCtrls, ButtonHotkeyIsTheTypedCharacterInEitherCase) {
  HotkeyWindow window;
  auto* zhe = window.add(new TUniButton(QStringLiteral("&Ж")));
  auto* ab = window.add(new TUniButton(QStringLiteral("&a&b")));
  window.show();
  QSignalSpy zheClicks(zhe, &QPushButton::clicked);
  QSignalSpy abClicks(ab, &QPushButton::clicked);

  window.alt(kZhe, QStringLiteral("ж"));
  EXPECT_EQ(zheClicks.count(), 1);
  window.alt(kZhe, QStringLiteral("Ж"), Qt::ShiftModifier);
  EXPECT_EQ(zheClicks.count(), 2);
  window.alt(Qt::Key_A, QStringLiteral("a"));
  EXPECT_EQ(zheClicks.count(), 2);
  EXPECT_EQ(abClicks.count(), 0);
  window.alt(Qt::Key_B, QStringLiteral("b"));
  EXPECT_EQ(abClicks.count(), 1);
  // Qt underlines what the caption means.
  EXPECT_EQ(ab->text(), QStringLiteral("a&b"));
  EXPECT_EQ(ab->caption(), QStringLiteral("&a&b"));

  // A disabled button takes no hotkey.
  zhe->setEnabled(false);
  window.alt(kZhe, QStringLiteral("ж"));
  EXPECT_EQ(zheClicks.count(), 2);
}

TEST(UniStdCtrls, LabelHotkeyFocusesItsBuddyCheckBoxTogglesRadioTakesFocus) {
  HotkeyWindow window;
  auto* label = window.add(new TUniLabel(QStringLiteral("&Name")));
  auto* buddy = window.add(new QLineEdit);
  label->setBuddy(buddy);
  auto* check = window.add(new TUniCheckBox(QStringLiteral("&Check")));
  auto* radio = window.add(new TUniRadioButton(QStringLiteral("&Radio")));
  window.show();

  window.alt(Qt::Key_N, QStringLiteral("n"));
  EXPECT_TRUE(buddy->hasFocus());

  window.alt(Qt::Key_C, QStringLiteral("c"));
  EXPECT_TRUE(check->hasFocus());
  EXPECT_TRUE(check->isChecked());
  window.alt(Qt::Key_C, QStringLiteral("c"));
  EXPECT_FALSE(check->isChecked());

  window.alt(Qt::Key_R, QStringLiteral("r"));
  EXPECT_TRUE(radio->hasFocus());

  // Without ShowAccelChar the label has no hotkey.
  label->setShowAccelChar(false);
  window.focus()->setFocus();
  window.alt(Qt::Key_N, QStringLiteral("n"));
  EXPECT_FALSE(buddy->hasFocus());
}

class RecordingEdit : public TUniEdit {
 public:
  QString Seen;

 protected:
  void keyPressEvent(QKeyEvent* Event) override {
    Seen += Event->text();
    TUniEdit::keyPressEvent(Event);
  }
};

TEST(UniStdCtrls, EditHoldsWideTextAndTypedCharacters) {
  TUniEdit edit;
  QSignalSpy changed(&edit, &QLineEdit::textChanged);
  const QString text = QString::fromUtf16(u"Ж𝄞é");
  edit.setText(text);
  edit.setText(text);
  EXPECT_EQ(edit.text(), text);
  EXPECT_EQ(UniControlGetText(&edit), text);
  EXPECT_EQ(changed.count(), 1);

  RecordingEdit typed;
  typed.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&typed));
  QTest::sendKeyEvent(QTest::Click, &typed, kZhe, QStringLiteral("Ж"), Qt::NoModifier);
  EXPECT_EQ(typed.text(), QStringLiteral("Ж"));
  ASSERT_EQ(typed.Seen.size(), 1);
  EXPECT_EQ(typed.Seen[0].unicode(), 0x0416);
}

TEST(UniStdCtrls, EditSelectionCountsUtf16Units) {
  TUniEdit edit;
  edit.setText(QString::fromUtf16(u"a𝄞b"));
  edit.setSelStart(1);
  EXPECT_EQ(edit.selStart(), 1);
  EXPECT_EQ(edit.selLength(), 0);
  edit.setSelLength(2);
  EXPECT_EQ(edit.selText(), QString::fromUtf16(u"𝄞"));
  EXPECT_EQ(edit.selStart(), 1);
  EXPECT_EQ(edit.selLength(), 2);
  edit.setSelStart(3);
  EXPECT_EQ(edit.selLength(), 0);
  EXPECT_EQ(edit.selText(), QString());
}

TEST(UniStdCtrls, LabelShortensAWrappedTextToItsHeight) {
  TUniLabel label(QStringLiteral("first second third fourth fifth sixth seventh"));
  label.setWordWrap(true);
  label.setAutoSize(false);
  label.setEllipsisPosition(TEllipsisPosition::End);
  label.setContentsMargins(0, 0, 0, 0);
  const QFontMetrics metrics(label.font());
  label.resize(metrics.horizontalAdvance(QStringLiteral("first second third")), metrics.height());
  const TUniLabel::TDrawing drawing = label.drawing();
  EXPECT_TRUE(drawing.Draw);
  EXPECT_TRUE(drawing.Text.endsWith(QStringLiteral("...")));
  EXPECT_TRUE(drawing.Text.startsWith(QStringLiteral("first")));
  EXPECT_LT(drawing.Text.size(), label.caption().size());
  EXPECT_TRUE(drawing.Format & DT_END_ELLIPSIS);

  // With AutoSize the label grows instead.
  label.setAutoSize(true);
  EXPECT_EQ(label.drawing().Text, label.caption());
}

TEST(UniStdCtrls, EmptyOrLoneMarkerLabelIsOneLineHigh) {
  const TUniLabel line(QStringLiteral("A"));
  const int oneLine = line.sizeHint().height();
  EXPECT_GT(oneLine, 0);
  for (const QString& caption : {QString(), QStringLiteral("&")}) {
    SCOPED_TRACE(caption.toStdString());
    const TUniLabel label(caption);
    EXPECT_EQ(label.sizeHint().height(), oneLine);
  }
}

int pixelsOf(const QImage& Image, QRgb Colour) {
  int found = 0;
  for (int y = 0; y < Image.height(); ++y)
    for (int x = 0; x < Image.width(); ++x)
      if ((Image.pixel(x, y) & 0xFFFFFF) == (Colour & 0xFFFFFF))
        ++found;
  return found;
}

TEST(UniStdCtrls, DisabledLabelIsEmbossed) {
  const std::vector<TLabelPass> disabled = LabelPasses(false);
  ASSERT_EQ(disabled.size(), 2u);
  EXPECT_EQ(disabled[0].Offset, QPoint(1, 1));
  EXPECT_EQ(disabled[0].Role, QPalette::Light);
  EXPECT_EQ(disabled[1].Offset, QPoint(0, 0));
  EXPECT_EQ(disabled[1].Role, QPalette::Dark);

  TUniLabel label(QStringLiteral("WWW"));
  QFont big = label.font();
  big.setPixelSize(24);
  label.setFont(big);
  label.resize(label.sizeHint());
  const QRgb light = label.palette().color(QPalette::Disabled, QPalette::Light).rgb();
  ASSERT_NE(light, label.palette().color(QPalette::Disabled, QPalette::Window).rgb());
  EXPECT_EQ(pixelsOf(label.grab().toImage(), light), 0);
  label.setEnabled(false);
  // The highlight copy shows beside the shadow text.
  EXPECT_GT(pixelsOf(label.grab().toImage(), light), 0);
}

}  // namespace

namespace {

using namespace uni;

TEST(UniStdCtrls, DialogWithEveryControlLaysOutItsCaptions) {
  TUniForm form;
  form.setCaption(QString::fromUtf16(u"Параметры 𝄞"));
  auto* layout = new QVBoxLayout(&form);
  auto* label = new TUniLabel(QString::fromUtf16(u"&Имя ключа:"));
  auto* edit = new TUniEdit;
  edit->setText(QString::fromUtf16(u"Ж𝄞é & more"));
  label->setBuddy(edit);
  auto* disabled = new TUniLabel(QStringLiteral("Disabled && embossed"));
  disabled->setEnabled(false);
  auto* shortened = new TUniLabel(
      QStringLiteral("A long label that wraps and is shortened with an ellipsis at its end"));
  shortened->setWordWrap(true);
  shortened->setAutoSize(false);
  shortened->setEllipsisPosition(TEllipsisPosition::End);
  auto* check = new TUniCheckBox(QString::fromUtf16(u"&Проверка"));
  auto* radio = new TUniRadioButton(QStringLiteral("&Radio && more"));
  auto* button = new TUniButton(QStringLiteral("&a&b"));
  for (QWidget* control : std::initializer_list<QWidget*>{label, edit, disabled, shortened, check, radio, button})
    layout->addWidget(control);
  form.resize(260, 0);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  shortened->setFixedHeight(QFontMetrics(shortened->font()).height());
  QApplication::processEvents();
  EXPECT_EQ(form.windowTitle(), QString::fromUtf16(u"Параметры 𝄞"));
  EXPECT_TRUE(shortened->drawing().Text.endsWith(QStringLiteral("...")));
  EXPECT_GE(label->height(), QFontMetrics(label->font()).height());
  saveScreenshot(form, "uniControls");

  TUniPopupMenu menu(&form);
  menu.addItem(QStringLiteral("&Caption"), scCtrl | 'A');
  menu.addItem(QStringLiteral("&Refresh"), 0x74);
  menu.addItem(QString::fromUtf16(u"&Удалить"), 0x2E);
  menu.popup(form.mapToGlobal(QPoint(0, 0)));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
  saveScreenshot(menu, "uniPopupMenu");
  menu.close();
}

}  // namespace
