#include "app/FormUnitEditString.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

#include "app/UiSeams.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"

TEST(FormEditString, ExecuteGivesBackTheFieldsTextWhateverEndsIt) {
  TformEditString form;
  struct Case {
    const char* what;
    std::function<void(TformEditString&)> end;
    int result;
  };
  const Case cases[] = {
      {"OK", [](TformEditString& f) { f.bnOK->click(); }, mrOk},
      {"Enter", [](TformEditString& f) { QTest::keyClick(f.editData, Qt::Key_Return); }, mrOk},
      {"Cancel", [](TformEditString& f) { f.bnCancel->click(); }, mrCancel},
      {"Escape", [](TformEditString& f) { QTest::keyClick(f.editData, Qt::Key_Escape); }, mrCancel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QString text = QStringLiteral("old");
    QString shownName;
    bool dataFocused = false;
    onNextModalWindow([&](QDialog&) {
      shownName = form.editValue->text();
      dataFocused = form.focusWidget() == form.editData;
      EXPECT_EQ(form.editData->text(), QStringLiteral("old"));
      QTest::keyClick(form.editData, Qt::Key_End);
      QTest::keyClicks(form.editData, QStringLiteral(" new"));
      c.end(form);
    });
    EXPECT_EQ(form.Execute(QStringLiteral("Path") + QChar(u'\0') + QStringLiteral("x"), text), c.result);
    EXPECT_EQ(text, QStringLiteral("old new"));
    EXPECT_EQ(shownName, QStringLiteral("Path<0x00>x"));
    EXPECT_TRUE(dataFocused);
    EXPECT_TRUE(form.editValue->isReadOnly());
  }
}

// A line edit would cut a text at 32767 characters unless told otherwise.
TEST(FormEditString, LongTextsComeBackWhole) {
  TformEditString form;
  const QString longText(100000, u'x');
  QString text = longText;
  onNextModalWindow([&](QDialog&) { form.bnOK->click(); });
  EXPECT_EQ(form.Execute(QStringLiteral("Long"), text), mrOk);
  EXPECT_EQ(text.size(), longText.size());
}

TEST(FormEditString, Screenshot) {
  TformEditString form;
  form.Fill(QStringLiteral("ProductName"), QStringLiteral("Windows 10 Pro"));
  form.show();
  saveScreenshot(form, "formEditString");
}
