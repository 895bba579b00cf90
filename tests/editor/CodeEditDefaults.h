#pragma once

// The values a new editor model starts with, checked alike for a bare model
// and for the one inside the control.

#include <gtest/gtest.h>

#include <bit>

#include "editor/CodeEditCore.h"

inline void ExpectCodeEditDefaults(const codeedit::TCodeEditCore& core) {
  using namespace codeedit;
  EXPECT_EQ(core.TabWidth(), 8);
  EXPECT_EQ(core.RightEdge(), 80);
  EXPECT_EQ(core.RightEdgeColor(), clSilver);
  EXPECT_EQ(core.MaxScrollWidth(), 1024);
  EXPECT_EQ(core.MaxUndo(), 1024);
  EXPECT_EQ(core.Options(), CODEEDIT_DEFAULT_OPTIONS);
  EXPECT_EQ(std::popcount(core.Options()), 9);
  EXPECT_EQ(core.CaretXY(), (TBufferCoord{1, 1}));
  EXPECT_EQ(core.BlockBegin(), (TBufferCoord{1, 1}));
  EXPECT_EQ(core.BlockEnd(), (TBufferCoord{1, 1}));
}
