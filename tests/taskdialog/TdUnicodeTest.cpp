#include "taskdialog/TdUnicode.h"

#include <QFontMetrics>

#include <gtest/gtest.h>

namespace {

// The one-pass measurement gives the widths Qt shapes to within a pixel (Qt
// may round a hinted glyph differently), for every style the captions use;
// text it does not handle is measured by Qt itself.
TEST(TdFontMetrics, WidthsEqualQtShapedWidths) {
  QFont normal(QStringLiteral("DejaVu Sans"), 9);
  QFont bold = normal, italic = normal, underline = normal;
  bold.setBold(true);
  italic.setItalic(true);
  underline.setUnderline(true);
  const QStringList texts = {QStringLiteral("Delete the key HKEY_LOCAL_MACHINE\\SOFTWARE\\AVAWAY?"),
                             QStringLiteral("office fluffy To Te Yo, (1.5) [x]"), QStringLiteral("Ключ «Ж» صندوق"),
                             QStringLiteral("tab\there"), QString()};
  const TTdTextMetrics& metrics = TdScreenMetrics();
  // Latin text has one-pass prefix widths; the Cyrillic and Arabic one not.
  EXPECT_FALSE(metrics.prefixWidths(normal, texts[0]).empty());
  EXPECT_TRUE(metrics.prefixWidths(normal, texts[2]).empty());
  for (const QFont& font : {normal, bold, italic, underline}) {
    EXPECT_EQ(metrics.textWidth(font, texts[2]), QFontMetrics(font).horizontalAdvance(texts[2]));
    for (const QString& text : texts) {
      const QFontMetrics qt(font);
      EXPECT_NEAR(metrics.textWidth(font, text), qt.horizontalAdvance(text), 1) << text.toStdString();
      const std::vector<int> prefix = metrics.prefixWidths(font, text);
      if (prefix.empty())
        continue;  // shaped text is measured piece by piece
      ASSERT_EQ(prefix.size(), size_t(text.size()) + 1);
      for (qsizetype k = 0; k <= text.size(); ++k)
        EXPECT_NEAR(prefix[size_t(k)], qt.horizontalAdvance(text.left(k)), 1) << text.toStdString() << " at " << k;
      EXPECT_EQ(prefix.back(), metrics.textWidth(font, text)) << text.toStdString();
    }
  }
}

}  // namespace
