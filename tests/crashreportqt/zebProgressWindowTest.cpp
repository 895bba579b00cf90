// The progress window over weighted areas.

#include <QCloseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include "crashreport/qt/zebProgressWindow.h"
#include "tests/app/Screenshot.h"

using namespace zeb;

TEST(zebProgressWindow, AreasOfWeightOneAndThree) {
  TProgressWindow window("Sending bug report...", 0);
  window.AddArea(1, "Connecting to server...");
  window.AddArea(3, "Sending data...");
  ASSERT_TRUE(window.ShowWindow(nullptr, true));
  EXPECT_FALSE(window.ShowWindow(nullptr, true));  // shown already
  window.SetPosition(1000);
  EXPECT_EQ(window.BarValue(), 250);
  EXPECT_EQ(window.Text(), "Connecting to server...");
  window.AreaDone();
  window.SetPosition(500);
  EXPECT_EQ(window.BarValue(), 625);
  EXPECT_EQ(window.Text(), "Sending data...");
  saveScreenshot(window, "progress-window");
  window.SetCurrentArea(2);
  EXPECT_EQ(window.BarValue(), 1000);
  // The user cannot close it.
  QCloseEvent request;
  QApplication::sendEvent(&window, &request);
  EXPECT_FALSE(request.isAccepted());
  EXPECT_TRUE(window.isVisible());
  window.CloseWindow();
  EXPECT_FALSE(window.isVisible());
}

TEST(zebProgressWindow, WithoutAreasItAsksToWait) {
  TProgressWindow window("Information");
  ASSERT_TRUE(window.ShowWindow(nullptr, false));
  EXPECT_EQ(window.Text(), "Please wait...");
  window.SetPosition(500);
  EXPECT_EQ(window.BarValue(), 500);
  saveScreenshot(window, "progress-please-wait");
}
