#include "unicode/qt/UniGraphics.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

using namespace uni;

// Ten characters to a line, ten pixels a line.
int fakeHeight(const QString& Text) { return 10 * static_cast<int>((Text.size() + 9) / 10); }

TEST(UniGraphics, ShorteningCutsAtTheLastBlankAndAddsDots) {
  struct Case {
    const char* Text;
    int ClientHeight;
    const char* Result;
    bool Draw;
  };
  const Case cases[] = {
      {"aaaa bbbb cccc", 10, "aaaa...", true},      // two cuts at blanks
      {"aaaa\tbbbb cc", 10, "aaaa...", true},       // a TAB is a blank too
      {"aaaa bbbb cccc", 20, "aaaa bbbb cccc", true},  // fits as it is
      {"abcdefghijkl", 10, "abcdefg...", true},     // no blank: one character at a time
      {"abcdefghijklmnopqrstuvwxyz", 0, "...", false},  // nothing left: nothing drawn
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    // The font height is below the client height here, so only the client
    // height decides, except in the last case.
    const TShortenedText result = WideShortenToFit(QString::fromUtf8(c.Text), fakeHeight,
                                                   c.ClientHeight, c.ClientHeight == 0 ? 5 : 1);
    EXPECT_EQ(result.Text, QString::fromUtf8(c.Result));
    EXPECT_EQ(result.Draw, c.Draw);
  }
  // A text one line high always fits, whatever the client's height.
  EXPECT_EQ(WideShortenToFit(QStringLiteral("aaaa bbbb cccc"), fakeHeight, 0, 20).Text,
            QStringLiteral("aaaa bbbb cccc"));
}

TEST(UniGraphics, ExtentIsOneLineOfTheFont) {
  const QFont font = QApplication::font();
  const QFontMetrics metrics(font);
  const QString text = QString::fromUtf16(u"Ж𝄞 wide\ttext");
  EXPECT_EQ(WideCanvasTextExtent(font, text), QSize(metrics.horizontalAdvance(text), metrics.height()));
  EXPECT_EQ(WideCanvasTextWidth(font, u""), 0);
  EXPECT_EQ(WideCanvasTextHeight(font, u""), metrics.height());
}

TEST(UniGraphics, DrawTextFlagsMapOntoQt) {
  const QFont font = QApplication::font();
  const QFontMetrics metrics(font);
  // With hotkey processing "a&b" shows as "ab"; DT_NOPREFIX shows the "&".
  QRect prefixed(0, 0, 0, 0);
  WideMeasureText(font, u"a&b", prefixed, DT_CALCRECT | DT_SINGLELINE);
  QRect literal(0, 0, 0, 0);
  WideMeasureText(font, u"a&b", literal, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  // Bounds may differ from advances by a pixel of bearing.
  EXPECT_NEAR(prefixed.width(), metrics.horizontalAdvance(QStringLiteral("ab")), 2);
  EXPECT_NEAR(literal.width(), metrics.horizontalAdvance(QStringLiteral("a&b")), 2);
  EXPECT_GT(literal.width(), prefixed.width() + 2);

  // DT_WORDBREAK wraps within the given width; one line otherwise.
  const QString words = QStringLiteral("one two three four five six");
  QRect wrapped(0, 0, metrics.horizontalAdvance(QStringLiteral("three")) + 2, 0);
  const int wrappedHeight = WideMeasureText(font, words, wrapped, DT_CALCRECT | DT_WORDBREAK);
  QRect single(0, 0, 10, 0);
  const int singleHeight = WideMeasureText(font, words, single, DT_CALCRECT);
  EXPECT_EQ(singleHeight, metrics.height());
  EXPECT_GE(wrappedHeight, 3 * metrics.height());
  EXPECT_EQ(wrapped.height(), wrappedHeight);

  // DT_CALCRECT draws nothing; drawing paints pixels.
  QImage image(200, 40, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(Qt::black);
  QRect rect(0, 0, 200, 40);
  WideDrawText(painter, u"Text", rect, DT_CALCRECT);
  EXPECT_EQ(image.pixel(metrics.horizontalAdvance(QStringLiteral("T")) / 2, metrics.ascent() - 2),
            qRgb(255, 255, 255));
  QRect drawn(0, 0, 200, 40);
  EXPECT_EQ(WideDrawText(painter, u"Text", drawn, DT_SINGLELINE), metrics.height());
  painter.end();
  bool dark = false;
  for (int x = 0; x < 200 && !dark; ++x)
    for (int y = 0; y < 40 && !dark; ++y)
      dark = qGray(image.pixel(x, y)) < 128;
  EXPECT_TRUE(dark);
}

}  // namespace
