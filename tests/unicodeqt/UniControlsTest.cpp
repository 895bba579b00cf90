#include "unicode/qt/UniControls.h"

#include <QAction>
#include <QHelpEvent>
#include <QMainWindow>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "unicode/qt/UniForms.h"
#include "unicode/qt/UniStdCtrls.h"

namespace {

using namespace uni;

TEST(UniControls, HintHalvesSplitAtTheFirstBar) {
  struct Case {
    const char16_t* Hint;
    const char16_t* Short;
    const char16_t* Long;
  };
  const Case cases[] = {
      {u"Open|Opens a file", u"Open", u"Opens a file"},
      {u"Open", u"Open", u"Open"},
      {u"a|b|c", u"a", u"b|c"},
      {u"|long", u"", u"long"},
      {u"", u"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.Hint).toStdString());
    EXPECT_EQ(WideShortHint(c.Hint), QString::fromUtf16(c.Short));
    EXPECT_EQ(WideLongHint(c.Hint), QString::fromUtf16(c.Long));
  }
}

TEST(UniControls, HintGivesToolTipAndStatusTipAndParentsStandIn) {
  QWidget parent;
  auto* button = new TUniButton(QStringLiteral("&Open"), &parent);
  auto* child = new QWidget(&parent);
  button->setHint(QStringLiteral("Open|Opens a file"));
  EXPECT_EQ(button->hint(), QStringLiteral("Open|Opens a file"));
  EXPECT_EQ(button->toolTip(), QStringLiteral("Open"));
  EXPECT_EQ(button->statusTip(), QStringLiteral("Opens a file"));

  // A control without a hint shows its nearest parent's.
  UniControlSetHint(&parent, QStringLiteral("Parent|The parent's"));
  EXPECT_EQ(GetWideHintUpParents(child), QStringLiteral("Parent|The parent's"));
  EXPECT_EQ(WideToolTipText(child), QStringLiteral("Parent"));
  EXPECT_EQ(GetWideHintUpParents(button), QStringLiteral("Open|Opens a file"));
  EXPECT_EQ(GetWideHintUpParents(nullptr), QString());
}

TEST(UniControls, ToolTipAddsTheActionsShortCutWhenSwitchedOn) {
  QToolButton tool;
  QAction open(QStringLiteral("Open"));
  open.setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
  tool.setDefaultAction(&open);
  UniControlSetHint(&tool, QStringLiteral("Open|Opens a file"));
  EXPECT_EQ(WideToolTipText(&tool), QStringLiteral("Open"));

  SetShowShortCutsInHints(true);
  EXPECT_EQ(WideToolTipText(&tool), QStringLiteral("Open (Ctrl+O)"));
  // The shortcut of the moment is shown: the tooltip is refreshed as it is
  // asked for.
  open.setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+P")));
  QHelpEvent help(QEvent::ToolTip, QPoint(1, 1), QPoint(1, 1));
  QCoreApplication::sendEvent(&tool, &help);
  EXPECT_EQ(tool.toolTip(), QStringLiteral("Open (Shift+Ctrl+P)"));
  SetShowShortCutsInHints(false);
  EXPECT_EQ(WideToolTipText(&tool), QStringLiteral("Open"));
}

TEST(UniControls, MouseEntryShowsTheLongHintAndSetsTheApplicationsHint) {
  QMainWindow window;
  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  auto* button = new TUniButton(QStringLiteral("&Open"));
  button->setHint(QStringLiteral("Open|Opens a file"));
  layout->addWidget(button);
  window.setCentralWidget(central);
  window.statusBar();
  window.resize(300, 200);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  WideApplication().setHint(QString());

  // The pointer may rest where an earlier test left it: it comes from
  // outside the button, as a user's does.
  QTest::mouseMove(central, QPoint(1, 1));
  QTest::mouseMove(button, button->rect().center());
  EXPECT_EQ(window.statusBar()->currentMessage(), QStringLiteral("Opens a file"));
  EXPECT_EQ(WideApplication().hint(), QStringLiteral("Opens a file"));
}

TEST(UniControls, CaptionKeepsEveryMarkerAndAnEqualTextChangesNothing) {
  TUniButton button;
  button.setCaption(QStringLiteral("&a&&b&c"));
  EXPECT_EQ(UniControlGetText(&button), QStringLiteral("&a&&b&c"));
  EXPECT_EQ(button.text(), QStringLiteral("a&&b&c"));

  TUniForm form;
  form.setCaption(QString::fromUtf16(u"Реестр 𝄞"));
  EXPECT_EQ(form.windowTitle(), QString::fromUtf16(u"Реестр 𝄞"));
  EXPECT_EQ(form.caption(), QString::fromUtf16(u"Реестр 𝄞"));
  form.setHint(QStringLiteral("Form|The form"));
  EXPECT_EQ(form.hint(), QStringLiteral("Form|The form"));

  QSignalSpy titles(&form, &QWidget::windowTitleChanged);
  form.setCaption(form.caption());
  EXPECT_EQ(titles.count(), 0);
}

TEST(UniControls, ApplicationTitleIsTheDisplayName) {
  const QString saved = QGuiApplication::applicationDisplayName();
  WideApplication().setTitle(QString::fromUtf16(u"Реестр"));
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QString::fromUtf16(u"Реестр"));
  EXPECT_EQ(WideApplication().title(), QString::fromUtf16(u"Реестр"));
  WideApplication().setTitle(saved);
}

TEST(UniControls, TypedCharacterMatchesTheHotkeyIgnoringCase) {
  struct Case {
    const char16_t* Typed;
    const char16_t* Caption;
    bool Accel;
  };
  const Case cases[] = {
      {u"ж", u"&Ж", true}, {u"Ж", u"&ж", true}, {u"a", u"&Ж", false},
      {u"x", u"&&x", false}, {u"b", u"&a&b", true}, {u"a", u"&a&b", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromUtf16(c.Caption).toStdString());
    EXPECT_EQ(IsWideCharAccel(c.Typed, c.Caption), c.Accel);
  }
}

}  // namespace
