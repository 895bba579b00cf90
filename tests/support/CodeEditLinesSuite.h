#pragma once

// The behaviour every change-log pane offers the main window, run against
// each implementation of CodeEditLines: a test file instantiates it with a
// factory type that has `static std::unique_ptr<CodeEditLines> make()`.
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(MyPane, CodeEditLinesSuite, MyPaneFactory);

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "editor/CodeEditLines.h"

template <typename Factory>
class CodeEditLinesSuite : public ::testing::Test {
protected:
  std::unique_ptr<CodeEditLines> lines = Factory::make();
};

TYPED_TEST_SUITE_P(CodeEditLinesSuite);

TYPED_TEST_P(CodeEditLinesSuite, AFreshPaneHasNoLinesAndNoText) {
  EXPECT_EQ(this->lines->Count(), 0);
  EXPECT_EQ(this->lines->Text(), QString());
  this->lines->AddStrings({});
  EXPECT_EQ(this->lines->Count(), 0);
}

TYPED_TEST_P(CodeEditLinesSuite, LinesGrowInOrderAndEachEndsInCrLf) {
  CodeEditLines& l = *this->lines;
  l.Add(QStringLiteral("REGEDIT4"));
  l.Add(QString());
  l.AddStrings({"[HKEY_CURRENT_USER\\Software\\X]", "\"Test\"=\"b\""});
  l.Add(QString());
  EXPECT_EQ(l.Count(), 5);
  EXPECT_EQ(l.Text(), QStringLiteral("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\X]\r\n\"Test\"=\"b\"\r\n\r\n"));
}

TYPED_TEST_P(CodeEditLinesSuite, WideAndEightBitLinesKeepEveryCharacter) {
  CodeEditLines& l = *this->lines;
  // The 8-bit lines are in the active code page, which the tests pin to UTF-8.
  l.AddStrings({"\"caf\xC3\xA9\"=\"\xE2\x82\xAC\"", ""});
  l.Add(QStringLiteral("\"\u00FC\"=\"") + QString::fromUcs4(U"\U0001F600") + u'"');
  EXPECT_EQ(l.Count(), 3);
  const QString smiley = QString::fromUcs4(U"\U0001F600");
  EXPECT_EQ(l.Text(),
            QStringLiteral("\"caf\u00E9\"=\"\u20AC\"\r\n\r\n\"\u00FC\"=\"") + smiley + QStringLiteral("\"\r\n"));
}

// A name may hold a line break; its line is still one line of the pane.
TYPED_TEST_P(CodeEditLinesSuite, ALineHoldingABreakStaysOneLine) {
  CodeEditLines& l = *this->lines;
  l.Add(QStringLiteral("REGEDIT4"));
  l.Add(QStringLiteral("a\r\nb"));
  EXPECT_EQ(l.Count(), 2);
  EXPECT_EQ(l.Text(), QStringLiteral("REGEDIT4\r\na\r\nb\r\n"));
}

REGISTER_TYPED_TEST_SUITE_P(CodeEditLinesSuite, AFreshPaneHasNoLinesAndNoText, LinesGrowInOrderAndEachEndsInCrLf,
                            WideAndEightBitLinesKeepEveryCharacter, ALineHoldingABreakStaysOneLine);
