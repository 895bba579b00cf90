#include "taskdialog/TdRichEdit.h"

#include <QTest>

#include <gtest/gtest.h>

#include "taskdialog/TdGraphics.h"
#include "tests/app/Screenshot.h"
#include "tests/taskdialog/TaskDialogTesting.h"

namespace {

QStringList found(const QString& Text) {
  QStringList links;
  for (const auto& [start, end] : TdFindLinks(Text))
    links << Text.mid(start, end - start);
  return links;
}

TEST(TdRichEdit, FindsWebAndMailAddresses) {
  struct Case {
    const char* Text;
    QStringList Links;
  };
  const std::vector<Case> cases = {
      {"see https://x.org/a?b=1.", {"https://x.org/a?b=1"}},
      {"HTTP://X.ORG and mailto:me@x.org, or www.x.org!", {"HTTP://X.ORG", "mailto:me@x.org", "www.x.org"}},
      {"(http://x.org/p)", {"http://x.org/p"}},
      {"file:///etc/passwd smb://host/x ftp://x.org a.www.x.org", {}},
      {"plain text", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(found(QString::fromUtf8(c.Text)), c.Links) << c.Text;
}

QPoint linkPoint(TTdRichEdit& Edit, const QString& Link) {
  QTextCursor cursor(Edit.document());
  cursor.setPosition(int(Edit.toPlainText().indexOf(Link)) + 2);
  return Edit.cursorRect(cursor).center();
}

TEST(TdRichEdit, ClickedLinksGoToTheHandlerThenTheOpener) {
  RecordingOpener opener;
  TTdRichEdit edit;
  edit.resize(400, 120);
  edit.setDetails(QStringLiteral("Read https://x.org/help first.\nOr visit www.x.org today."));
  edit.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
  EXPECT_TRUE(edit.isReadOnly());
  saveScreenshot(edit, "TdRichEdit");

  QTest::mouseClick(edit.viewport(), Qt::LeftButton, {}, linkPoint(edit, QStringLiteral("https://x.org/help")));
  QTest::mouseClick(edit.viewport(), Qt::LeftButton, {}, linkPoint(edit, QStringLiteral("www.x.org")));
  EXPECT_EQ(opener.Opened, QStringList({"https://x.org/help", "http://www.x.org"}));

  QStringList seen;
  edit.OnLinkClicked = [&](TTdRichEdit*, const QString& Link, bool& Handled) {
    seen << Link;
    Handled = true;
  };
  QTest::mouseClick(edit.viewport(), Qt::LeftButton, {}, linkPoint(edit, QStringLiteral("https://x.org/help")));
  EXPECT_EQ(seen, QStringList({"https://x.org/help"}));
  EXPECT_EQ(opener.Opened.size(), 2);

  // Without ShowLinks the addresses are plain text.
  edit.setShowLinks(false);
  edit.OnLinkClicked = nullptr;
  QTest::mouseClick(edit.viewport(), Qt::LeftButton, {}, linkPoint(edit, QStringLiteral("https://x.org/help")));
  EXPECT_EQ(opener.Opened.size(), 2);
}

}  // namespace
