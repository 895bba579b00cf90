// The message-box entry points: what dialog each builds (through a dialog
// class that records instead of showing), and real drawn boxes answered by
// keys and clicks.

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

#include "taskdialog/TdDialogForm.h"
#include "taskdialog/TdMessageDlg.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"
#include "unicode/qt/UniStdCtrls.h"

namespace {

struct Built {
  QString title;
  TTaskDialogIcon icon = tdiNone;
  QStringList content;
  TCommonButtons buttons = 0;
  std::optional<TCommonButton> defaultButton, cancelButton;
  TDialogPosition position = dpScreenCenter;
  int left = -1, top = -1;
  QString instruction;
  QStringList details;
  bool expandoVisible = false, inFooter = false, expanded = false;
  QString showText, hideText;
};

// Records the dialog it would show and answers 6.
class RecordedDialog : public TTdDialog {
 public:
  explicit RecordedDialog(QObject* Owner, std::optional<Built>& Into) : TTdDialog(Owner), FInto(Into) {}
  int Execute() override {
    Built b;
    b.title = title();
    b.icon = mainIcon();
    b.content = content();
    b.buttons = ButtonBar.buttons();
    // A default or cancel button that is not among the buttons is none.
    if (ButtonBar.useDefault() && hasButton(b.buttons, ButtonBar.defaultButton()))
      b.defaultButton = ButtonBar.defaultButton();
    if (ButtonBar.useCancel() && hasButton(b.buttons, ButtonBar.cancelButton()))
      b.cancelButton = ButtonBar.cancelButton();
    b.position = Position;
    b.left = Location.Left;
    b.top = Location.Top;
    b.instruction = Instruction.text();
    b.details = Expando.lines();
    b.expandoVisible = Expando.visible();
    b.inFooter = Expando.showInFooter();
    b.expanded = Expando.showing();
    b.showText = Expando.showText();
    b.hideText = Expando.hideText();
    FInto = b;
    return mrYes;
  }

 private:
  std::optional<Built>& FInto;
};

class TdMessageDlgBuilds : public ::testing::Test {
 protected:
  void SetUp() override {
    DefaultDialogClass = [this](QObject* Owner) { return std::make_unique<RecordedDialog>(Owner, built); };
  }
  void TearDown() override { DefaultDialogClass = nullptr; }
  std::optional<Built> built;
};

constexpr TCommonButtons kYesNo = buttonBit(cbYes) | buttonBit(cbNo);

TEST_F(TdMessageDlgBuilds, MessageBoxesTakeTitleIconAndDefaultAndCancelButtons) {
  struct Case {
    const char* name;
    TTdMessageType type;
    TCommonButtons buttons;
    const char* title;
    TTaskDialogIcon icon;
    TCommonButtons shown;
    std::optional<TCommonButton> defaultButton, cancelButton;
  } cases[] = {
      {"question", jmConfirmation, kYesNo, "Confirmation", tdiConfirmation, kYesNo, cbYes, cbNo},
      {"information", jmInformation, buttonBit(cbOK), "Information", tdiInformation, buttonBit(cbOK), cbOK, cbOK},
      {"error", jmError, buttonBit(cbOK), "Error", tdiError, buttonBit(cbOK), cbOK, cbOK},
      {"warning", jmWarning, buttonBit(cbOK), "Warning", tdiWarning, buttonBit(cbOK), cbOK, cbOK},
      {"four buttons", jmConfirmation, 771, "Confirmation", tdiConfirmation, 771, cbYes, cbNo},
      {"close is dropped", jmInformation, buttonBit(cbOK) | buttonBit(cbClose), "Information", tdiInformation,
       buttonBit(cbOK), cbOK, cbOK},
      {"retry and cancel", jmError, buttonBit(cbRetry) | buttonBit(cbCancel), "Error", tdiError,
       buttonBit(cbRetry) | buttonBit(cbCancel), cbRetry, cbCancel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    built.reset();
    EXPECT_EQ(TdMessageDlg(QStringLiteral("first\r\nsecond\nthird"), c.type, c.buttons, 0), mrYes);
    ASSERT_TRUE(built);
    EXPECT_EQ(built->title, QString::fromLatin1(c.title));
    EXPECT_EQ(built->icon, c.icon);
    EXPECT_EQ(built->content, QStringList({"first", "second", "third"}));
    EXPECT_EQ(built->buttons, c.shown);
    EXPECT_EQ(built->defaultButton, c.defaultButton);
    EXPECT_EQ(built->cancelButton, c.cancelButton);
    EXPECT_EQ(built->position, dpScreenCenter);
  }
}

TEST_F(TdMessageDlgBuilds, ShowMessageIsAnOkBoxNamedAfterTheProgram) {
  TdShowMessage(QStringLiteral("German: Hans Muster"));
  ASSERT_TRUE(built);
  EXPECT_EQ(built->title, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
  EXPECT_EQ(built->icon, tdiCustom);
  EXPECT_EQ(built->buttons, buttonBit(cbOK));
  EXPECT_EQ(built->defaultButton, cbOK);
  EXPECT_EQ(built->cancelButton, cbOK);
}

TEST_F(TdMessageDlgBuilds, APositionIsTakenOnlyWhenNeitherCoordinateIsMinusOne) {
  struct Case {
    int x, y;
    TDialogPosition position;
  } cases[] = {{-1, 200, dpScreenCenter}, {30, -1, dpScreenCenter}, {30, 200, dpDesigned}, {0, 0, dpDesigned}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
    built.reset();
    TdMessageDlgPos(QStringLiteral("text"), jmInformation, buttonBit(cbOK), 0, c.x, c.y);
    ASSERT_TRUE(built);
    EXPECT_EQ(built->position, c.position);
    if (c.position == dpDesigned) {
      EXPECT_EQ(built->left, c.x);
      EXPECT_EQ(built->top, c.y);
    }
  }
}

TEST_F(TdMessageDlgBuilds, TaskMessagesKeepTheDialogsOwnDefaultAndCancel) {
  TdTaskMessageDlg(QStringLiteral("Hivescope"), QStringLiteral("Delete this key?"), QStringLiteral("The key"),
                   QStringLiteral("My Computer\\HKEY_CURRENT_USER\\X"), QStringLiteral("&Show Location"),
                   QStringLiteral("&Hide Location"), tdiConfirmation, kYesNo, 0, true, false);
  ASSERT_TRUE(built);
  EXPECT_EQ(built->title, QStringLiteral("Hivescope"));
  EXPECT_EQ(built->instruction, QStringLiteral("Delete this key?"));
  EXPECT_EQ(built->content, QStringList({"The key"}));
  EXPECT_EQ(built->details, QStringList({"My Computer\\HKEY_CURRENT_USER\\X"}));
  EXPECT_EQ(built->buttons, kYesNo);
  EXPECT_EQ(built->defaultButton, std::nullopt) << "neither default";
  EXPECT_EQ(built->cancelButton, std::nullopt) << "nor cancel button";
  EXPECT_TRUE(built->expandoVisible);
  EXPECT_TRUE(built->inFooter);
  EXPECT_FALSE(built->expanded);
  EXPECT_EQ(built->showText, QStringLiteral("&Show Location"));
  EXPECT_EQ(built->hideText, QStringLiteral("&Hide Location"));

  // Untitled dialogs take the icon's title.
  struct Case {
    TTaskDialogIcon icon;
    const char* title;
  } cases[] = {{tdiShield, "Warning"},    {tdiWarning, "Warning"}, {tdiError, "Error"},
               {tdiInformation, "Information"}, {tdiCustom, ""}, {tdiNone, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.icon);
    TdTaskMessageDlg({}, {}, {}, {}, {}, {}, c.icon, buttonBit(cbOK), 0, false, false);
    EXPECT_EQ(built->title, QString::fromLatin1(c.title));
  }
}

// --- Real boxes -----------------------------------------------------------------

QWidget* keyTarget(QDialog& Dialog) { return Dialog.focusWidget() ? Dialog.focusWidget() : &Dialog; }

TEST(TdMessageDlgShown, AYesNoBoxAnswersByKeyClickAndClose) {
  struct Case {
    const char* name;
    std::function<void(TTdTaskDialogForm&)> act;
    int result;
  } cases[] = {
      {"Enter", [](TTdTaskDialogForm& f) { QTest::keyClick(keyTarget(f), Qt::Key_Return); }, mrYes},
      {"Esc", [](TTdTaskDialogForm& f) { QTest::keyClick(keyTarget(f), Qt::Key_Escape); }, mrNo},
      {"click on No", [](TTdTaskDialogForm& f) { f.findChild<QPushButton*>(QStringLiteral("bNo"))->click(); }, mrNo},
      {"closed", [](TTdTaskDialogForm& f) { f.close(); }, mrCancel},
      {"Enter on the focused No",
       [](TTdTaskDialogForm& f) {
         f.findChild<QPushButton*>(QStringLiteral("bNo"))->setFocus();
         QTest::keyClick(keyTarget(f), Qt::Key_Enter, Qt::KeypadModifier);
       },
       mrNo},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    onNextModalWindow([&](QDialog& dialog) {
      auto* form = qobject_cast<TTdTaskDialogForm*>(&dialog);
      ASSERT_NE(form, nullptr);
      EXPECT_EQ(form->windowTitle(), QStringLiteral("Confirmation"));
      EXPECT_EQ(form->size(), QSize(form->dialog()->FClientWidth, form->dialog()->FClientHeight));
      EXPECT_EQ(form->focusWidget(), form->findChild<QPushButton*>(QStringLiteral("bYes")));
      if (c.result == mrYes)
        saveScreenshot(*form, "taskdialog-yes-no");
      c.act(*form);
    });
    EXPECT_EQ(TdMessageDlg(QStringLiteral("Do you want to go on?"), jmConfirmation, kYesNo, 0), c.result);
  }
}

TEST(TdMessageDlgShown, APlacedBoxStandsWhereItWasPut) {
  QPoint placed;
  onNextModalWindow([&](QDialog& dialog) {
    placed = dialog.pos();
    dialog.close();
  });
  EXPECT_EQ(TdMessageDlgPos(QStringLiteral("text"), jmInformation, buttonBit(cbOK), 0, 30, 200), mrCancel);
  EXPECT_EQ(placed, QPoint(30, 200));
}

TEST(TdMessageDlgShown, TheWindowTitleKeepsEveryCharacter) {
  const QString title = QStringLiteral("Ключ𝄞 – 鍵");
  QString shown;
  onNextModalWindow([&](QDialog& dialog) {
    shown = dialog.windowTitle();
    dialog.close();
  });
  TdTaskMessageDlg(title, {}, QStringLiteral("text"), {}, {}, {}, tdiInformation, buttonBit(cbOK), 0, false, false);
  EXPECT_EQ(shown, title);
}

TEST(TdMessageDlgShown, FourButtonsReturnTheirOwnResults) {
  const std::pair<const char*, int> buttons[] = {{"bYes", mrYes}, {"bNo", mrNo}, {"bNoToAll", mrNoToAll},
                                                 {"bYesToAll", mrYesToAll}};
  for (const auto& [name, result] : buttons) {
    SCOPED_TRACE(name);
    onNextModalWindow([name = name](QDialog& dialog) {
      QStringList names;
      for (auto* button : dialog.findChildren<uni::TUniButton*>())
        names << button->objectName();
      EXPECT_EQ(names, QStringList({"bYes", "bNo", "bNoToAll", "bYesToAll"}));
      if (std::string_view(name) == "bYes")
        saveScreenshot(dialog, "taskdialog-four-buttons");
      dialog.findChild<QPushButton*>(QString::fromLatin1(name))->click();
    });
    EXPECT_EQ(TdMessageDlg(QStringLiteral("Delete the 3 selected values?"), jmConfirmation, 771, 0), result);
  }
}

TEST(TdMessageDlgShown, OkBoxesOfEveryKind) {
  struct Case {
    TTdMessageType type;
    const char* screenshot;
    const char* text;
  } cases[] = {
      {jmError, "taskdialog-error", "The key could not be opened.\nAccess is denied."},
      {jmInformation, "taskdialog-information", "3 values were imported."},
      {jmWarning, "taskdialog-warning", "The hive is read-only."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.screenshot);
    onNextModalWindow([&](QDialog& dialog) {
      saveScreenshot(dialog, c.screenshot);
      QTest::keyClick(keyTarget(dialog), Qt::Key_Escape);
    });
    EXPECT_EQ(TdMessageDlg(QString::fromUtf8(c.text), c.type, buttonBit(cbOK), 0), mrOk) << "Esc presses OK";
  }
  onNextModalWindow([](QDialog& dialog) {
    saveScreenshot(dialog, "taskdialog-shield");
    dialog.close();
  });
  TdTaskMessageDlg({}, QStringLiteral("Administrator rights"), QStringLiteral("The hive belongs to the system."), {},
                   {}, {}, tdiShield, buttonBit(cbOK), 0, false, false);
  onNextModalWindow([](QDialog& dialog) {
    saveScreenshot(dialog, "taskdialog-about-translations");
    QTest::keyClick(keyTarget(dialog), Qt::Key_Return);
  });
  EXPECT_EQ(TdShowMessage(QStringLiteral("German: Hans Muster\nFrench: Jean Dupont\n")), mrOk);
}

}  // namespace
