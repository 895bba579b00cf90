// The screenshot of the program's own windows on the offscreen platform:
// what it covers, what it leaves white, and the cursor drawn in.

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

#include "crashreport/qt/zebNVBitmapCapture.h"

using namespace zeb;

namespace {

// A top-level window with some content of its own to compare.
std::unique_ptr<QWidget> window(const QRect& geometry, const QString& text, const QColor& background) {
  auto w = std::make_unique<QWidget>();
  w->setAutoFillBackground(true);
  QPalette palette = w->palette();
  palette.setColor(QPalette::Window, background);
  w->setPalette(palette);
  auto* layout = new QVBoxLayout(w.get());
  layout->addWidget(new QLabel(text, w.get()));
  w->setGeometry(geometry);
  w->show();
  return w;
}

bool exposed(QWidget& w) { return QTest::qWaitForWindowExposed(&w, 10000); }

QImage captured(bool withCursor) {
  const NVBitmapPtr shot = CaptureWindows(true, withCursor);
  return shot ? ToQImage(*shot) : QImage();
}

}  // namespace

TEST(zebNVBitmapCapture, OwnWindowsOnWhiteOverTheirBoundingBox) {
  // Two windows with 300 pixels between them.
  auto left = window(QRect(20, 40, 200, 150), QStringLiteral("left window"), QColor(200, 230, 255));
  auto right = window(QRect(520, 70, 200, 120), QStringLiteral("right window"), QColor(255, 220, 180));
  ASSERT_TRUE(exposed(*left));
  ASSERT_TRUE(exposed(*right));

  const QImage shot = captured(false);
  ASSERT_FALSE(shot.isNull());
  EXPECT_EQ(shot.size(), QSize(700, 150));

  for (int y = 0; y < shot.height(); y += 7)
    for (int x = 200; x < 500; x += 13) ASSERT_EQ(shot.pixel(x, y), qRgb(255, 255, 255)) << x << "," << y;
  // Above the lower window, the box is white as well.
  EXPECT_EQ(shot.pixel(600, 10), qRgb(255, 255, 255));

  for (QWidget* w : {left.get(), right.get()}) {
    const QImage own = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QPoint at = w->geometry().topLeft() - QPoint(20, 40);
    EXPECT_EQ(shot.copy(QRect(at, own.size())), own) << "window at " << at.x() << "," << at.y();
  }
}

TEST(zebNVBitmapCapture, CutToTheVirtualScreen) {
  const QRect screen = QGuiApplication::primaryScreen()->virtualGeometry();
  auto w = window(QRect(screen.right() - 99, screen.bottom() - 49, 300, 200), QStringLiteral("partly off"),
                  QColor(180, 255, 180));
  ASSERT_TRUE(exposed(*w));
  const QImage shot = captured(false);
  ASSERT_FALSE(shot.isNull());
  EXPECT_EQ(shot.size(), QSize(100, 50));
  EXPECT_EQ(shot, w->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(0, 0, 100, 50));
}

TEST(zebNVBitmapCapture, NoPictureWithEveryWindowMinimised) {
  auto w = window(QRect(30, 30, 120, 80), QStringLiteral("soon gone"), Qt::white);
  ASSERT_TRUE(exposed(*w));
  ASSERT_TRUE(CaptureScreen(true));
  w->showMinimized();
  ASSERT_TRUE(w->isMinimized());
  EXPECT_FALSE(CaptureScreen(true));
  EXPECT_FALSE(CaptureScreen(false));  // no screen to read offscreen: the program's windows again
  w->hide();
  EXPECT_FALSE(CaptureScreen(true));
}

TEST(zebNVBitmapCapture, CursorIsDrawnWhereItIs) {
  auto left = window(QRect(20, 40, 100, 100), QStringLiteral("a"), QColor(200, 200, 255));
  auto right = window(QRect(420, 40, 100, 100), QStringLiteral("b"), QColor(200, 255, 200));
  ASSERT_TRUE(exposed(*left));
  ASSERT_TRUE(exposed(*right));
  QCursor::setPos(250, 60);
  if (QCursor::pos() != QPoint(250, 60)) GTEST_SKIP() << "this platform does not move the cursor";
  const QImage with = captured(true);
  const QImage without = captured(false);
  ASSERT_EQ(with.size(), without.size());
  // The tip is black, the body white, and nothing else changed.
  const QPoint tip(250 - 20, 60 - 40);
  EXPECT_EQ(with.pixel(tip), qRgb(0, 0, 0));
  EXPECT_EQ(with.pixel(tip + QPoint(0, 8)), qRgb(0, 0, 0));  // the left edge
  EXPECT_EQ(with.pixel(tip + QPoint(2, 8)), qRgb(255, 255, 255));
  EXPECT_EQ(with.pixel(tip + QPoint(30, 0)), qRgb(255, 255, 255));
  EXPECT_EQ(with.copy(0, 0, 200, with.height()), without.copy(0, 0, 200, without.height()));
}

TEST(zebNVBitmapCapture, ImagesAndBitmapsConvertBothWays) {
  QImage image(3, 2, QImage::Format_RGB32);
  image.setPixel(0, 0, qRgb(255, 0, 0));
  image.setPixel(1, 0, qRgb(0, 255, 0));
  image.setPixel(2, 0, qRgb(0, 0, 255));
  image.setPixel(0, 1, qRgb(1, 2, 3));
  image.setPixel(1, 1, qRgb(4, 5, 6));
  image.setPixel(2, 1, qRgb(7, 8, 9));
  const NVBitmapPtr bitmap = FromQImage(image);
  ASSERT_TRUE(bitmap);
  // The top row is the last one stored, blue first.
  const auto pixels = bitmap->Pixels();
  EXPECT_EQ(pixels[12], 0);
  EXPECT_EQ(pixels[14], 255);
  EXPECT_EQ(pixels[0], 3);
  EXPECT_EQ(pixels[2], 1);
  EXPECT_EQ(ToQImage(*bitmap), image);

  QImage canvas(5, 4, QImage::Format_RGB32);
  canvas.fill(Qt::white);
  QPainter painter(&canvas);
  ASSERT_TRUE(PaintTo(*bitmap, painter, 2, 1));
  painter.end();
  EXPECT_EQ(canvas.pixel(2, 1), qRgb(255, 0, 0));
  EXPECT_EQ(canvas.pixel(4, 2), qRgb(7, 8, 9));
  EXPECT_EQ(canvas.pixel(1, 1), qRgb(255, 255, 255));
}
