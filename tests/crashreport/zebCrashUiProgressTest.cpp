#include "crashreport/zebCrashUiProgress.h"

#include <gtest/gtest.h>

using namespace zeb;

TEST(zebCrashUiProgress, WeightedAreasFillTheBar) {
  ProgressAreas p;
  p.AddArea(1, "first");
  p.AddArea(3, "");
  EXPECT_EQ(p.Areas()[1].text, "first");  // an empty text takes the one before
  p.SetPosition(1000);
  EXPECT_EQ(p.BarPosition(), 250);
  p.AreaDone();
  EXPECT_EQ(p.CurrentArea(), 1);
  EXPECT_EQ(p.Position(), 0);
  p.SetPosition(500);
  EXPECT_EQ(p.BarPosition(), 625);
  EXPECT_TRUE(p.SetCurrentArea(2));  // the number of areas: full
  EXPECT_EQ(p.CurrentArea(), 1);
  EXPECT_EQ(p.BarPosition(), 1000);
}

TEST(zebCrashUiProgress, OutOfRangeAreasAreIgnored) {
  ProgressAreas p;
  p.AddArea(2, "a");
  p.AddArea(2, "b");
  p.SetPosition(700);
  EXPECT_FALSE(p.SetCurrentArea(0));  // the current one: the position stays
  EXPECT_EQ(p.Position(), 700);
  EXPECT_FALSE(p.SetCurrentArea(-1));
  EXPECT_FALSE(p.SetCurrentArea(3));
  EXPECT_EQ(p.CurrentText(), "a");
}

TEST(zebCrashUiProgress, WithoutAreasItSaysPleaseWait) {
  ProgressAreas p;
  EXPECT_EQ(p.BarPosition(), 0);  // nothing to divide by
  p.EnsureArea();
  EXPECT_EQ(p.CurrentText(), "Please wait...");
  p.SetPosition(500);
  EXPECT_EQ(p.BarPosition(), 500);
  p.ClearAreas();
  EXPECT_EQ(p.BarPosition(), 0);
}
