// The exception dialog with this program's settings: its buttons, keys and
// the actions it hands to its owner.

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

#include "crashreport/qt/zebDetailsView.h"
#include "crashreport/qt/zebExceptDialog.h"
#include "tests/app/Screenshot.h"
#include "tests/crashreportqt/CrashUiFixture.h"
#include "tests/support/Waiting.h"

using namespace zeb;
using crashuitest::ProgramFacts;
using crashuitest::SampleReport;

namespace {

// Answers every action as a failing process without handlers would.
struct Owner {
  std::vector<int> actions;
  bool handled = false;
  void Attach(TExceptionBox& box) {
    QObject::connect(&box, &TExceptionBox::actionRequested, &box, [this, &box](int code) {
      actions.push_back(code);
      box.FinishAction(code, handled);
    });
  }
};

DialogInput FullBox() {
  DialogInput input;
  input.facts = ProgramFacts();
  return input;
}

}  // namespace

TEST(zebExceptDialog, ThisProgramsButtonsAndFocus) {
  TExceptionBox box(FullBox());
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box, 10000));
  saveScreenshot(box, "exception-dialog");
  TExceptButton* send = box.Button(kSendButton);
  TExceptButton* show = box.Button(kShowButton);
  TExceptButton* cont = box.Button(kContinueButton);
  TExceptButton* restart = box.Button(kRestartButton);
  TExceptButton* close = box.Button(kCloseButton);
  ASSERT_TRUE(send && show && cont && restart && close);
  EXPECT_EQ(box.Button(kSaveButton), nullptr);
  EXPECT_EQ(box.Button(kPrintButton), nullptr);
  EXPECT_EQ(send->text(), "send bug report");
  EXPECT_EQ(close->text(), "close application");
  // Send and show at the left of the bottom row; the others stacked at the right.
  EXPECT_LT(send->x(), show->x());
  EXPECT_EQ(send->y(), show->y());
  EXPECT_EQ(close->y(), send->y());
  EXPECT_LT(cont->y(), restart->y());
  EXPECT_LT(restart->y(), close->y());
  EXPECT_EQ(cont->x(), close->x());
  EXPECT_GT(cont->x(), show->geometry().right());
  EXPECT_LE(close->geometry().right(), box.width());
  EXPECT_TRUE(send->hasFocus() || QApplication::focusWidget() == send);
  EXPECT_TRUE(send->isDefault());
  EXPECT_EQ(box.DetailsView(), nullptr);

  // Enter sends the report; the dialog stays open.
  Owner owner;
  owner.Attach(box);
  QTest::keyClick(&box, Qt::Key_Return);
  EXPECT_EQ(owner.actions, std::vector<int>{kActionSend});
  EXPECT_TRUE(box.isVisible());
  // A close request from the window system does nothing.
  QCloseEvent request;
  QApplication::sendEvent(&box, &request);
  EXPECT_FALSE(request.isAccepted());
  EXPECT_TRUE(box.isVisible());
  // Escape continues.
  QTest::keyClick(&box, Qt::Key_Escape);
  EXPECT_EQ(owner.actions.back(), kActionContinue);
  EXPECT_FALSE(box.isVisible());
  EXPECT_EQ(box.EndingAction(), kActionContinue);
}

TEST(zebExceptDialog, HandledCloseKeepsTheDialog) {
  TExceptionBox box(FullBox());
  box.show();
  Owner owner;
  owner.handled = true;
  owner.Attach(box);
  box.RunButton(kCloseButton);
  box.RunButton(kRestartButton);
  EXPECT_EQ(owner.actions, (std::vector<int>{kActionClose, kActionRestart}));
  EXPECT_TRUE(box.isVisible());
  owner.handled = false;
  box.RunButton(kRestartButton);
  EXPECT_FALSE(box.isVisible());
  EXPECT_EQ(box.EndingAction(), kActionRestart);
}

TEST(zebExceptDialog, CannotContinueDisablesContinueAndEscapeCloses) {
  DialogInput input = FullBox();
  input.facts.canContinue = false;
  TExceptionBox box(input);
  box.show();
  EXPECT_FALSE(box.Button(kContinueButton)->isEnabled());
  Owner owner;
  owner.Attach(box);
  QTest::keyClick(&box, Qt::Key_Escape);
  EXPECT_EQ(owner.actions, std::vector<int>{kActionClose});
}

TEST(zebExceptDialog, ShowEndsForTheLargerDialogWithTheReport) {
  TExceptionBox box(FullBox());
  box.show();
  Owner owner;
  owner.Attach(box);
  box.RunButton(kShowButton);
  EXPECT_TRUE(box.ShowAgain());
  EXPECT_FALSE(box.isVisible());

  DialogInput again = FullBox();
  again.facts.settings.SetBool("AutoShowBugRep", true);
  TExceptionBox big(again, SampleReport(true));
  big.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&big, 10000));
  EXPECT_EQ(big.Button(kShowButton), nullptr);
  ASSERT_NE(big.DetailsView(), nullptr);
  EXPECT_GT(big.height(), box.height());
  EXPECT_NE(big.windowFlags() & Qt::WindowMaximizeButtonHint, Qt::WindowFlags());
  QStringList tabs;
  for (int k = 0; k < big.DetailsView()->count(); ++k) tabs << big.DetailsView()->tabText(k);
  EXPECT_EQ(tabs, (QStringList{"general", "call stacks", "modules", "processes", "hardware", "cpu regs", "stack dump",
                               "disasm"}));
  saveScreenshot(big, "exception-dialog-details");
  // Growing the window moves the right buttons and grows the tabs.
  const int oldX = big.Button(kCloseButton)->x();
  const int oldWidth = big.DetailsView()->width();
  big.resize(big.width() + 100, big.height() + 50);
  QApplication::processEvents();
  EXPECT_EQ(big.Button(kCloseButton)->x(), oldX + 100);
  EXPECT_EQ(big.DetailsView()->width(), oldWidth + 100);

  // Ctrl+C copies the report when it is shown, else the message.
  QTest::keySequence(&big, QKeySequence::Copy);
  EXPECT_TRUE(QGuiApplication::clipboard()->text().contains("exception message"));
  TExceptionBox small(FullBox());
  QTest::keySequence(&small, QKeySequence::Copy);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdString(ProgramFacts().message));
}

TEST(zebExceptDialog, SimpleBoxesOfferOkAndDetails) {
  DialogInput input = FullBox();
  input.facts.message = "Not a valid date.";
  input.simpleBox = true;
  input.withDetailsButton = true;
  TExceptionBox box(input);
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box, 10000));
  saveScreenshot(box, "exception-simple-box");
  EXPECT_EQ(box.windowTitle(), "crashprobe");
  ASSERT_NE(box.Button(kContinueButton), nullptr);
  EXPECT_EQ(box.Button(kContinueButton)->text(), "&OK");
  ASSERT_NE(box.Button(kShowButton), nullptr);
  EXPECT_EQ(box.Button(kSendButton), nullptr);
  Owner owner;
  owner.Attach(box);
  QTest::keyClick(&box, Qt::Key_Return);
  EXPECT_EQ(owner.actions, std::vector<int>{kActionContinue});
}

TEST(zebExceptDialog, CountdownRunsTheAutomaticAction) {
  DialogInput input = FullBox();
  input.facts.settings.SetBool("AutoContinue", true);
  input.facts.settings.SetInt("AutoDelay", 1);
  TExceptionBox box(input);
  Owner owner;
  owner.Attach(box);
  box.show();
  EXPECT_TRUE(box.CountdownRunning());
  ASSERT_TRUE(testsupport::waitUntil([&] {
    QApplication::processEvents();
    return !owner.actions.empty();
  }));
  EXPECT_EQ(owner.actions, std::vector<int>{kActionContinue});

  // A click elsewhere stops it.
  TExceptionBox second(input);
  Owner other;
  other.handled = true;
  other.Attach(second);
  second.show();
  second.RunButton(kSendButton);
  EXPECT_FALSE(second.CountdownRunning());
}
