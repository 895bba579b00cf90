// The progress bars: the chunk's edge, the marquee's steps driven by hand,
// and the states that halt and resume a marquee.

#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include "taskdialog/TdProgressBar.h"

namespace {
int rightEdge(const QRect& R) { return R.x() + R.width(); }
}  // namespace

TEST(TdProgressBar, TheChunkEndsWhereTheSinglePrecisionFactorPutsIt) {
  struct Case {
    int width, position, max, right;
  };
  const Case cases[] = {
      {145, 50, 100, 69},  // 139 / 100 held as 1.3899999857: 69.4999993 rounds down
      {145, 0, 100, 1},    // nothing but the margin
      {145, 100, 100, 139},
      {106, 1, 2, 50},     // exactly half-way: 50
      {16, 1, 4, 2},       // 2.5 rounds to the even 2
      {16, 3, 4, 8},       // 7.5 rounds to the even 8
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.position << " of " << c.max << " on " << c.width);
    const QRect chunk = TdProgressChunkRect(QRect(0, 0, c.width, 15), 1, c.position, c.max);
    EXPECT_EQ(chunk.x(), 1);
    EXPECT_EQ(rightEdge(chunk), c.right);
    EXPECT_EQ(chunk.y(), 1);
    EXPECT_EQ(chunk.height(), 13);
  }
}

TEST(TdProgressBar, TheMarqueeGrowsInSlidesAndWraps) {
  TTdMarqueeSteps steps(QRect(0, 0, 145, 15), 1, 40);
  // Five steps grow the chunk from the left edge.
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const QRect chunk = steps.next();
    EXPECT_EQ(chunk.x(), 1);
    EXPECT_EQ(chunk.width(), 8 * i);
  }
  // Then it is 40 wide and moves 8 a step.
  QRect previous = steps.next();
  EXPECT_EQ(previous, QRect(0, 1, 40, 13));
  for (int p = 48; p <= 184; p += 8) {
    SCOPED_TRACE(p);
    const QRect chunk = steps.next();
    EXPECT_EQ(chunk.x(), previous.x() + 8);
    EXPECT_EQ(rightEdge(chunk), std::min(p, 144)) << "clipped at the right margin";
    previous = chunk;
  }
  // Past 40 + 145 it starts again at the margin.
  EXPECT_EQ(steps.position(), 1);
  EXPECT_EQ(steps.next(), QRect(1, 1, 1, 13));
}

TEST(TdProgressBar, PausedStopsTheMarqueeAndNormalStartsItAgain) {
  TTdProgressBar bar;
  bar.setProgressStyle(psMarquee);
  bar.setActive(true);
  ASSERT_TRUE(bar.marqueeTimer()->isActive());
  EXPECT_EQ(bar.marqueeTimer()->thread(), QThread::currentThread()) << "the marquee steps on the GUI thread";
  bar.marqueeTick();
  bar.marqueeTick();
  EXPECT_EQ(bar.marqueeChunk().width(), 8);

  bar.setState(pbstPaused);
  EXPECT_FALSE(bar.active());
  EXPECT_FALSE(bar.marqueeTimer()->isActive());

  bar.setState(pbstNormal);
  EXPECT_TRUE(bar.active());
  EXPECT_TRUE(bar.marqueeTimer()->isActive());
  bar.marqueeTick();
  EXPECT_EQ(bar.marqueeChunk().width(), 0) << "a restart begins at the left";

  bar.setProgressStyle(psNormal);
  EXPECT_FALSE(bar.marqueeTimer()->isActive());
  EXPECT_EQ(bar.position(), 0);
}

TEST(TdProgressBar, TheQtBarsMarqueeIsItsBusyRange) {
  TTdProgressBarMarquee marquee;
  marquee.setActive(true);
  EXPECT_TRUE(marquee.busy());
  marquee.setState(pbstPaused);
  EXPECT_FALSE(marquee.busy()) << "paused halts the busy indicator";
  marquee.setState(pbstNormal);
  EXPECT_TRUE(marquee.busy());

  TTdProgressBarEx plain;
  plain.setActive(true);
  EXPECT_FALSE(plain.busy()) << "only the marquee bar runs busy";
  plain.setValue(30);
  plain.setState(pbstError);
  EXPECT_EQ(plain.value(), 30);
}
