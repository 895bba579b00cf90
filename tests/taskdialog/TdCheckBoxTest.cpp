#include "taskdialog/TdCheckBox.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "tests/app/Screenshot.h"
#include "tests/taskdialog/TaskDialogTesting.h"

namespace {

TEST(TdCheckBox, BoxAndCaptionRectangles) {
  const QSize client(97, 17), box(13, 13);
  EXPECT_EQ(TdCheckBoxBoxRect(client, box, false), QRect(0, 2, 13, 13));
  EXPECT_EQ(TdCheckBoxBoxRect(client, box, true), QRect(84, 2, 13, 13));
  // A box taller than the client still starts 1 pixel down.
  EXPECT_EQ(TdCheckBoxBoxRect(QSize(97, 10), box, false).top(), 1);
  EXPECT_EQ(TdCheckBoxCaptionRect(client, box, false), QRect(QPoint(17, 1), QPoint(96, 16)));
  EXPECT_EQ(TdCheckBoxCaptionRect(client, box, true), QRect(QPoint(2, 1), QPoint(82, 16)));
}

struct CheckWindow : ControlWindow<TTdCheckBox> {
  CheckWindow() : box(control) {
    box->setCaption(QStringLiteral("&Do not ask again"));
    box->setMinimumWidth(160);
    show();
  }
  TTdCheckBox* box;
};

TEST(TdCheckBox, LeftClickOnCaptionTogglesRightClickOnlyClicks) {
  CheckWindow w;
  QSignalSpy clicks(w.box, &TTdCheckBox::clicked);
  const QPoint onCaption = w.box->captionRect().center();
  QTest::mouseClick(w.box, Qt::LeftButton, {}, onCaption);
  EXPECT_TRUE(w.box->checked());
  EXPECT_EQ(clicks.count(), 1);
  saveScreenshot(w.window, "TdCheckBoxChecked");

  QTest::mouseClick(w.box, Qt::RightButton, {}, onCaption);
  EXPECT_TRUE(w.box->checked());
  EXPECT_EQ(clicks.count(), 2);

  QTest::mouseClick(w.box, Qt::LeftButton, {}, w.box->boxRect().center());
  EXPECT_FALSE(w.box->checked());

  w.box->setEnabled(false);
  QTest::mouseClick(w.box, Qt::LeftButton, {}, onCaption);
  EXPECT_FALSE(w.box->checked());
}

TEST(TdCheckBox, HotkeyFocusesAndToggles) {
  CheckWindow w;
  w.alt(Qt::Key_D, QStringLiteral("d"));
  EXPECT_TRUE(w.box->hasFocus());
  EXPECT_TRUE(w.box->checked());
  saveScreenshot(w.window, "TdCheckBoxFocused");
}

}  // namespace
