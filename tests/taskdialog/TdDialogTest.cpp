// The drawn dialog shown: the key-deletion question by keys, the clipboard
// text, help, closing rules and click handlers.

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QKeySequence>
#include <QTest>

#include <gtest/gtest.h>

#include "taskdialog/TdDialogForm.h"
#include "taskdialog/TdGraphics.h"
#include "taskdialog/TdLabel.h"
#include "taskdialog/TdMessageDlg.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"

namespace {

const QString kKeyName = QStringLiteral("Ключ𝄞");
const QString kContent = QStringLiteral("Do you really want to delete this key (\"%1\")?").arg(kKeyName);
const QString kPath = QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software\\%1").arg(kKeyName);

// The key-deletion question as the main window asks it, `act` run on its
// window.
int askKeyDeletion(std::function<void(TTdTaskDialogForm&)> act) {
  onNextModalWindow([act = std::move(act)](QDialog& dialog) {
    auto* form = qobject_cast<TTdTaskDialogForm*>(&dialog);
    ASSERT_NE(form, nullptr);
    act(*form);
  });
  return TdTaskMessageDlg(QStringLiteral("Hivescope"), QStringLiteral("Delete this key?"), kContent, kPath,
                          QStringLiteral("&Show Location"), QStringLiteral("&Hide Location"), tdiConfirmation,
                          buttonBit(cbYes) | buttonBit(cbNo), 0, true, false);
}

QWidget* keyTarget(QDialog& Dialog) { return Dialog.focusWidget() ? Dialog.focusWidget() : &Dialog; }

void typeKey(QDialog& Dialog, Qt::Key Key, const QString& Text, Qt::KeyboardModifiers Modifiers) {
  QTest::sendKeyEvent(QTest::Click, keyTarget(Dialog), Key, Text, Modifiers);
}

QPushButton* button(QWidget& Form, const char* Name) {
  return Form.findChild<QPushButton*>(QString::fromLatin1(Name));
}

TEST(TdDialog, TheKeyDeletionQuestionHasNoDefaultAndNoCancelButton) {
  // Focus starts on Yes, so Enter deletes.
  EXPECT_EQ(askKeyDeletion([](TTdTaskDialogForm& form) {
              EXPECT_EQ(form.focusWidget(), button(form, "bYes"));
              QTest::keyClick(keyTarget(form), Qt::Key_Return);
            }),
            mrYes);

  // Esc does nothing at all.
  bool stayedOpen = false;
  EXPECT_EQ(askKeyDeletion([&](TTdTaskDialogForm& form) {
              QTest::keyClick(keyTarget(form), Qt::Key_Escape);
              QApplication::processEvents();
              stayedOpen = form.isVisible();
              button(form, "bNo")->click();
            }),
            mrNo);
  EXPECT_TRUE(stayedOpen);

  // The close box gives 2.
  EXPECT_EQ(askKeyDeletion([](TTdTaskDialogForm& form) { form.close(); }), mrCancel);
}

TEST(TdDialog, TheLocationLabelGrowsAndShrinksTheWindow) {
  QStringList captions;
  QList<int> heights;
  int detailsHeight = -1;
  askKeyDeletion([&](TTdTaskDialogForm& form) {
    auto* label = form.findChild<TTdMoreLabel*>();
    ASSERT_NE(label, nullptr);
    const QPoint corner = form.pos();
    saveScreenshot(form, "taskdialog-key-deletion");
    for (int i = 0; i < 3; ++i) {
      captions << label->caption();
      heights << form.height();
      // The label's access key: Alt+S shows the location, Alt+H hides it.
      if (i == 0)
        typeKey(form, Qt::Key_S, QStringLiteral("s"), Qt::AltModifier);
      else if (i == 1)
        typeKey(form, Qt::Key_H, QStringLiteral("h"), Qt::AltModifier);
      if (i == 0) {
        const TTdCustomDialog& d = *form.dialog();
        detailsHeight =
            MeasureCaptionHeight(kPath, d.FClientWidth - 2 * d.FEdgeMargin, d.Expando.font().Font, d.metrics());
        saveScreenshot(form, "taskdialog-key-deletion-expanded");
      }
    }
    EXPECT_EQ(form.pos(), corner) << "the window keeps its corner";
    EXPECT_EQ(form.size(), QSize(form.dialog()->FClientWidth, form.dialog()->FClientHeight));
    button(form, "bNo")->click();
  });
  EXPECT_EQ(captions, QStringList({"&Show Location", "&Hide Location", "&Show Location"}));
  ASSERT_EQ(heights.size(), 3);
  ASSERT_GT(detailsHeight, 0);
  EXPECT_EQ(heights[1], heights[0] + detailsHeight + 16);
  EXPECT_EQ(heights[2], heights[0]);
}

TEST(TdDialog, TabGoesFromYesToNoToTheLabel) {
  QStringList order;
  askKeyDeletion([&](TTdTaskDialogForm& form) {
    for (int i = 0; i < 3; ++i) {
      order << (form.focusWidget() ? form.focusWidget()->objectName() : QString());
      QTest::keyClick(keyTarget(form), Qt::Key_Tab);
    }
    button(form, "bNo")->click();
  });
  EXPECT_EQ(order, QStringList({"bYes", "bNo", "MoreLabel"}));
}

TEST(TdDialog, CtrlCCopiesTheDialogsTextAndOtherChordsDoNot) {
  const QString expected =
      QStringLiteral("[Window Title]\r\nHivescope\r\n\r\n"
                     "[Main Instruction]\r\nDelete this key?\r\n\r\n"
                     "[Content]\r\n%1\r\n\r\n\r\n"
                     "[V] Show Location  [Yes] [No] \r\n\r\n"
                     "\r\n[Expanded Information]\r\n%2\r\n\r\n\r\n")
          .arg(kContent, kPath);
  QStringList copies;
  askKeyDeletion([&](TTdTaskDialogForm& form) {
    const struct {
      Qt::KeyboardModifiers modifiers;
      QString text;
    } chords[] = {{Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("C")},
                  {Qt::AltModifier, QStringLiteral("c")},
                  {Qt::ControlModifier, QStringLiteral("\x03")}};
    for (const auto& chord : chords) {
      QApplication::clipboard()->setText(QStringLiteral("untouched"));
      typeKey(form, Qt::Key_C, chord.text, chord.modifiers);
      copies << QApplication::clipboard()->text();
    }
    // Also from another control than the first.
    button(form, "bNo")->setFocus();
    QApplication::clipboard()->setText(QStringLiteral("untouched"));
    typeKey(form, Qt::Key_C, QStringLiteral("\x03"), Qt::ControlModifier);
    copies << QApplication::clipboard()->text();
    EXPECT_TRUE(form.isVisible());
    button(form, "bNo")->click();
  });
  EXPECT_EQ(copies, QStringList({"untouched", "untouched", expected, expected}));
}

TEST(TdDialog, HelpDoesNotCloseAndGoesToTheHandlerOrTheApplication) {
  QList<int> helped;
  TdApplicationHelp = [&](int Context) { helped << Context; };
  for (const bool handler : {false, true}) {
    SCOPED_TRACE(handler);
    helped.clear();
    int handled = 0;
    TTdDialog dialog;
    dialog.ButtonBar.setButtons(buttonBit(cbOK) | buttonBit(cbHelp));
    dialog.HelpContext = 42;
    if (handler)
      dialog.OnHelpButtonClick = [&](TTdCustomDialog*, bool& Handled) {
        ++handled;
        Handled = true;
      };
    bool open = false;
    onNextModalWindow([&](QDialog& form) {
      button(form, "bHelp")->click();
      QApplication::processEvents();
      open = form.isVisible();
      form.close();
    });
    EXPECT_EQ(dialog.Execute(), mrCancel);
    EXPECT_TRUE(open);
    EXPECT_EQ(handled, handler ? 1 : 0);
    EXPECT_EQ(helped, handler ? QList<int>() : QList<int>({42}));
  }
  TdApplicationHelp = nullptr;
}

TEST(TdDialog, WithoutAllowCancelOnlyAButtonCloses) {
  TTdDialog dialog;
  dialog.AllowCancel = false;
  dialog.ButtonBar.setButtons(buttonBit(cbOK));
  dialog.ButtonBar.setUseCancel(false);
  bool closeBox = true, openAfterClose = false, openAfterAltF4 = false;
  onNextModalWindow([&](QDialog& form) {
    closeBox = form.windowFlags().testFlag(Qt::WindowCloseButtonHint);
    form.close();
    openAfterClose = form.isVisible();
    QTest::keyClick(keyTarget(form), Qt::Key_F4, Qt::AltModifier);
    openAfterAltF4 = form.isVisible();
    button(form, "bOK")->click();
  });
  EXPECT_EQ(dialog.Execute(), mrOk);
  EXPECT_FALSE(closeBox);
  EXPECT_TRUE(openAfterClose);
  EXPECT_TRUE(openAfterAltF4);
}

TEST(TdDialog, AHandledClickKeepsTheDialogOpenAndTheEventsComeInOrder) {
  TTdDialog dialog;
  dialog.ButtonBar.setButtons(buttonBit(cbYes) | buttonBit(cbNo));
  QStringList events;
  int clicks = 0;
  dialog.OnControlClick = [&](TTdCustomDialog*, TControlType Type, QWidget*, int Value, bool& Handled) {
    events << QStringLiteral("click %1 %2").arg(Type).arg(Value);
    Handled = ++clicks == 1;
  };
  dialog.OnCreated = [&](TTdCustomDialog*) { events << "created"; };
  dialog.OnDialogConstructed = [&](TTdCustomDialog*) { events << "constructed"; };
  dialog.OnDialogClose = [&](TTdCustomDialog* d) { events << QStringLiteral("close %1").arg(d->FModalResult); };
  dialog.OnCleanUpDialog = [&](TTdCustomDialog* d) {
    events << QStringLiteral("clean up %1").arg(d->commonButtons().size());
  };
  dialog.OnDestroyed = [&](TTdCustomDialog* d) { events << QStringLiteral("destroyed %1").arg(d->commonButtons().size()); };
  onNextModalWindow([&](QDialog& form) {
    button(form, "bNo")->click();
    QApplication::processEvents();
    events << (form.isVisible() ? "open" : "closed");
    button(form, "bNo")->click();
  });
  EXPECT_EQ(dialog.Execute(), mrNo);
  EXPECT_EQ(events, QStringList({"created", "constructed", "click 0 7", "open", "click 0 7", "close 7", "clean up 2",
                                 "destroyed 0"}));
  EXPECT_EQ(dialog.form(), nullptr);
}

TEST(TdDialog, DefaultFontsReachEveryLaterDialogThatKeepsUsingThem) {
  const TTdFont saved = GetDefaultDialogFont(1);
  TTdFont instruction = saved;
  instruction.Font.setPointSize(15);
  instruction.Color = Qt::darkRed;
  SetDefaultDialogFont(1, instruction);

  for (const bool ownFont : {false, true}) {
    SCOPED_TRACE(ownFont);
    TTdDialog dialog;
    TTdFont own = GetDefaultDialogFont(0);
    own.Font.setPointSize(13);
    if (ownFont)
      dialog.setFont(own);
    EXPECT_EQ(dialog.UseDefaultFonts, !ownFont);
    TTdFont shownInstruction, shownDialog;
    dialog.OnDialogConstructed = [&](TTdCustomDialog* d) {
      shownInstruction = d->Instruction.font();
      shownDialog = d->font();
    };
    onNextModalWindow([](QDialog& form) { form.close(); });
    dialog.Execute();
    if (ownFont) {
      EXPECT_EQ(shownDialog, own);
    } else {
      EXPECT_EQ(shownInstruction, instruction);
      EXPECT_EQ(shownDialog, GetDefaultDialogFont(0));
    }
  }
  SetDefaultDialogFont(1, saved);
}

TEST(TdDialog, AnotherControlClassIsTakenWhenItIsOfTheRightKind) {
  struct Case {
    const char* name;
    TTdControlClass buttonClass;
    const char* madeClass;
  } cases[] = {
      {"a plain push button", [](QWidget* Parent) -> QWidget* { return new QPushButton(Parent); }, "QPushButton"},
      {"no button at all", [](QWidget* Parent) -> QWidget* { return new QWidget(Parent); }, "uni::TUniButton"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTdDialog dialog;
    dialog.ButtonBar.setButtons(buttonBit(cbYes) | buttonBit(cbNo));
    dialog.OnGetControlClass = [&](TTdCustomDialog*, TControlType Type, TTdControlClass& Class) {
      if (Type == ctButton)
        Class = c.buttonClass;
    };
    QStringList made;
    onNextModalWindow([&](QDialog& form) {
      for (const char* name : {"bYes", "bNo"})
        if (QPushButton* b = button(form, name))
          made << QString::fromLatin1(b->metaObject()->className()) + u' ' + b->text();
      button(form, "bYes")->click();
    });
    EXPECT_EQ(dialog.Execute(), mrYes);
    const QString kind = QString::fromLatin1(c.madeClass);
    EXPECT_EQ(made, QStringList({kind + QStringLiteral(" &Yes"), kind + QStringLiteral(" &No")}));
  }
}

TEST(TdDialog, AShownDialogFollowsChangesOfItsOptions) {
  TTdDialog dialog;
  dialog.setContent({QStringLiteral("one line")});
  dialog.ButtonBar.setButtons(buttonBit(cbOK));
  QList<int> heights;
  QStringList keys;
  dialog.OnKeyPress = [&](TTdCustomDialog*, QKeyEvent* Event) { keys << QKeySequence(Event->key()).toString(); };
  onNextModalWindow([&](QDialog& form) {
    heights << form.height();
    dialog.setContent({QStringLiteral("one line"), QStringLiteral("two lines"), QStringLiteral("three lines")});
    heights << form.height();
    dialog.Instruction.setText(QStringLiteral("An instruction"));
    heights << form.height();
    dialog.ButtonBar.setButtons(buttonBit(cbOK) | buttonBit(cbCancel));
    EXPECT_EQ(form.findChildren<QPushButton*>().size(), 1) << "buttons are made when the dialog is shown";
    QTest::keyClick(keyTarget(form), Qt::Key_X);
    QTest::keyClick(keyTarget(form), Qt::Key_Return);
  });
  EXPECT_EQ(dialog.Execute(), mrOk);
  ASSERT_EQ(heights.size(), 3);
  EXPECT_LT(heights[0], heights[1]);
  EXPECT_LT(heights[1], heights[2]);
  EXPECT_EQ(keys, QStringList({"X", "Return"}));
}

TEST(TdDialog, TheTimerTellsTheTimeSinceItsLastTick) {
  TTdDialog dialog;
  dialog.setDialogOptions(dialog.dialogOptions() | optionBit(doTimer));
  dialog.Timer.setInterval(5);
  std::vector<unsigned> ticks;
  dialog.OnTimer = [&](TTdCustomDialog*, unsigned Since) { ticks.push_back(Since); };
  onNextModalWindow([&](QDialog& form) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks.size() >= 3; }, 60000));
    form.close();
  });
  dialog.Execute();
  ASSERT_GE(ticks.size(), 3u);
  EXPECT_EQ(ticks[0], 0u);
  EXPECT_GT(ticks[1] + ticks[2], 0u);
}

TEST(TdDialog, WithoutDoModalExecuteReturnsAtOnceAndTheWindowGoesWhenClosed) {
  TTdDialog dialog;
  dialog.setDialogOptions(0);
  int closed = -1;
  dialog.OnDialogClose = [&](TTdCustomDialog* d) { closed = d->FModalResult; };
  EXPECT_EQ(dialog.Execute(), -1);
  ASSERT_NE(dialog.form(), nullptr);
  EXPECT_TRUE(dialog.form()->isVisible());
  EXPECT_EQ(dialog.Execute(), -1) << "a second Execute only raises the window";
  dialog.commonButton(cbOK)->click();
  EXPECT_EQ(closed, mrOk);
  EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.form() == nullptr; }, 60000));
}

TEST(TdDialog, AssignCopiesSettingsAndHandlersButTheOptionsStayWithTheirDialog) {
  TTdDialog source;
  source.setTitle(QStringLiteral("Source"));
  source.setContent({QStringLiteral("content")});
  source.setMainIcon(tdiWarning);
  source.Instruction.setText(QStringLiteral("instruction"));
  source.Expando.setShowText(QStringLiteral("&More"));
  source.Expando.setVisible(true);
  source.ButtonBar.setButtons(buttonBit(cbRetry) | buttonBit(cbCancel));
  source.CustomButtons.add().Caption = QStringLiteral("Custom");
  source.AllowCancel = false;
  source.setWidth(420);
  int clicks = 0;
  source.OnControlClick = [&](TTdCustomDialog*, TControlType, QWidget*, int, bool&) { ++clicks; };

  TTdDialog target;
  target.Assign(source);
  EXPECT_EQ(target.title(), QStringLiteral("Source"));
  EXPECT_EQ(target.content(), QStringList({"content"}));
  EXPECT_EQ(target.mainIcon(), tdiWarning);
  EXPECT_EQ(target.Instruction.text(), QStringLiteral("instruction"));
  EXPECT_EQ(target.Expando.showText(), QStringLiteral("&More"));
  EXPECT_TRUE(target.Expando.visible());
  EXPECT_EQ(target.ButtonBar.buttons(), buttonBit(cbRetry) | buttonBit(cbCancel));
  ASSERT_EQ(target.CustomButtons.items().size(), 1u);
  EXPECT_EQ(target.CustomButtons.items()[0].Value, 100);
  EXPECT_FALSE(target.AllowCancel);
  EXPECT_EQ(target.width(), 420);
  ASSERT_TRUE(target.OnControlClick);
  bool handled = false;
  target.OnControlClick(&target, ctButton, nullptr, 0, handled);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(target.Instruction.dialog(), &target);
  EXPECT_EQ(target.ButtonBar.dialog(), &target);
}

}  // namespace
