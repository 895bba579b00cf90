#include <QFontInfo>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include "app/ChangeLogPane.h"
#include "tests/app/QtPrinters.h"
#include "tests/support/CodeEditLinesSuite.h"

namespace {

struct ChangeLogPaneFactory {
  static std::unique_ptr<CodeEditLines> make() { return std::make_unique<ChangeLogPane>(); }
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(ChangeLogPane, CodeEditLinesSuite, ChangeLogPaneFactory);

namespace {

TEST(ChangeLogPane, IsAReadOnlyMonospaceViewWhoseGutterFitsTheLineNumbers) {
  ChangeLogPane pane;
  pane.resize(400, 200);
  EXPECT_TRUE(pane.isReadOnly());
  EXPECT_EQ(pane.font().pixelSize(), 13);
  EXPECT_TRUE(QFontInfo(pane.font()).fixedPitch());
  const int narrow = pane.gutterWidth();
  EXPECT_GT(narrow, 0);
  std::vector<std::string> many(12345, "\"a\"=\"b\"");
  pane.AddStrings(many);
  EXPECT_GT(pane.gutterWidth(), narrow) << "five digits need more room than three";
  EXPECT_EQ(pane.document()->blockCount(), 12345);
}

TEST(ChangeLogPane, ShowsEachLineAsOneLineEvenWhenItHoldsABreak) {
  ChangeLogPane pane;
  pane.Add(QStringLiteral("REGEDIT4"));
  pane.Add(QStringLiteral("a\r\nb"));
  EXPECT_EQ(pane.document()->blockCount(), 2);
  EXPECT_EQ(pane.Count(), 2);
  EXPECT_EQ(pane.Text(), QStringLiteral("REGEDIT4\r\na\r\nb\r\n"));
}

}  // namespace
