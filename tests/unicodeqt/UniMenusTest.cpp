#include "unicode/qt/UniMenus.h"

#include <QCursor>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include "platform/Text.h"
#include "unicode/qt/UniForms.h"

namespace {

using namespace uni;

TEST(UniMenus, HotkeyPositionAndCharacterTakeTheLastSingleAmpersand) {
  struct Case {
    const char16_t* Caption;
    int Pos;
    const char16_t* Char;
  };
  const Case cases[] = {
      {u"&a&b", 4, u"b"},       {u"&&x&y", 5, u"y"}, {u"&&x", 0, u""},
      {u"x&", 0, u""},          {u"", 0, u""},       {u"&Ж", 2, u"Ж"},
      {u"a&&&b", 5, u"b"},      {u"File", 0, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.Caption).toStdString());
    EXPECT_EQ(WideHotkeyPos(c.Caption), c.Pos);
    EXPECT_EQ(WideHotkeyChar(c.Caption), QString::fromUtf16(c.Char));
  }
}

TEST(UniMenus, StripHotkeysPlainAndFarEast) {
  struct Case {
    const char16_t* Caption;
    bool FarEast;
    const char16_t* Stripped;
  };
  const Case cases[] = {
      {u"A&&B&c", false, u"A&Bc"},
      {u"File(&F)", true, u"File"},
      {u"File(&F)", false, u"File(F)"},
      {u"&Open(&O)...", true, u"Open..."},
      {u"(&F", true, u"(F"},
      {u"x&", false, u"x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.Caption).toStdString());
    EXPECT_EQ(WideStripHotkeys(c.Caption, c.FarEast), QString::fromUtf16(c.Stripped));
  }
  // Without the flag the process's code page decides.
  const unsigned saved = platform::activeCodePage();
  platform::setActiveCodePage(936);
  EXPECT_EQ(WideStripHotkeys(u"File(&F)"), QStringLiteral("File"));
  platform::setActiveCodePage(1252);
  EXPECT_EQ(WideStripHotkeys(u"File(&F)"), QStringLiteral("File(F)"));
  platform::setActiveCodePage(saved);

  EXPECT_TRUE(IsFarEastCodePage(932));
  EXPECT_TRUE(IsFarEastCodePage(950));
  EXPECT_FALSE(IsFarEastCodePage(1252));
  EXPECT_FALSE(IsFarEastCodePage(65001));
}

TEST(UniMenus, SameCaptionIgnoresHotkeysAndOptionallyCase) {
  EXPECT_TRUE(SameWideCaption(u"&Файл", u"фай&л"));
  EXPECT_FALSE(SameWideCaptionCase(u"&Файл", u"фай&л"));
  EXPECT_TRUE(SameWideCaptionCase(u"&Файл", u"Фай&л"));
  EXPECT_FALSE(SameWideCaption(u"A&&B", u"AB"));
}

TEST(UniMenus, QtTextKeepsOnlyTheHotkeysMarker) {
  struct Case {
    const char16_t* Caption;
    const char16_t* Qt;
  };
  const Case cases[] = {
      {u"&a&b", u"a&b"}, {u"A&&B&c", u"A&&B&c"}, {u"&&x", u"&&x"},
      {u"x&", u"x"},     {u"&Open", u"&Open"},   {u"&&x&y", u"&&x&y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.Caption).toStdString());
    const QString qt = QtMnemonicText(c.Caption);
    EXPECT_EQ(qt, QString::fromUtf16(c.Qt));
    // Qt reads the first marker, and it must be the caption's hotkey.
    EXPECT_EQ(QKeySequence::mnemonic(qt),
              WideHotkeyChar(c.Caption).isEmpty()
                  ? QKeySequence()
                  : QKeySequence(QStringLiteral("Alt+") + WideHotkeyChar(c.Caption).toUpper()));
  }
}

TEST(UniMenus, ShortCutTextsAndKeyNames) {
  struct Case {
    TShortCut ShortCut;
    const char16_t* Text;
  };
  const Case cases[] = {
      {scShift | scCtrl | scAlt | 0x74, u"Shift+Ctrl+Alt+F5"},
      {scCtrl | 'A', u"Ctrl+A"},
      {0x2E, u"Del"},
      {0x07, u""},
      {scCtrl | scAlt | 0xFF, u""},
      {'7', u"7"},
      {0x65, u"5"},
      {0x08, u"Backspace"},
      {0x09, u"Tab"},
      {0x0D, u"Enter"},
      {0x1B, u"Esc"},
      {0x20, u"Space"},
      {0x21, u"PgUp"},
      {0x22, u"PgDown"},
      {0x23, u"End"},
      {0x24, u"Home"},
      {0x25, u"Left"},
      {0x26, u"Up"},
      {0x27, u"Right"},
      {0x28, u"Down"},
      {0x2D, u"Ins"},
      {0x70, u"F1"},
      {0x87, u"F24"},
      {0xBC, u","},
      {scShift | 0x6B, u"Shift++"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ShortCut);
    EXPECT_EQ(WideShortCutText(c.ShortCut), QString::fromUtf16(c.Text));
  }
}

TEST(UniMenus, ALanguageReplacesThePrefixes) {
  const TShortCutPrefixes saved = ShortCutPrefixes();
  SetShortCutPrefixes({QStringLiteral("Umschalt+"), QStringLiteral("Strg+"), QStringLiteral("Alt+")});
  EXPECT_EQ(WideShortCutText(scShift | scCtrl | 'S'), QStringLiteral("Umschalt+Strg+S"));
  SetShortCutPrefixes(saved);
  EXPECT_EQ(WideShortCutText(scShift | scCtrl | 'S'), QStringLiteral("Shift+Ctrl+S"));
}

TEST(UniMenus, ShortCutsSurviveTheWayThroughQtKeySequences) {
  const TShortCut shortCuts[] = {scCtrl | 'A', scShift | scCtrl | scAlt | 0x74, 0x2E, 0x0D, scAlt | 0x65,
                                 scCtrl | 0xBC, 0x87, scShift | 0x2D, 0x6D, 0xBD, scCtrl | 0x6B, 0xBB};
  for (TShortCut shortCut : shortCuts) {
    SCOPED_TRACE(shortCut);
    const QKeySequence sequence = ShortCutToKeySequence(shortCut);
    EXPECT_FALSE(sequence.isEmpty());
    EXPECT_EQ(KeySequenceToShortCut(sequence), shortCut);
  }
  EXPECT_TRUE(ShortCutToKeySequence(0x07).isEmpty());
  EXPECT_EQ(KeySequenceToShortCut(QKeySequence(QStringLiteral("Ctrl+O"))), scCtrl | 'O');
  // The main Enter key is Qt's Return; Shift+Tab may come as Backtab.
  EXPECT_EQ(ShortCutToKeySequence(0x0D), QKeySequence(Qt::Key_Return));
  EXPECT_EQ(KeySequenceToShortCut(QKeySequence(Qt::Key_Backtab)), scShift | 0x09);
}

TEST(UniMenus, PopupItemShowsItsShortCutAndTheKeyTriggersIt) {
  QWidget window;
  TUniPopupMenu menu(&window);
  TUniMenuItem* item = menu.addItem(QStringLiteral("Caption"), scCtrl | 'A');
  TUniMenuItem* plain = menu.addItem(QStringLiteral("&Plain"));
  EXPECT_EQ(item->text(), QStringLiteral("Caption\tCtrl+A"));
  EXPECT_EQ(plain->text(), QStringLiteral("&Plain"));
  EXPECT_EQ(item->shortcut(), QKeySequence(QStringLiteral("Ctrl+A")));

  // The caption's last marker is the one Qt gets; the shortcut text follows.
  item->setCaption(QStringLiteral("&a&b"));
  EXPECT_EQ(item->text(), QStringLiteral("a&b\tCtrl+A"));
  EXPECT_EQ(item->caption(), QStringLiteral("&a&b"));

  // A shortcut set on the action itself shows in the same order.
  plain->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F5")));
  EXPECT_EQ(plain->text(), QStringLiteral("&Plain\tShift+Ctrl+Alt+F5"));
  EXPECT_EQ(plain->shortCut(), scShift | scCtrl | scAlt | 0x74);

  QSignalSpy triggered(item, &QAction::triggered);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QTest::keyClick(&window, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(triggered.count(), 1);
}

TEST(UniMenus, MenuBarItemAndSubMenuShowNoShortCut) {
  QMenuBar bar;
  auto* top = new TUniMenuItem(QStringLiteral("&File"), &bar);
  top->setShortCut(scCtrl | 'F');
  EXPECT_TRUE(top->text().contains(u'\t'));  // not yet in the bar
  bar.addAction(top);
  EXPECT_EQ(top->text(), QStringLiteral("&File"));

  // A shortcut set once the item is in the bar shows no more.
  top->setShortCut(scCtrl | 'G');
  EXPECT_EQ(top->text(), QStringLiteral("&File"));

  TUniPopupMenu menu;
  TUniMenuItem* parent = menu.addItem(QStringLiteral("&Recent"), scCtrl | 'R');
  parent->setMenu(new QMenu(&menu));
  parent->updateMenuString();
  EXPECT_EQ(parent->text(), QStringLiteral("&Recent"));
}

TEST(UniMenus, HoveringAPopupItemSetsTheApplicationsHint) {
  TUniPopupMenu menu;
  TUniMenuItem* open = menu.addItem(QStringLiteral("&Open"));
  open->setHint(QStringLiteral("Open|Opens a file"));
  TUniMenuItem* bare = menu.addItem(QStringLiteral("&Bare"));
  WideApplication().setHint(QStringLiteral("before"));

  // A menu ignores the pointer until it moved away from where the menu
  // opened, so the pointer starts well outside it.
  QCursor::setPos(600, 600);
  menu.popup(QPoint(10, 10));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
  QTest::mouseMove(&menu, menu.actionGeometry(open).center());
  EXPECT_EQ(WideApplication().hint(), QStringLiteral("Opens a file"));
  QTest::mouseMove(&menu, menu.actionGeometry(bare).center());
  EXPECT_EQ(WideApplication().hint(), QString());
  EXPECT_EQ(WideMenuItemHint(open), QStringLiteral("Open|Opens a file"));
  menu.close();
}

}  // namespace
