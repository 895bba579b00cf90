#include <gtest/gtest.h>

#include "app/QtText.h"
#include "platform/Text.h"
#include "tests/app/QtPrinters.h"

namespace {

// Restores the UTF-8 code page whatever a test set.
class QtText : public ::testing::Test {
protected:
  void TearDown() override { platform::setActiveCodePage(platform::kCodePageUtf8); }
};

TEST_F(QtText, ShownKeyNamesKeepEveryCharacterInAnyCodePage) {
  const QString raw = QStringLiteral("K\u00e9y") + QChar(u'\0') + QStringLiteral("\u20ac\u4e2d") + QChar(0xD800);
  const QString shown = QStringLiteral("K\u00e9y<0x00>\u20ac\u4e2d") + QChar(0xD800);
  for (unsigned codePage : {platform::kCodePageUtf8, 1252u}) {
    SCOPED_TRACE(codePage);
    platform::setActiveCodePage(codePage);
    EXPECT_EQ(ShownKeyName(raw), shown);
    EXPECT_EQ(ShownKeyName(QString(QChar(u'\0'))), QStringLiteral("<0x00>"));
  }
}

TEST_F(QtText, AnsiTextFollowsTheActiveCodePage) {
  platform::setActiveCodePage(platform::kCodePageUtf8);
  EXPECT_EQ(ansiToQString("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
  EXPECT_EQ(qStringToAnsi(QStringLiteral("caf\u00e9")), std::string("caf\xc3\xa9"));
  platform::setActiveCodePage(1252);
  EXPECT_EQ(ansiToQString("caf\xe9"), QStringLiteral("caf\u00e9"));
  EXPECT_EQ(qStringToAnsi(QStringLiteral("caf\u00e9\u4e2d")), std::string("caf\xe9?"));
  // NULs inside the text are kept, not ended at.
  EXPECT_EQ(ansiToQString(std::string_view("a\0b", 3)).size(), 3);
}

}  // namespace
