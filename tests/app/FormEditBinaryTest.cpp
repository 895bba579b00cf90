#include "app/FormUnitEditBinary.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include "app/UiSeams.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"

using Bytes = std::vector<std::uint8_t>;

TEST(FormEditBinary, HexTextReadsPairsAndPointsAtTheFirstBadCharacter) {
  const struct Case {
    const char* text;
    bool ok;
    Bytes bytes;
    int bad;
  } cases[] = {
      {"", true, {}, 0},
      {"01 a0 FF", true, {0x01, 0xA0, 0xFF}, 0},
      {"01,a0,\r\n  ff\t10", true, {0x01, 0xA0, 0xFF, 0x10}, 0},
      {"0102", true, {0x01, 0x02}, 0},
      {"01 2", false, {}, 3},    // half a byte at the end
      {"01 2 03", false, {}, 3}, // half a byte between
      {"01 G2", false, {}, 3},
      {"01 2G", false, {}, 4},
      {"-1", false, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int bad = -1;
    const auto bytes = hexTextToBytes(QString::fromLatin1(c.text), &bad);
    ASSERT_EQ(bytes.has_value(), c.ok);
    if (c.ok)
      EXPECT_EQ(*bytes, c.bytes);
    else
      EXPECT_EQ(bad, c.bad);
  }
  Bytes many(20);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<std::uint8_t>(i * 13);
  const QString text = bytesToHexText(many);
  EXPECT_EQ(text.count(u'\n'), 1);  // sixteen to a line
  EXPECT_TRUE(text.startsWith(QStringLiteral("00 0D 1A 27")));
  EXPECT_EQ(hexTextToBytes(text), many);
}

TEST(FormEditBinary, OkGivesBackTheBytesAndABadTextKeepsTheWindowOpen) {
  TformEditBinary form;
  Bytes bytes{0x01, 0x02};
  bool stayedOpen = false;
  QString error;
  onNextModalWindow([&](QDialog&) {
    EXPECT_EQ(form.memoData->toPlainText(), QStringLiteral("01 02"));
    EXPECT_TRUE(form.editValue->isReadOnly());
    form.memoData->setPlainText(QStringLiteral("01 02 X3"));
    form.bnOK->click();
    stayedOpen = form.isVisible();
    error = form.labelError->text();
    form.memoData->setPlainText(QStringLiteral("ff 00 10"));
    form.bnOK->click();
  });
  EXPECT_EQ(form.Execute(QStringLiteral("Bin"), bytes), mrOk);
  EXPECT_TRUE(stayedOpen);
  EXPECT_TRUE(error.contains(QStringLiteral("position 7"))) << error.toStdString();
  EXPECT_EQ(bytes, (Bytes{0xFF, 0x00, 0x10}));

  // Cancel leaves the caller's bytes alone, whatever the text holds.
  onNextModalWindow([&](QDialog&) {
    EXPECT_FALSE(form.labelError->isVisible());
    form.memoData->setPlainText(QStringLiteral("AA"));
    form.bnCancel->click();
  });
  EXPECT_EQ(form.Execute(QStringLiteral("Bin"), bytes), mrCancel);
  EXPECT_EQ(bytes, (Bytes{0xFF, 0x00, 0x10}));
}

TEST(FormEditBinary, Screenshot) {
  TformEditBinary form;
  Bytes bytes(40);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  form.Fill(QStringLiteral("DigitalProductId"), bytes);
  form.show();
  saveScreenshot(form, "formEditBinary");
}
