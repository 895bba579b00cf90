#include "app/FormUnitEditInteger.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "app/UiSeams.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"

namespace {

enum class Input { Type, Paste };

class FormEditInteger : public ::testing::Test {
protected:
  void TearDown() override { form.close(); }
  QLineEdit* field(IntegerField which) {
    switch (which) {
      case IntegerField::Decimal: return form.editDataDecimal;
      case IntegerField::Hex: return form.editDataHex;
      case IntegerField::Binary: return form.editDataBinary;
    }
    return nullptr;
  }
  TformEditInteger form;
};

QString ones(int n) { return QString(n, u'1'); }

}  // namespace

// Text goes into one field through the keyboard, the way a user types or
// pastes it; the other two follow, and the result is read from the hex field.
TEST_F(FormEditInteger, FieldsFollowWhatIsTypedOrPasted) {
  struct Case {
    const char* what;
    int bytes;
    IntegerField into;
    Input how;
    QString input;
    const char* decimal;
    const char* hex;
    QString binary;
  };
  const Case cases[] = {
      {"largest 32-bit number", 4, IntegerField::Decimal, Input::Type, "4294967295", "4294967295", "FFFFFFFF", ones(32)},
      {"one past it keeps the low 32 bits", 4, IntegerField::Decimal, Input::Type, "4294967296", "4294967296",
       "00000000", "0"},
      {"a pasted minus sign", 8, IntegerField::Decimal, Input::Paste, "-1", "-1", "FFFFFFFFFFFFFFFF", ones(63)},
      {"a pasted minus sign, 32 bits", 4, IntegerField::Decimal, Input::Paste, "-1", "-1", "FFFFFFFF", ones(32)},
      {"minus and lower case are dropped", 4, IntegerField::Decimal, Input::Type, "1g-2", "12", "0000000C", "1100"},
      // The last text that parsed stays shown beside one that overflows.
      {"past the 64-bit range", 8, IntegerField::Decimal, Input::Type, "9223372036854775808", "9223372036854775808",
       "0CCCCCCCCCCCCCCC", "110011001100110011001100110011001100110011001100110011001100"},
      {"hex, 32 bits", 4, IntegerField::Hex, Input::Type, "7FFFFFFF", "2147483647", "7FFFFFFF", ones(31)},
      {"hex, 64 bits", 8, IntegerField::Hex, Input::Type, "7FFFFFFF", "2147483647", "7FFFFFFF", ones(31)},
      {"upper-case G counts as 0", 4, IntegerField::Hex, Input::Type, "1G", "16", "1G", "10000"},
      {"lower-case hex is dropped", 4, IntegerField::Hex, Input::Type, "1fF", "31", "1F", "11111"},
      {"binary takes 0 and 1 only", 4, IntegerField::Binary, Input::Type, "10291", "5", "00000005", "101"},
      {"64 ones are -1", 8, IntegerField::Binary, Input::Type, ones(64), "-1", "FFFFFFFFFFFFFFFF", ones(64)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    form.Fill(QStringLiteral("Value"), 0, c.bytes);
    form.show();
    QLineEdit* target = field(c.into);
    target->clear();
    if (c.how == Input::Type) {
      QTest::keyClicks(target, c.input);
    } else {
      QApplication::clipboard()->setText(c.input);
      QTest::keyClick(target, Qt::Key_V, Qt::ControlModifier);
    }
    EXPECT_EQ(form.editDataDecimal->text(), QString::fromLatin1(c.decimal));
    EXPECT_EQ(form.editDataHex->text(), QString::fromLatin1(c.hex));
    EXPECT_EQ(form.editDataBinary->text(), c.binary);
    form.hide();
  }
}

TEST_F(FormEditInteger, FillShowsTheModesNumberTexts) {
  struct Case {
    std::int64_t value;
    int bytes;
    const char *decimal, *hex, *binary;
  };
  const Case cases[] = {
      {0xFFFFFFFF, 4, "4294967295", "FFFFFFFF", nullptr},
      {-2, 8, "-2", "FFFFFFFFFFFFFFFE", nullptr},
      {5, 8, "5", "0000000000000005", "101"},
      {0, 4, "0", "00000000", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    form.Fill(QStringLiteral("Value"), c.value, c.bytes);
    EXPECT_EQ(form.editDataDecimal->text(), QString::fromLatin1(c.decimal));
    EXPECT_EQ(form.editDataHex->text(), QString::fromLatin1(c.hex));
    if (c.binary) EXPECT_EQ(form.editDataBinary->text(), QString::fromLatin1(c.binary));
    EXPECT_EQ(form.Value(), c.bytes == 4 ? static_cast<std::uint32_t>(c.value) : c.value);
  }
}

// Keys that type nothing still move the cursor and delete; the dialog's own
// keys still reach it.
TEST_F(FormEditInteger, EditingKeysPassTheFilter) {
  form.Fill(QStringLiteral("Value"), 123, 4);
  form.show();
  QLineEdit* decimal = form.editDataDecimal;
  decimal->setCursorPosition(3);
  QTest::keyClick(decimal, Qt::Key_Left);
  QTest::keyClick(decimal, Qt::Key_Backspace);
  EXPECT_EQ(decimal->text(), QStringLiteral("13"));
  QTest::keyClick(decimal, Qt::Key_Home);
  QTest::keyClick(decimal, Qt::Key_Delete);
  EXPECT_EQ(decimal->text(), QStringLiteral("3"));
  EXPECT_EQ(form.editDataHex->text(), QStringLiteral("00000003"));
  decimal->selectAll();
  QTest::keyClick(decimal, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("3"));
  QTest::keyClick(decimal, Qt::Key_Escape);
  EXPECT_FALSE(form.isVisible());
}

TEST_F(FormEditInteger, ExecuteGivesTheHexFieldsNumberWhateverEndsIt) {
  struct Case {
    const char* what;
    std::function<void(TformEditInteger&)> end;
    int result;
  };
  const Case cases[] = {
      {"OK", [](TformEditInteger& f) { f.bnOK->click(); }, mrOk},
      {"Cancel", [](TformEditInteger& f) { f.bnCancel->click(); }, mrCancel},
      {"Enter", [](TformEditInteger& f) { QTest::keyClick(f.editDataHex, Qt::Key_Return); }, mrOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::uint32_t value = 7;
    bool decimalFocused = false;
    onNextModalWindow([&](QDialog&) {
      decimalFocused = form.focusWidget() == form.editDataDecimal;
      EXPECT_FALSE(form.FUpdating);
      form.editDataHex->clear();
      QTest::keyClicks(form.editDataHex, QStringLiteral("ABC"));
      c.end(form);
    });
    EXPECT_EQ(form.Execute32(QStringLiteral("Count"), value), c.result);
    EXPECT_EQ(value, 0xABCu);
    EXPECT_TRUE(decimalFocused);
  }
  std::int64_t big = 1;
  onNextModalWindow([&](QDialog&) {
    form.editDataDecimal->clear();
    QApplication::clipboard()->setText(QStringLiteral("-5"));
    QTest::keyClick(form.editDataDecimal, Qt::Key_V, Qt::ControlModifier);
    form.bnCancel->click();
  });
  EXPECT_EQ(form.Execute64(QStringLiteral("Big"), big), mrCancel);
  EXPECT_EQ(big, -5);
}

TEST_F(FormEditInteger, Screenshot) {
  form.Fill(QStringLiteral("MaxConnections"), 0x1F4, 4);
  form.show();
  saveScreenshot(form, "formEditInteger-32bit");
  form.Fill(QStringLiteral("InstallTime"), 0x01D9A3C4B5E6F708ll, 8);
  saveScreenshot(form, "formEditInteger-64bit");
}
