// The hex dump's geometry with fixed metrics: no widget, no font.
#include <gtest/gtest.h>

#include "app/vkxHexView.h"

namespace {

// 7 pixels a character, 16 a row: a block takes 63 pixels of dump ("AABBCCDD ")
// and 28 of text ("ABCD"), 91 together.
HexDumpLayout fixedLayout() {
  HexDumpLayout l;
  l.metrics = HexDumpMetrics::monospaced(7, 16);
  return l;
}

}  // namespace

TEST(HexDumpLayout, StartsWithTheDesignedColumns) {
  const HexDumpLayout l = fixedLayout();
  EXPECT_EQ(l.columnWidth(HexDumpLayout::cPos), 68);
  EXPECT_EQ(l.columnWidth(HexDumpLayout::cDump), 260);
  EXPECT_EQ(l.columnWidth(HexDumpLayout::cText), 128);
  EXPECT_EQ(l.columnLeft(HexDumpLayout::cText), 328);
  EXPECT_EQ(l.totalWidth(), 456);
}

// Blocks n fit when 91n < width - 68 - 20.
TEST(HexDumpLayout, FitsTheMostBlocksThatFitTheWidth) {
  struct Case {
    int width, blocks;
  } cases[] = {
      {0, 2},                 // nothing fits: still two
      {100, 2},               //
      {88 + 182, 2},          // W(2) = 182 is not below 182
      {88 + 274, 3},          // W(3) = 273 < 274
      {88 + 364, 3},          // W(4) = 364 is not below 364
      {88 + 365, 4},          //
      {88 + 91 * 17, 16},     // W(17) just not below
      {88 + 91 * 17 + 1, 17}, //
      {100000, 17},           // never more than seventeen
  };
  const HexDumpLayout l = fixedLayout();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    EXPECT_EQ(l.fitBlocks(c.width), c.blocks);
  }
}

TEST(HexDumpLayout, AWiderPosColumnLeavesLessRoom) {
  HexDumpLayout l = fixedLayout();
  EXPECT_EQ(l.fitBlocks(88 + 365), 4);
  l.setColumnWidth(HexDumpLayout::cPos, 69);
  EXPECT_EQ(l.fitBlocks(88 + 365), 3);
}

TEST(HexDumpLayout, ColumnsAreSizedForTheBlocks) {
  HexDumpLayout l = fixedLayout();
  struct Case {
    int blocks, dump, text;
  } cases[] = {{2, 126 + 8, 56 + 12}, {4, 252 + 8, 112 + 12}, {17, 1071 + 8, 476 + 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.blocks);
    l.sizeColumnsFor(c.blocks);
    EXPECT_EQ(l.columnWidth(HexDumpLayout::cDump), c.dump);
    EXPECT_EQ(l.columnWidth(HexDumpLayout::cText), c.text);
    EXPECT_EQ(l.columnWidth(HexDumpLayout::cPos), 68);
  }
}

// The widths of the repeated texts are taken as measured, not as n times one
// block: with rounding, n blocks need not be n times as wide as one.
TEST(HexDumpLayout, UsesTheMeasuredWidthOfEachRepetition) {
  HexDumpLayout l = fixedLayout();
  l.metrics.dumpTextWidth[5] = 400;  // wider than 5 x 63
  EXPECT_EQ(l.fitBlocks(88 + 5 * 91 + 1), 4);
  l.sizeColumnsFor(5);
  EXPECT_EQ(l.columnWidth(HexDumpLayout::cDump), 408);
}

TEST(HexDumpLayout, RowsAndPixels) {
  HexDumpLayout l = fixedLayout();
  l.viewportHeight = 100;  // six whole rows and a part
  l.firstRow = 10;
  EXPECT_EQ(l.pageRows(), 6);
  EXPECT_EQ(l.rowAt(0), 10);
  EXPECT_EQ(l.rowAt(15), 10);
  EXPECT_EQ(l.rowAt(16), 11);
  EXPECT_EQ(l.rowAt(-1), 9);
  EXPECT_EQ(l.rowTop(12), 32);

  struct Case {
    int top, bottom;
    std::int64_t rowCount, first, last;
  } cases[] = {
      {0, 99, 1000, 10, 16},   // the partly visible seventh row too
      {20, 40, 1000, 11, 12},  // an exposed band paints only its rows
      {0, 99, 13, 10, 12},     // the dump ends inside the viewport
      {0, 99, 5, 10, 4},       // scrolled past the end: none
      {0, 99, 0, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.top << ".." << c.bottom << " of " << c.rowCount);
    const auto [first, last] = l.rowsIn(c.top, c.bottom, c.rowCount);
    if (c.first > c.last) {
      EXPECT_GT(first, last);
    } else {
      EXPECT_EQ(first, c.first);
      EXPECT_EQ(last, c.last);
    }
  }
}

TEST(HexDumpLayout, ScrollsAsLittleAsPossibleToShowARow) {
  HexDumpLayout l = fixedLayout();
  l.viewportHeight = 100;
  l.firstRow = 10;
  EXPECT_EQ(l.firstRowShowing(12), 10);  // already visible
  EXPECT_EQ(l.firstRowShowing(15), 10);  // the last whole row
  EXPECT_EQ(l.firstRowShowing(16), 11);  // only partly visible: scroll one
  EXPECT_EQ(l.firstRowShowing(3), 3);
  l.viewportHeight = 5;  // not even one whole row
  EXPECT_EQ(l.firstRowShowing(20), 20);
}
