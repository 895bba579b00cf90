#include "editor/CodeEditMiscProcs.h"

#include <gtest/gtest.h>

#include <string>

using namespace codeedit;

namespace {

std::u16string tabs(std::size_t n) { return std::u16string(n, u'\t'); }

}  // namespace

TEST(CodeEditMiscProcs, MinMaxHoldsWithinBoundsAndMinWinsWhenTheyCross) {
  struct Case {
    int value, min, max, expected;
  } cases[] = {{5, 2, 12, 5}, {1, 2, 12, 2}, {20, 2, 12, 12}, {5, 10, 3, 10}, {-7, -7, -7, -7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "MinMax(" << c.value << ", " << c.min << ", " << c.max << ")");
    EXPECT_EQ(MinMax(c.value, c.min, c.max), c.expected);
  }
}

TEST(CodeEditMiscProcs, MinPointComparesLinesFirstAndKeepsTheFirstWhenEqual) {
  EXPECT_EQ(MinPoint(BufferCoord(9, 1), BufferCoord(1, 2)), BufferCoord(9, 1));
  EXPECT_EQ(MinPoint(BufferCoord(5, 3), BufferCoord(4, 3)), BufferCoord(4, 3));
  int a = 1, b = 2;
  SwapInt(a, b);
  EXPECT_EQ(a, 2);
  EXPECT_EQ(b, 1);
}

TEST(CodeEditMiscProcs, TheBestExpanderFollowsTheWidth) {
  EXPECT_EQ(GetBestConvertTabsProc(8), &ConvertTabsPowerOfTwo);
  EXPECT_EQ(GetBestConvertTabsProc(6), &ConvertTabsAnyWidth);
  EXPECT_EQ(GetBestConvertTabsProc(1), &ConvertTabsWidthOne);
  EXPECT_EQ(GetBestConvertTabsProc(0), &ConvertTabsWidthOne);
  for (int v : {2, 4, 1024, 65536}) EXPECT_TRUE(IsPowerOfTwo(v)) << v;
  for (int v : {-2, 0, 1, 3, 6, 131072}) EXPECT_FALSE(IsPowerOfTwo(v)) << v;
}

TEST(CodeEditMiscProcs, TabsExpandToOneTabCharacterPerColumn) {
  struct Case {
    std::u16string line;
    int width;
    std::u16string expected;
    bool hasTabs;
  } cases[] = {
      {u"a\t", 8, u"a" + tabs(7), true},
      {u"bc\t\t", 8, u"bc" + tabs(6) + tabs(8), true},
      {u"a\tb", 1, u"a b", true},
      {u"a\tb", 6, u"a" + tabs(5) + u"b", true},
      {u"abc", 4, u"abc", false},
      {u"", 4, u"", false},
      {u"\tx\ty", 3, tabs(3) + u"x" + tabs(2) + u"y", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "width " << c.width << ", " << c.line.size() << " characters");
    bool hasTabs = !c.hasTabs;
    EXPECT_EQ(GetBestConvertTabsProc(c.width)(c.line, c.width, hasTabs), c.expected);
    EXPECT_EQ(hasTabs, c.hasTabs);
    if (c.width > 1) {
      EXPECT_EQ(ExpandedTextLength(c.line, c.width), static_cast<int>(c.expected.size()));
    }
  }
  // The two general expanders give the same stops wherever both apply.
  for (int width : {2, 4, 8, 16}) {
    for (const std::u16string line : {u"\t", u"a\tbc\t\td", u"abcdefghi\tj"}) {
      bool a = false, b = false;
      EXPECT_EQ(ConvertTabsPowerOfTwo(line, width, a), ConvertTabsAnyWidth(line, width, b)) << width;
    }
  }
  EXPECT_EQ(ExpandedTextLength(u"\t\t", 3), 6);
}

TEST(CodeEditMiscProcs, CharIndexToColumnCountsTabSpansAndPastTheEnd) {
  struct Case {
    std::u16string line;
    int width, index, column;
  } cases[] = {
      {u"a\tb", 4, 1, 1}, {u"a\tb", 4, 2, 2}, {u"a\tb", 4, 3, 5}, {u"a\tb", 4, 4, 6},
      {u"a\tb", 4, 6, 8},  // two past the end: one column each
      {u"a\t", 4, 4, 6},   {u"a\tb", 1, 3, 3}, {u"abc", 4, 3, 3}, {u"a\tb", 4, 0, 1},
      {u"\t\tx", 3, 3, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "index " << c.index << ", width " << c.width);
    EXPECT_EQ(CharIndexToColumn(c.index, c.width, c.line), c.column);
  }
}

TEST(CodeEditMiscProcs, ScansFindDelimitersWithinTheLineOnly) {
  const auto blank = [](char16_t c) { return c == u' '; };
  const std::u16string line = u"ab cd ef";
  EXPECT_EQ(ScanForward(line, 1, blank), 3);
  EXPECT_EQ(ScanForward(line, 4, blank), 6);
  EXPECT_EQ(ScanForward(line, 7, blank), 0);
  EXPECT_EQ(ScanForward(line, 0, blank), 0);
  EXPECT_EQ(ScanForward(line, 9, blank), 0);
  EXPECT_EQ(ScanBackward(line, 8, blank), 6);
  EXPECT_EQ(ScanBackward(line, 5, blank), 3);
  EXPECT_EQ(ScanBackward(line, 2, blank), 0);
  EXPECT_EQ(ScanBackward(line, 0, blank), 0);
  EXPECT_EQ(ScanBackward(line, 9, blank), 0);

  const char16_t text[] = u"ab\r\ncd";
  EXPECT_EQ(FindLineEnd(text), text + 2);
  EXPECT_EQ(FindLineEnd(text + 4), text + 6);
  EXPECT_EQ(FindLineEnd(nullptr), nullptr);
}

TEST(CodeEditMiscProcs, GradientBandsCoverTheRectFromStartToEndColour) {
  const TGradientRgb from{0, 100, 255}, to{255, 0, 55};
  const TGradientRect rect{10, 20, 110, 40};
  for (int steps : {1, 2, 3, 7, 1000}) {
    SCOPED_TRACE(testing::Message() << steps << " steps");
    for (bool horizontal : {true, false}) {
      const auto bands = GradientBands(from, to, horizontal, rect, steps);
      ASSERT_EQ(bands.size(), static_cast<std::size_t>(MinMax(steps, 2, 256)));
      EXPECT_EQ(bands.front().Color, from);
      EXPECT_EQ(bands.back().Color, to);
      // Bands follow one another without gap or overlap, across the whole rect.
      int edge = horizontal ? rect.Left : rect.Top;
      for (const TGradientBand& band : bands) {
        EXPECT_EQ(horizontal ? band.Rect.Left : band.Rect.Top, edge);
        edge = horizontal ? band.Rect.Right : band.Rect.Bottom;
        EXPECT_EQ(horizontal ? band.Rect.Top : band.Rect.Left, horizontal ? rect.Top : rect.Left);
      }
      EXPECT_EQ(edge, horizontal ? rect.Right : rect.Bottom);
    }
  }
}
