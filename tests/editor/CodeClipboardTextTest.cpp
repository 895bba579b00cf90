#include "editor/CodeClipboardText.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>

#include <gtest/gtest.h>

using namespace codeedit;

TEST(CodeClipboardText, WideTextRoundTripsAndEmptyTextKeepsTheOld) {
  QGuiApplication::clipboard()->clear();
  EXPECT_FALSE(ClipboardProvidesText());
  EXPECT_EQ(GetClipboardWideText(), u"");
  const std::u16string text = u"Schl\u00FCssel \u4E00\r\n\u0416";
  SetClipboardWideText(text);
  EXPECT_TRUE(ClipboardProvidesText());
  EXPECT_EQ(GetClipboardWideText(), text);
  SetClipboardWideText(u"");
  EXPECT_EQ(GetClipboardWideText(), text);
  // A clipboard text is read up to its first 0.
  QGuiApplication::clipboard()->setText(QStringLiteral("ab") + QChar(0) + QStringLiteral("cd"));
  EXPECT_EQ(GetClipboardWideText(), u"ab");
}

TEST(CodeClipboardText, MeasuringUsesTheFont) {
  QFont font(QStringLiteral("DejaVu Sans Mono"), 10);
  const QSize one = MeasureTextWide(font, u"M");
  const QSize four = MeasureTextWide(font, u"MMMM");
  EXPECT_GT(one.width(), 0);
  EXPECT_EQ(one.height(), QFontMetrics(font).height());
  EXPECT_GE(four.width(), 4 * one.width() - 1);
  EXPECT_EQ(MeasureTextWide(font, u"").width(), 0);
}
