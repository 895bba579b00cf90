#include <QApplication>

#include <gtest/gtest.h>

#include "app/FormUnitMain.h"

TEST(FormMain, ShowsTitledWindowAndCloses) {
  TformMain form;
  form.show();
  QApplication::processEvents();
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Hivescope"));
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.close());
}
