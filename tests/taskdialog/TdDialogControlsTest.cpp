// The dialog's optional controls shown: command links, custom buttons, radio
// buttons and the verification box, their places, results, clicks and
// clipboard rows, and their re-creation when the options change.

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <QFile>
#include <QImage>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

#include "taskdialog/TdButton.h"
#include "taskdialog/TdCheckBox.h"
#include "taskdialog/TdDialog.h"
#include "taskdialog/TdDialogForm.h"
#include "taskdialog/TdLabel.h"
#include "taskdialog/TdProgressBar.h"
#include "taskdialog/TdRichEdit.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/Screenshot.h"
#include "tests/taskdialog/TaskDialogTesting.h"
#include "unicode/qt/UniControls.h"

namespace {

// Runs Dialog, `act` on its window.
int run(TTdDialog& Dialog, std::function<void(TTdTaskDialogForm&)> act) {
  onNextModalWindow([act = std::move(act)](QDialog& window) {
    auto* form = qobject_cast<TTdTaskDialogForm*>(&window);
    ASSERT_NE(form, nullptr);
    act(*form);
  });
  return Dialog.Execute();
}

QWidget* keyTarget(QDialog& Form) { return Form.focusWidget() ? Form.focusWidget() : &Form; }

// Three links; the second has a two-line note, the third is the default,
// the first the cancel link.
void threeLinks(TTdDialog& D) {
  D.setTitle(QStringLiteral("Links"));
  D.Instruction.setText(QStringLiteral("Where to?"));
  D.setDialogOptions(optionBit(doModal) | optionBit(doCommandLinks));
  D.ButtonBar.setButtons(0);
  const char* captions[] = {"&Stay", "&Move", "&Copy"};
  for (int i = 0; i < 3; ++i) {
    TTdCustomButtonItem& item = D.CustomButtons.add();
    item.Caption = QString::fromLatin1(captions[i]);
    item.ModalResult = 11 + i;
  }
  D.CustomButtons.items()[0].Cancel = true;
  D.CustomButtons.items()[1].Info = QStringList{"Moves the key", "and its values"};
  D.CustomButtons.items()[1].ElevationRequired = true;
  D.CustomButtons.items()[2].Default = true;
}

QStringList names(const std::vector<QAbstractButton*>& Controls) {
  QStringList list;
  for (const QAbstractButton* control : Controls)
    list << control->objectName();
  return list;
}

}  // namespace

TEST(TdDialogControls, CommandLinksStackInTheTextColumn) {
  TTdDialog d;
  threeLinks(d);
  const int result = run(d, [&](TTdTaskDialogForm& form) {
    const auto& links = d.customButtonControls();
    ASSERT_EQ(links.size(), 3u);
    EXPECT_GE(d.FClientWidth, d.GetMinWidth());
    int previousBottom = d.GetAreaRect(taCommandLinks).y();
    for (QPushButton* control : links) {
      ASSERT_NE(qobject_cast<TTdCommandLinkButton*>(control), nullptr);
      EXPECT_EQ(control->x(), d.FTextLeft);
      EXPECT_EQ(control->width(), d.FClientWidth - d.FTextLeft - 10);
      EXPECT_GE(control->y(), previousBottom) << "links do not overlap";
      previousBottom = control->y() + control->height();
    }
    EXPECT_LE(previousBottom, d.GetAreaRect(taButtonBar).y()) << "the links end above the button bar";
    EXPECT_GT(links[1]->height(), links[0]->height()) << "the note adds its lines";
    EXPECT_EQ(form.focusWidget(), links[2]) << "the default link is the active control";
    saveScreenshot(form, "taskdialog-command-links");
    links[1]->click();
  });
  EXPECT_EQ(result, 12);
  EXPECT_EQ(d.FLastControlValue, 101);
}

TEST(TdDialogControls, EnterPressesTheDefaultLinkAndEscTheCancelLink) {
  struct Case {
    const char* name;
    Qt::Key key;
    int result;
  };
  for (const Case& c : {Case{"Enter", Qt::Key_Return, 13}, Case{"Esc", Qt::Key_Escape, 11}}) {
    SCOPED_TRACE(c.name);
    TTdDialog d;
    threeLinks(d);
    EXPECT_EQ(run(d, [&](TTdTaskDialogForm& form) { QTest::keyClick(keyTarget(form), c.key); }), c.result);
  }
}

TEST(TdDialogControls, TheCopyListsEachLinkWithItsNote) {
  TTdDialog d;
  threeLinks(d);
  QString copied;
  run(d, [&](TTdTaskDialogForm& form) {
    // The rows come from the controls: a caption changed while shown is
    // the one copied.
    uni::UniControlSetText(d.customButtonControls()[0], QStringLiteral("&Remain"));
    QTest::keyClick(keyTarget(form), Qt::Key_C, Qt::ControlModifier);
    copied = QApplication::clipboard()->text();
  });
  EXPECT_TRUE(copied.contains(QStringLiteral("[&Remain]\r\n"
                                             "[&Move]\r\n"
                                             "  Moves the key\r\nand its values\r\n\r\n"
                                             "[&Copy]\r\n"
                                             "\r\n")))
      << copied.toStdString();
}

TEST(TdDialogControls, AnAltKeyTurnsOnTheLinksKeyboardCues) {
  TTdDialog d;
  threeLinks(d);
  bool before = true;
  bool after = false;
  run(d, [&](TTdTaskDialogForm& form) {
    auto* link = qobject_cast<TTdCommandLinkButton*>(d.customButtonControls()[0]);
    link->setShowKeyboardCues(false);
    before = link->showKeyboardCues();
    QTest::keyPress(keyTarget(form), Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(keyTarget(form), Qt::Key_Alt);
    after = link->showKeyboardCues();
    EXPECT_EQ(link->captionDrawing().Text, QStringLiteral("&Stay"));
  });
  EXPECT_FALSE(before);
  EXPECT_TRUE(after);
}

TEST(TdDialogControls, CustomButtonsStandLeftOfTheCommonButtons) {
  TTdDialog d;
  d.Instruction.setText(QStringLiteral("Save the changes?"));
  for (const char* caption : {"Hidden", "&Save", "&Discard"}) {
    TTdCustomButtonItem& item = d.CustomButtons.add();
    item.Caption = QString::fromLatin1(caption);
    item.ModalResult = item.Value;
  }
  d.CustomButtons.items()[0].Visible = false;
  int clickedValue = 0;
  TControlType clickedType = ctButton;
  d.OnControlClick = [&](TTdCustomDialog*, TControlType Type, QWidget*, int Value, bool&) {
    clickedType = Type;
    clickedValue = Value;
  };
  const int result = run(d, [&](TTdTaskDialogForm& form) {
    const auto& custom = d.customButtonControls();
    ASSERT_EQ(custom.size(), 2u) << "the hidden item has no control";
    EXPECT_EQ(TdControlTag(custom[0]), 101);
    EXPECT_EQ(TdControlTag(custom[1]), 102);
    const QPushButton* ok = d.commonButton(cbOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(custom[1]->geometry().right() + 1 + 6, ok->x());
    EXPECT_EQ(custom[0]->geometry().right() + 1 + 6, custom[1]->x());
    EXPECT_EQ(custom[0]->y(), ok->y());
    EXPECT_EQ(custom[0]->height(), ok->height());

    // The value names the item's own control, whatever items before it
    // have none.
    d.setButtonEnabled(101, false);
    EXPECT_FALSE(custom[0]->isEnabled());
    EXPECT_TRUE(custom[1]->isEnabled());
    EXPECT_FALSE(d.CustomButtons.items()[1].Enabled);
    d.setButtonEnabled(mrCancel, false);
    EXPECT_FALSE(d.commonButton(cbCancel)->isEnabled());
    saveScreenshot(form, "taskdialog-custom-buttons");
    custom[1]->click();
  });
  EXPECT_EQ(result, 102);
  EXPECT_EQ(clickedValue, 102);
  EXPECT_EQ(clickedType, ctCommandLink);
}

TEST(TdDialogControls, RadioButtonsAreNamedByValueAndGiveTheCheckedOne) {
  TTdDialog d;
  d.Instruction.setText(QStringLiteral("Which view?"));
  d.setDialogOptions(optionBit(doModal) | optionBit(doRadioButtons));
  d.RadioButtons.add().Caption = QStringLiteral("&64-bit");
  d.RadioButtons.add().Caption = QStringLiteral("&32-bit");
  d.RadioButtons.items()[1].Checked = true;
  d.ActiveControlType = ctRadioButton;
  std::vector<std::pair<TControlType, int>> clicks;
  d.OnControlClick = [&](TTdCustomDialog*, TControlType Type, QWidget*, int Value, bool&) {
    clicks.emplace_back(Type, Value);
  };
  run(d, [&](TTdTaskDialogForm& form) {
    EXPECT_EQ(names(d.radioControls()), QStringList({"rb200", "rb201"}));
    EXPECT_EQ(form.focusWidget(), d.radioControls()[0]) << "the first radio button is the active control";
    EXPECT_TRUE(d.radioControls()[1]->isChecked());
    // Below the instruction, above the buttons.
    const QRect area = d.GetAreaRect(taRadioButtons);
    EXPECT_GE(d.radioControls()[0]->y(), d.GetAreaRect(taInstruction).bottom());
    EXPECT_LE(area.y() + area.height(), d.GetAreaRect(taButtonBar).y());
    d.radioControls()[0]->click();
    d.commonButton(cbOK)->click();
  });
  ASSERT_EQ(clicks.size(), 2u);
  EXPECT_EQ(clicks[0], std::make_pair(ctRadioButton, 200));
  EXPECT_EQ(d.FRadioResult, 200);
}

TEST(TdDialogControls, ARadioGroupWithNoneCheckedGivesMinusOne) {
  TTdDialog d;
  d.Instruction.setText(QStringLiteral("Export as"));
  d.setDialogOptions(optionBit(doModal) | optionBit(doRadioButtons));
  d.RadioButton.setShowBorder(true);
  d.RadioButton.setColumns(2);
  d.RadioButton.setCaption(QStringLiteral("Format"));
  for (const char* caption : {"Version &5", "Version &4", "&Hive file", "&Text"})
    d.RadioButtons.add().Caption = QString::fromLatin1(caption);
  d.FRadioResult = 7;
  run(d, [&](TTdTaskDialogForm& form) {
    ASSERT_NE(d.radioGroup(), nullptr);
    EXPECT_EQ(names(d.radioControls()), QStringList({"rb200", "rb201", "rb202", "rb203"}));
    // Two columns: the second item beside the first, the third below it.
    const auto& r = d.radioControls();
    EXPECT_EQ(r[1]->y(), r[0]->y());
    EXPECT_GT(r[1]->x(), r[0]->x());
    EXPECT_GT(r[2]->y(), r[0]->y());
    EXPECT_EQ(r[2]->x(), r[0]->x());
    EXPECT_LT(d.radioGroup()->geometry().bottom(), d.GetAreaRect(taButtonBar).y()) << "the frame stays off the bar";
    QApplication::processEvents();
    saveScreenshot(form, "taskdialog-radio-group");
  });
  EXPECT_EQ(d.FRadioResult, -1);
}

TEST(TdDialogControls, TheVerificationBoxIsCopiedAndRecorded) {
  TTdDialog d;
  d.Instruction.setText(QStringLiteral("Delete this key?"));
  d.Verification.setVisible(true);
  d.Verification.setText(QStringLiteral("&Don't ask again"));
  d.Expando.setVisible(true);
  d.Expando.setShowText(QStringLiteral("&Show Location"));
  d.Expando.setHideText(QStringLiteral("&Hide Location"));
  d.Expando.setLines({QStringLiteral("HKEY_CURRENT_USER\\Software")});
  std::vector<bool> clicks;
  d.OnVerificationClick = [&](TTdCustomDialog*, bool Checked) { clicks.push_back(Checked); };
  QStringList copies;
  run(d, [&](TTdTaskDialogForm& form) {
    TTdCheckBox* box = d.verificationBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->caption(), QStringLiteral("  &Don't ask again"));
    // Below the expand label in the taller bar; the buttons rise with it.
    ASSERT_NE(d.moreLabel(), nullptr);
    EXPECT_GT(box->y(), d.moreLabel()->y() + d.moreLabel()->height());
    EXPECT_LE(box->y() + box->height(), d.GetAreaRect(taButtonBar).bottom() + 1);
    for (int i = 0; i < 2; ++i) {
      QTest::keyClick(keyTarget(form), Qt::Key_C, Qt::ControlModifier);
      copies << QApplication::clipboard()->text();
      QTest::mouseClick(box, Qt::LeftButton, {}, box->captionRect().center());
    }
    QTest::mouseClick(box, Qt::LeftButton, {}, box->captionRect().center());
    saveScreenshot(form, "taskdialog-verification");
    d.commonButton(cbOK)->click();
  });
  ASSERT_EQ(copies.size(), 2);
  EXPECT_TRUE(copies[0].contains(QStringLiteral("[V] Show Location  \r\n[ ] Don't ask again  [OK] [Cancel] ")))
      << copies[0].toStdString();
  EXPECT_TRUE(copies[1].contains(QStringLiteral("[X] Don't ask again  "))) << copies[1].toStdString();
  EXPECT_EQ(clicks, (std::vector<bool>{true, false, true}));
  EXPECT_TRUE(d.FVerificationChecked);
}

TEST(TdDialogControls, OptionChangesOnAShownDialogMakeTheControlsAgain) {
  TTdDialog d;
  d.Instruction.setText(QStringLiteral("Go on?"));
  d.Verification.setVisible(true);
  d.Verification.setText(QStringLiteral("Remember"));
  TTdCustomButtonItem& item = d.CustomButtons.add();
  item.Caption = QStringLiteral("&Proceed");
  item.ModalResult = 42;
  run(d, [&](TTdTaskDialogForm&) {
    ASSERT_EQ(d.customButtonControls().size(), 1u);
    EXPECT_EQ(qobject_cast<TTdCommandLinkButton*>(d.customButtonControls()[0]), nullptr);
    d.verificationBox()->setChecked(true);

    d.setDialogOptions(optionBit(doModal) | optionBit(doCommandLinks));
    ASSERT_EQ(d.customButtonControls().size(), 1u);
    auto* link = qobject_cast<TTdCommandLinkButton*>(d.customButtonControls()[0]);
    ASSERT_NE(link, nullptr) << "the button became a link";
    EXPECT_TRUE(link->isVisible());
    EXPECT_TRUE(d.commonButton(cbOK)->isVisible());
    ASSERT_NE(d.verificationBox(), nullptr);
    EXPECT_TRUE(d.verificationBox()->checked()) << "the box keeps its state";
    EXPECT_TRUE(d.verificationBox()->isVisible());

    d.Verification.setVisible(false);
    EXPECT_EQ(d.verificationBox(), nullptr);
    d.Verification.setVisible(true);
    ASSERT_NE(d.verificationBox(), nullptr);
    EXPECT_TRUE(d.verificationBox()->isVisible());
    link->click();
  });
  EXPECT_EQ(d.FModalResult, 42);
}

TEST(TdDialogControls, AMarqueeRunsBusyUntilItsStateHaltsIt) {
  TTdDialog d;
  d.Instruction.setText(QStringLiteral("Searching"));
  d.setDialogOptions(optionBit(doModal) | optionBit(doProgressBarMarquee));
  d.Header.setVisible(true);
  d.Header.setText(QStringLiteral("Search"));
  d.Header.Gradient.setStartColor(0xFFFFFF);
  d.Header.Gradient.setEndColor(0xE0A060);
  d.Header.Gradient.setEnabled(true);
  d.Footer.setVisible(true);
  d.Footer.setIcon(tdiInformation);
  d.Footer.setText(QStringLiteral("Values are searched too."));
  d.setDialogOptions(d.dialogOptions() | optionBit(doShowHelpLink));
  d.HelpLink.setText(QStringLiteral("How searching works"));
  run(d, [&](TTdTaskDialogForm& form) {
    auto* bar = qobject_cast<TTdProgressBarMarquee*>(d.progressBar());
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->busy());
    EXPECT_TRUE(bar->isVisible());
    // Below the instruction, in the text column, above the help link.
    EXPECT_EQ(bar->x(), d.FTextLeft);
    EXPECT_EQ(bar->width(), d.FClientWidth - d.FTextLeft - 10);
    EXPECT_GE(bar->y(), d.GetAreaRect(taInstruction).bottom());
    ASSERT_NE(d.helpLink(), nullptr);
    EXPECT_LT(bar->geometry().bottom(), d.helpLink()->y());
    saveScreenshot(form, "taskdialog-marquee");
    d.Progress.setState(pbstPaused);
    EXPECT_FALSE(bar->busy());
    d.Progress.setState(pbstNormal);
    EXPECT_TRUE(bar->busy());
  });
}

TEST(TdDialogControls, TheSelfDrawnBarCanBeChosen) {
  TTdDialog d;
  d.setDialogOptions(optionBit(doModal) | optionBit(doProgressBar));
  d.Progress.setPosition(30);
  d.OnGetControlClass = [](TTdCustomDialog*, TControlType Type, TTdControlClass& Class) {
    if (Type == ctProgressBar)
      Class = [](QWidget* Parent) -> QWidget* { return new TTdProgressBar(Parent); };
  };
  run(d, [&](TTdTaskDialogForm&) {
    auto* bar = qobject_cast<TTdProgressBar*>(d.progressBar());
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->position(), 30);
    d.Progress.setPosition(60);
    EXPECT_EQ(bar->position(), 60) << "Progress reaches the bar";
    EXPECT_FALSE(bar->marqueeTimer()->isActive());
  });
}

TEST(TdDialogControls, TheHelpLinkSitsAboveTheBarAndFallsBackToTheApplicationsHelp) {
  TTdDialog d;
  d.setLayoutMetrics(&kFixed, 96);
  d.Instruction.setText(QStringLiteral("Import the file?"));
  d.setDialogOptions(optionBit(doModal) | optionBit(doShowHelpLink));
  d.HelpLink.setText(QStringLiteral("About imports"));
  d.HelpLink.setHelpContext(12);
  QString message;
  std::vector<int> helped;
  run(d, [&](TTdTaskDialogForm&) {
    TTdCaptionControl* link = d.helpLink();
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->x(), d.FTextLeft);
    EXPECT_EQ(link->height(), 15);
    EXPECT_EQ(link->y() + link->height() + d.FItemGap, d.GetAreaRect(taButtonBar).y());

    try {
      d.DoHelpLinkClick();
    } catch (const TdNoHelpFileException& e) {
      message = e.message();
    }
    // Clicked, the same failure must not leave the link's slot: it comes up
    // as an error box over the dialog, which stays open.
    QStringList boxContent;
    QString boxTitle;
    onNextModalWindow([&](QDialog& box) {
      auto* form = qobject_cast<TTdTaskDialogForm*>(&box);
      ASSERT_NE(form, nullptr);
      boxTitle = form->windowTitle();
      boxContent = form->dialog()->content();
    });
    emit link->clicked();
    EXPECT_EQ(boxTitle, QStringLiteral("Error"));
    EXPECT_EQ(boxContent, QStringList{QStringLiteral("You must associate a Help File with your application")});
    EXPECT_TRUE(d.form()->isVisible());
    TdApplicationHelp = [&](int Context) { helped.push_back(Context); };
    d.DoHelpLinkClick();
    bool asked = false;
    d.OnHelpLinkClick = [&](TTdCustomDialog*, bool& Handled) { asked = Handled = true; };
    d.DoHelpLinkClick();
    EXPECT_TRUE(asked);
    TdApplicationHelp = nullptr;
  });
  EXPECT_EQ(message, QStringLiteral("You must associate a Help File with your application"));
  EXPECT_EQ(helped, std::vector<int>{12}) << "a handler that takes the click keeps the help away";
}

TEST(TdDialogControls, ATimerHandlerClosesTheDialogOnTheThirdTick) {
  TTdDialog d;
  d.setDialogOptions(optionBit(doModal) | optionBit(doTimer));
  d.Timer.setInterval(10);
  std::vector<unsigned> ticks;
  d.OnTimer = [&](TTdCustomDialog* Sender, unsigned Since) {
    ticks.push_back(Since);
    if (ticks.size() == 3)
      Sender->CloseDialog(4);
  };
  // The timer ends it; the guard only ends a broken run.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    if (d.form())
      d.form()->reject();
  });
  guard.start(60000);
  EXPECT_EQ(d.Execute(), 4);
  ASSERT_EQ(ticks.size(), 3u);
  EXPECT_EQ(ticks[0], 0u);
}

TEST(TdDialogControls, OwnerFormCenterCentresTheWindowOnItsOwner) {
  QWidget owner;
  owner.setGeometry(100, 80, 900, 700);
  owner.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
  TTdDialog d(&owner);
  d.Position = dpOwnerFormCenter;
  QPoint centre;
  run(d, [&](TTdTaskDialogForm& form) { centre = form.frameGeometry().center(); });
  const QPoint expected = owner.frameGeometry().center();
  EXPECT_LE((centre - expected).manhattanLength(), 4) << centre.x() << "," << centre.y();
}

namespace {

// The details expanded in the footer, in an edit 60 pixels high.
void detailsInTheFooter(TTdDialog& D) {
  D.Expando.setVisible(true);
  D.Expando.setShowInFooter(true);
  D.Expando.setShowing(true);
  D.Expando.setMoreHeight(60);
}

}  // namespace

TEST(TdDialogControls, FooterDetailsComeFromAFileAStreamOrTheLines) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath(QStringLiteral("details.txt"));
  {
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(QStringLiteral("from the file Ключ").toUtf8());
  }
  struct Case {
    const char* name;
    TTdMoreSource source;
    QString fileName;
    QString expected;
  };
  const Case cases[] = {
      {"a file", msFile, file, QStringLiteral("from the file Ключ")},
      {"a folder is no file", msFile, dir.path(), QStringLiteral("the lines")},
      {"a missing file", msFile, dir.filePath(QStringLiteral("gone.txt")), QStringLiteral("the lines")},
      {"a stream", msStream, {}, QStringLiteral("from the stream")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTdDialog d;
    detailsInTheFooter(d);
    d.Expando.setMoreSource(c.source);
    d.Expando.setLines({QStringLiteral("the lines")});
    d.OnGetMoreFileName = [&](TTdCustomDialog*, QString& Name) { Name = c.fileName; };
    d.OnGetMoreStream = [](TTdCustomDialog*, QByteArray& Stream) { Stream = "from the stream"; };
    QString shown;
    bool visible = false;
    run(d, [&](TTdTaskDialogForm&) {
      ASSERT_NE(d.moreEdit(), nullptr);
      shown = d.moreEdit()->details();
      visible = d.moreEdit()->isVisible();
    });
    EXPECT_EQ(shown, c.expected);
    EXPECT_TRUE(visible);
  }
}

namespace {

// The formats of the edit's text: "[b]" before each bold stretch, "[]"
// before each plain one.
QString boldMarked(const QTextDocument& Document) {
  QString text;
  bool bold = false;
  bool first = true;
  for (QTextBlock block = Document.begin(); block.isValid(); block = block.next()) {
    if (block != Document.begin())
      text += u'\n';
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      const bool fragmentBold = fragment.charFormat().fontWeight() >= QFont::Bold;
      if (first || fragmentBold != bold)
        text += fragmentBold ? QStringLiteral("[b]") : QStringLiteral("[]");
      first = false;
      bold = fragmentBold;
      text += fragment.text();
    }
  }
  return text;
}

}  // namespace

TEST(TdDialogControls, RichTextDetailsShowTheirFormats) {
  const QByteArray rtf =
      "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}}"
      "\\f0 The key {\\b \\u1050?\\u1083?\\u1102?\\u1095?} is locked.\\par "
      "Close the program that holds it.}";
  std::string deep(100000, '{');
  deep = "{\\rtf1 " + deep + "deep" + std::string(100000, '}') + "}";
  struct Case {
    const char* name;
    TTdMoreFormat format;
    QByteArray stream;
    QString expected;
  };
  const Case cases[] = {
      {"rich text", mfRTF, rtf, QStringLiteral("[]The key [b]Ключ[] is locked.\nClose the program that holds it.")},
      {"the same as plain text", mfText, rtf, QString::fromLatin1(rtf).prepend(QStringLiteral("[]"))},
      {"plain text given as rich", mfRTF, "not rich {\\b x}", QStringLiteral("[]not rich {\\b x}")},
      {"100,000 nested groups", mfRTF, QByteArray::fromStdString(deep), QStringLiteral("[]deep")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTdDialog d;
    d.Instruction.setText(QStringLiteral("The key cannot be opened"));
    detailsInTheFooter(d);
    d.Expando.setMoreFormat(c.format);
    d.Expando.setMoreSource(msStream);
    d.OnGetMoreStream = [&](TTdCustomDialog*, QByteArray& Stream) { Stream = c.stream; };
    QString shown;
    bool visible = false;
    run(d, [&](TTdTaskDialogForm&) {
      ASSERT_NE(d.moreEdit(), nullptr);
      shown = boldMarked(*d.moreEdit()->document());
      visible = d.moreEdit()->isVisible();
    });
    EXPECT_EQ(shown, c.expected);
    EXPECT_TRUE(visible);
  }
}

TEST(TdDialogControls, RichTextDetailsFromAFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath(QStringLiteral("details.rtf"));
  {
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("{\\rtf1\\ansi{\\colortbl;\\red0\\green0\\blue0;}Hive {\\b \\u1057?\\u1080?\\u1089?\\u1090?\\u1077?\\u1084?\\u1072?} "
              "{\\i could not} be loaded.\\par\\ul Check\\ulnone  the file's rights.}");
  }
  TTdDialog d;
  d.setTitle(QStringLiteral("Load hive"));
  d.Instruction.setText(QStringLiteral("The hive cannot be loaded"));
  d.setContent({QStringLiteral("The file is in use or damaged.")});
  d.setDialogOptions(optionBit(doModal) | optionBit(doProgressBarMarquee) | optionBit(doShowHelpLink));
  d.Header.setVisible(true);
  d.Header.setText(QStringLiteral("Hives"));
  d.Header.Gradient.setStartColor(0xFFFFFF);
  d.Header.Gradient.setEndColor(0xE0A060);
  d.Header.Gradient.setEnabled(true);
  d.Footer.setVisible(true);
  d.Footer.setIcon(tdiWarning);
  d.Footer.setText(QStringLiteral("Other hives stay loaded."));
  d.HelpLink.setText(QStringLiteral("About loading hives"));
  detailsInTheFooter(d);
  d.Expando.setMoreFormat(mfRTF);
  d.Expando.setMoreSource(msFile);
  d.OnGetMoreFileName = [&](TTdCustomDialog*, QString& Name) { Name = file; };
  QString shown;
  run(d, [&](TTdTaskDialogForm& form) {
    ASSERT_NE(d.moreEdit(), nullptr);
    EXPECT_TRUE(d.moreEdit()->isVisible());
    shown = boldMarked(*d.moreEdit()->document());
    EXPECT_EQ(d.moreEdit()->details(),
              QStringLiteral("Hive Система could not be loaded.\nCheck the file's rights."));
    saveScreenshot(form, "taskdialog-rich-details");
  });
  EXPECT_EQ(shown, QStringLiteral("[]Hive [b]Система[] could not be loaded.\nCheck the file's rights."));
}

TEST(TdDialogControls, TopMostKeepsTheWindowOnTopAndTheBorderFramesTheClientArea) {
  struct Case {
    const char* name;
    bool topMost;
    int borderWidth;
    int edge;  // the column the border's left stroke covers
  };
  // A border wider than 1 is drawn 1 pixel in from the edges.
  const Case cases[] = {
      {"on top, a thin border", true, 1, 0},
      {"normal, a wide border", false, 3, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTdDialog d;
    d.Instruction.setText(QStringLiteral("Framed"));
    d.setDialogOptions(optionBit(doModal) | (c.topMost ? optionBit(doTopMost) : 0));
    d.Border.setVisible(true);
    d.Border.setColor(QColor(255, 0, 0));
    d.Border.setWidth(c.borderWidth);
    bool onTop = !c.topMost;
    QImage image;
    run(d, [&](TTdTaskDialogForm& form) {
      onTop = form.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
      image = form.grab().toImage();
    });
    EXPECT_EQ(onTop, c.topMost);
    ASSERT_FALSE(image.isNull());
    const int middle = image.height() / 2;
    EXPECT_EQ(image.pixelColor(c.edge, middle), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(image.width() - 1 - c.edge, middle), QColor(255, 0, 0));
    EXPECT_NE(image.pixelColor(c.edge + c.borderWidth + 1, middle), QColor(255, 0, 0))
        << "the border is a frame, not a fill";
  }
}
