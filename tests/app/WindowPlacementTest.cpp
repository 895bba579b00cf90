#include "app/WindowPlacement.h"

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QRect& r, std::ostream* os) {
  *os << "(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ")";
}

TEST(WindowPlacement, FramesAreMovedOntoTheScreenTheyOverlapMostOrTheNearest) {
  const QRect left(0, 0, 1920, 1040);      // a task bar below
  const QRect right(1920, 0, 1280, 1024);  // a smaller monitor to the right
  const struct Case {
    const char* name;
    QRect frame;
    QList<QRect> areas;
    QRect placed;
  } cases[] = {
      {"inside stays", {100, 100, 800, 600}, {left, right}, {100, 100, 800, 600}},
      {"inside the second stays", {2000, 10, 800, 600}, {left, right}, {2000, 10, 800, 600}},
      {"above the top", {100, -20, 800, 600}, {left}, {100, 0, 800, 600}},
      {"title bar pushed up step by step", {100, -60, 800, 600}, {left}, {100, 0, 800, 600}},
      {"below the task bar", {100, 900, 800, 600}, {left}, {100, 440, 800, 600}},
      {"mostly on the second", {1800, 100, 800, 600}, {left, right}, {1920, 100, 800, 600}},
      {"a monitor that is gone", {4000, 200, 800, 600}, {left, right}, {2400, 200, 800, 600}},
      {"far away to the upper left", {-5000, -5000, 800, 600}, {left, right}, {0, 0, 800, 600}},
      {"larger than the screen", {-10, -10, 2500, 1200}, {left}, {0, 0, 1920, 1040}},
      {"no screens", {-5000, 0, 800, 600}, {}, {-5000, 0, 800, 600}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(frameOnScreens(c.frame, c.areas), c.placed);
  }
}
