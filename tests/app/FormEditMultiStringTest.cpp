#include "app/FormUnitEditMultiString.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "app/UiSeams.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"

TEST(FormEditMultiString, TextsBecomeMemoLinesAndComeBackEndingInCrLf) {
  TformEditMultiString form;
  const QString nbsp(QChar(0x00A0));
  struct Case {
    QString text;
    int blocks;
    QString back;
  };
  const Case cases[] = {
      {QStringLiteral("a\r\nb"), 2, QStringLiteral("a\r\nb\r\n")},
      {QStringLiteral("a\r\nb\r\n"), 2, QStringLiteral("a\r\nb\r\n")},
      {QStringLiteral("a\rb\nc"), 3, QStringLiteral("a\r\nb\r\nc\r\n")},
      {QStringLiteral("a\r\n\r\nb"), 3, QStringLiteral("a\r\n\r\nb\r\n")},
      {QString(), 1, QString()},
      {QStringLiteral("x") + nbsp + QStringLiteral("y"), 1, QStringLiteral("x") + nbsp + QStringLiteral("y\r\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    QString text = c.text;
    int blocks = 0;
    bool memoFocused = false;
    onNextModalWindow([&](QDialog&) {
      blocks = form.memoData->document()->blockCount();
      memoFocused = form.focusWidget() == form.memoData;
      form.bnCancel->click();
    });
    EXPECT_EQ(form.Execute(QStringLiteral("Sources"), text), mrCancel);
    EXPECT_EQ(blocks, c.blocks);
    EXPECT_EQ(text, c.back);
    EXPECT_TRUE(memoFocused);
  }
}

TEST(FormEditMultiString, TypedLinesComeBackWithOk) {
  TformEditMultiString form;
  QString text = QStringLiteral("first");
  onNextModalWindow([&](QDialog&) {
    form.memoData->moveCursor(QTextCursor::End);
    QTest::keyClick(form.memoData, Qt::Key_Return);
    QTest::keyClicks(form.memoData, QStringLiteral("second"));
    QTest::keyClick(form.memoData, Qt::Key_Return);
    form.bnOK->click();
  });
  EXPECT_EQ(form.Execute(QStringLiteral("Sources"), text), mrOk);
  EXPECT_EQ(text, QStringLiteral("first\r\nsecond\r\n"));
}

TEST(FormEditMultiString, Screenshot) {
  TformEditMultiString form;
  form.Fill(QStringLiteral("PendingFileRenameOperations"),
            QStringLiteral("\\??\\C:\\Windows\\Temp\\setup.tmp\r\n\r\n\\??\\C:\\Program Files\\App\\old.dll\r\n"
                           "!\\??\\C:\\Program Files\\App\\new.dll"));
  form.show();
  saveScreenshot(form, "formEditMultiString");
}
