// The drawn dialog's geometry with fixed metrics (6 × 15 characters, 15-pixel
// lines, 96 dpi): no window is shown.

#include <gtest/gtest.h>

#include "taskdialog/TdDialog.h"
#include "taskdialog/TdDialogLayout.h"
#include "taskdialog/TdDialogStrs.h"
#include "tests/app/QtPrinters.h"
#include "tests/taskdialog/TaskDialogTesting.h"

namespace {

struct FixedDialog {
  FixedDialog() { dialog.setLayoutMetrics(&kFixed, 96); }
  void layout() { dialog.CalculateLayout(); }
  QSize client() const { return {dialog.FClientWidth, dialog.FClientHeight}; }
  TTdDialog dialog;
};

QRect buttonRect(const TTdCustomDialog& Dialog, TCommonButton Button) {
  for (const auto& [kind, rect] : Dialog.commonButtonRects())
    if (kind == Button)
      return rect;
  return {};
}

// The key-deletion question as the main window asks it.
void keyDeletion(TTdCustomDialog& Dialog) {
  Dialog.setTitle(QStringLiteral("Hivescope"));
  Dialog.Instruction.setText(QStringLiteral("Delete this key?"));
  Dialog.setContent({QStringLiteral("Do you really want to delete this key (\"Gone\")?")});
  Dialog.Expando.setLines({QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software\\X\\Gone")});
  Dialog.Expando.setShowText(QStringLiteral("&Show Location"));
  Dialog.Expando.setHideText(QStringLiteral("&Hide Location"));
  Dialog.setMainIcon(tdiConfirmation);
  Dialog.ButtonBar.setButtons(buttonBit(cbYes) | buttonBit(cbNo));
  Dialog.Expando.setShowInFooter(true);
  Dialog.Expando.setVisible(true);
}

TEST(TdDialogLayout, MulDivRoundsHalvesAwayFromZero) {
  struct Case {
    int a, b, c, expected;
  } cases[] = {
      {41, 96, 96, 41}, {41, 120, 96, 51}, {41, 144, 96, 62}, {14, 15, 8, 26},
      {50, 6, 4, 75},   {-3, 1, 2, -2},    {3, 1, -2, -2},    {5, 5, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " * " << c.b << " / " << c.c);
    EXPECT_EQ(TdMulDiv(c.a, c.b, c.c), c.expected);
  }
}

TEST(TdDialogLayout, WrappedTextBreaksAtBlanksAndLongWordsWiden) {
  struct Case {
    const char16_t* text;
    int width;
    QSize expected;
  } cases[] = {
      {u"", 100, {0, 0}},
      {u"abc def", 100, {42, 15}},
      {u"abc def", 30, {18, 30}},
      {u"abc   def ghi", 40, {18, 45}},
      {u"abcdefghij xy", 30, {60, 30}},
      {u"a\r\nbb\nc", 100, {12, 45}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.text).toStdString());
    EXPECT_EQ(TdWrappedTextSize(kFixed, QFont(), c.text, c.width), c.expected);
  }
}

TEST(TdDialogLayout, AOneLineYesNoConfirmationIsTheStandardBox) {
  FixedDialog f;
  f.dialog.setContent({QStringLiteral("Do you want to go on?")});
  f.dialog.setMainIcon(tdiConfirmation);
  f.dialog.ButtonBar.setButtons(buttonBit(cbYes) | buttonBit(cbNo));
  f.layout();

  EXPECT_EQ(f.client(), QSize(360, 93));
  EXPECT_EQ(f.dialog.FTextLeft, 52);
  EXPECT_EQ(f.dialog.GetAreaRect(taContent), QRect(52, 16, 298, 15));
  EXPECT_EQ(f.dialog.GetAreaRect(taGlyph), QRect(10, 10, 32, 32));
  EXPECT_EQ(f.dialog.GetAreaRect(taButtonBar), QRect(0, 52, 360, 41));
  const QRect yes = buttonRect(f.dialog, cbYes);
  const QRect no = buttonRect(f.dialog, cbNo);
  EXPECT_EQ(no, QRect(282, 61, 68, 23));
  EXPECT_EQ(no.x() + no.width(), 350);
  EXPECT_EQ(yes, QRect(208, 61, 68, 23));
  EXPECT_EQ(no.x() - (yes.x() + yes.width()), 6);
}

TEST(TdDialogLayout, TextLeftEdgeFollowsTheIconAndTheTexts) {
  struct Case {
    const char* name;
    TTaskDialogIcon icon;
    QString content;
    int textLeft;
  } cases[] = {
      {"nothing at all", tdiNone, QString(), 10},
      {"custom box", tdiCustom, QStringLiteral("text"), 12},
      {"no icon", tdiNone, QStringLiteral("text"), 12},
      {"standard icon", tdiWarning, QStringLiteral("text"), 52},
      {"shield", tdiShield, QString(), 52},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FixedDialog f;
    f.dialog.setMainIcon(c.icon);
    if (!c.content.isEmpty())
      f.dialog.setContent({c.content});
    f.layout();
    EXPECT_EQ(f.dialog.FTextLeft, c.textLeft);
  }
}

TEST(TdDialogLayout, AnEmptyDialogHasTheMinimumSizeAndAFixedWidthHolds) {
  FixedDialog f;
  f.layout();
  EXPECT_EQ(f.dialog.FTextLeft, 10);
  EXPECT_EQ(f.client(), QSize(360, 93));
  EXPECT_EQ(f.dialog.GetAreaRect(taContent).height(), 0);

  f.dialog.setWidth(500);
  f.layout();
  EXPECT_EQ(f.client(), QSize(500, 93));

  // Unless the buttons need more.
  f.dialog.setWidth(100);
  f.layout();
  EXPECT_EQ(f.dialog.FClientWidth, 16 + 2 * (68 + 8));
}

TEST(TdDialogLayout, LongMessagesWrapWithinTheStandardWidth) {
  FixedDialog f;
  f.dialog.setMainIcon(tdiInformation);
  f.dialog.setContent({QString(QStringLiteral("word ")).repeated(60).trimmed()});
  f.layout();
  EXPECT_GE(f.dialog.FClientWidth, 360);
  EXPECT_LE(f.dialog.FClientWidth, 360 - 52 + 63);
  const QRect content = f.dialog.GetAreaRect(taContent);
  EXPECT_LE(content.x() + content.width(), f.dialog.FClientWidth - 10);
  EXPECT_GT(content.height(), 15) << "the text wraps";

  // A word longer than the measure widens it.
  f.dialog.setContent({QString(80, u'x')});
  f.layout();
  EXPECT_EQ(f.dialog.FClientWidth, 80 * 6 + 7 + 16 + 40);
}

TEST(TdDialogLayout, ExpandingFooterDetailsAddsTheirHeightAndCollapsingUndoesIt) {
  for (const int lines : {1, 3}) {
    SCOPED_TRACE(lines);
    FixedDialog f;
    keyDeletion(f.dialog);
    QStringList details;
    for (int i = 0; i < lines; ++i)
      details << QStringLiteral("line %1").arg(i);
    f.dialog.Expando.setLines(details);
    f.layout();
    const QSize collapsed = f.client();
    const QRect bar = f.dialog.GetAreaRect(taButtonBar);
    EXPECT_EQ(bar.y() + bar.height(), collapsed.height());

    f.dialog.Expando.setShowing(true);
    f.layout();
    const int h = 15 * lines;
    EXPECT_EQ(f.client(), QSize(collapsed.width(), collapsed.height() + h + 16));
    EXPECT_EQ(f.dialog.GetAreaRect(taFooterDetails), QRect(0, collapsed.height(), collapsed.width(), h + 16));
    EXPECT_EQ(f.dialog.GetAreaRect(taButtonBar), bar) << "the bar stays above the details";

    f.dialog.Expando.setShowing(false);
    f.layout();
    EXPECT_EQ(f.client(), collapsed);
  }
}

TEST(TdDialogLayout, TheKeyDeletionDialogHasItsLabelInTheBar) {
  FixedDialog f;
  keyDeletion(f.dialog);
  f.layout();
  // Instruction at (52, 10), content 15 below it, the bar at the bottom.
  EXPECT_EQ(f.dialog.GetAreaRect(taInstruction), QRect(52, 10, 298, 15));
  EXPECT_EQ(f.dialog.GetAreaRect(taContent).y(), 40);
  EXPECT_EQ(f.client(), QSize(360, 40 + 15 + 9 + 41));
  const QRect bar = f.dialog.GetAreaRect(taButtonBar);
  // "Show Location": 2 + 16 + 4 + 78 + 16 + 4.
  EXPECT_EQ(f.dialog.moreLabelRect(), QRect(bar.x() + 10, bar.y() + 10, 120, 16));
  EXPECT_EQ(f.dialog.moreLabelWidth(), 128);
}

TEST(TdDialogLayout, ButtonsAreAsWideAsTheWidestCaptionAndFollowAReplacedOne) {
  FixedDialog f;
  f.dialog.ButtonBar.setButtons(buttonBit(cbYes) | buttonBit(cbNo));
  EXPECT_EQ(f.dialog.commonButtonSize(), QSize(68, 23));

  ReplaceDialogString(DialogStrYes, "&Yes, delete it now");  // 18 characters shown
  EXPECT_EQ(f.dialog.commonButtonSize().width(), 18 * 6 + 8);
  ReplaceDialogString(DialogStrYes, "&Yes, delete this key and all below it");
  EXPECT_EQ(f.dialog.commonButtonSize().width(), 37 * 6 + 8) << "a longer caption is measured anew";
  f.layout();
  for (const auto& [kind, rect] : f.dialog.commonButtonRects())
    EXPECT_EQ(rect.width(), 37 * 6 + 8) << TdCommonButtonName(kind).toStdString();
  ReplaceDialogString(DialogStrYes, "&Yes");
  EXPECT_EQ(f.dialog.commonButtonSize().width(), 68);
}

TEST(TdDialogLayout, ButtonBarHeightFollowsTheLogicalDpi) {
  TTdDialog dialog;
  for (const auto& [dpi, height] : {std::pair{96, 41}, {120, 51}, {144, 62}}) {
    dialog.setLayoutMetrics(&kFixed, dpi);
    EXPECT_EQ(dialog.FButtonBarHeight, height) << dpi;
  }
}

TEST(TdDialogLayout, AHiddenButtonBarPlacesNoButtons) {
  FixedDialog f;
  f.dialog.ButtonBar.setButtons(buttonBit(cbYes) | buttonBit(cbNo));
  f.dialog.ButtonBar.setVisible(false);
  f.dialog.setContent({QStringLiteral("text")});
  f.layout();
  EXPECT_TRUE(f.dialog.commonButtonRects().empty());
  EXPECT_EQ(f.dialog.FClientHeight, 93);
}

}  // namespace

namespace {

// A dialog with a header, a footer and a help link, laid out with the fixed
// metrics.
void headedAndFooted(TTdCustomDialog& Dialog, TTaskDialogIcon HeaderIcon, TTaskDialogIcon FooterIcon) {
  Dialog.Instruction.setText(QStringLiteral("Load the hive?"));
  Dialog.setContent({QStringLiteral("The file is large.")});
  Dialog.setDialogOptions(optionBit(doShowHelpLink));
  Dialog.HelpLink.setText(QStringLiteral("About hives"));
  Dialog.Header.setVisible(true);
  Dialog.Header.setText(QStringLiteral("Hives"));
  Dialog.Header.setIcon(HeaderIcon);
  Dialog.Footer.setVisible(true);
  Dialog.Footer.setIcon(FooterIcon);
  Dialog.Footer.setText(QStringLiteral("Other hives stay."));
}

}  // namespace

TEST(TdDialogLayout, HeaderFooterAndHelpLinkTakeTheirAreas) {
  struct Case {
    const char* name;
    TTaskDialogIcon headerIcon;
    TTdIconSize headerIconSize;
    TTaskDialogIcon footerIcon;
    int headerHeight;
  };
  // Header: the larger of the icon and one 15-pixel text line, each with
  // the item gap (4) above and below. The footer's one line takes 15 + 5 + 16.
  const Case cases[] = {
      {"text only", tdiNone, isLarge, tdiWarning, 23},
      {"a small icon", tdiInformation, isSmall, tdiNone, 24},
      {"a medium icon", tdiInformation, isMedium, tdiWarning, 32},
      {"a large icon", tdiInformation, isLarge, tdiNone, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FixedDialog f;
    headedAndFooted(f.dialog, c.headerIcon, c.footerIcon);
    f.dialog.Header.setIconSize(c.headerIconSize);
    f.layout();
    const int W = f.dialog.FClientWidth;
    const int HC = f.dialog.FClientHeight;
    ASSERT_GT(W, 0);
    EXPECT_EQ(f.dialog.GetAreaRect(taHeader), QRect(0, 0, W, c.headerHeight));
    EXPECT_EQ(f.dialog.GetAreaRect(taInstruction).y(), c.headerHeight + 10);
    EXPECT_EQ(f.dialog.GetAreaRect(taHeaderAndInstruction).y(), c.headerHeight);
    EXPECT_EQ(f.dialog.GetAreaRect(taFooter), QRect(0, HC - 36, W, 36));
    const QRect bar = f.dialog.GetAreaRect(taButtonBar);
    EXPECT_EQ(bar, QRect(0, HC - 36 - f.dialog.FButtonBarHeight, W, f.dialog.FButtonBarHeight));
    EXPECT_EQ(f.dialog.GetAreaRect(taHelpLink),
              QRect(f.dialog.FTextLeft, bar.y() - 15 - f.dialog.FItemGap,
                    W - f.dialog.FTextRightMargin - f.dialog.FTextLeft, 15));
    // Everything fits: the help link stays below the content.
    EXPECT_GE(f.dialog.GetAreaRect(taHelpLink).y(), f.dialog.GetAreaRect(taContent).bottom());
  }
}

TEST(TdDialogLayout, AFooterTextWrapsAtTheWidthItsIconLeaves) {
  // 61 characters: 366 pixels, wider than the room either way, so the text
  // wraps; without an icon the line is 24 pixels longer.
  const QString text = QStringLiteral("aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll m");
  for (const TTaskDialogIcon icon : {tdiNone, tdiWarning}) {
    SCOPED_TRACE(int(icon));
    FixedDialog f;
    f.dialog.Instruction.setText(QStringLiteral("Go on?"));
    f.dialog.setWidth(200);
    f.dialog.Footer.setVisible(true);
    f.dialog.Footer.setIcon(icon);
    f.dialog.Footer.setText(text);
    f.layout();
    const int W = f.dialog.FClientWidth;
    const int width = W + (icon == tdiNone ? 24 : 0) - f.dialog.FEdgeMargin - 35;
    const int lines = TdWrappedTextSize(kFixed, QFont(), text, width).height() / 15;
    ASSERT_GT(lines, 1);
    EXPECT_EQ(f.dialog.GetAreaRect(taFooter).height(), lines * 15 + 5 + 16);
  }
}
