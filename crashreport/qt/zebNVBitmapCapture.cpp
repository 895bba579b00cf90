#include "crashreport/qt/zebNVBitmapCapture.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cstring>

namespace zeb {

namespace {

// The program's windows a user can see, bottom of the stack first as far as
// Qt tells: the active window above the others, pop-ups and tool tips on top.
QList<QWidget*> visibleOwnWindows() {
  QList<QWidget*> plain, active, popups;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!w->isVisible() || w->isMinimized()) continue;
    if (w->width() <= 0 && w->height() <= 0) continue;
    const Qt::WindowType type = w->windowType();
    if (type == Qt::Desktop) continue;
    if (type == Qt::Popup || type == Qt::ToolTip)
      popups.append(w);
    else if (w == QApplication::activeWindow())
      active.append(w);
    else
      plain.append(w);
  }
  return plain + active + popups;
}

QRect virtualScreen() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->virtualGeometry() : QRect();
}

// The whole virtual screen from the window system; a null image where the
// platform does not give other programs' pixels.
QImage grabWholeScreen(const QRect& area) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return {};
  QImage image(area.size(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  bool any = false;
  for (QScreen* screen : QGuiApplication::screens()) {
    const QPixmap shot = screen->grabWindow(0);
    if (shot.isNull()) continue;
    painter.drawPixmap(QRect(screen->geometry().topLeft() - area.topLeft(), screen->geometry().size()), shot);
    any = true;
  }
  painter.end();
  return any ? image : QImage();
}

}  // namespace

void DrawMouseCursor(QPainter& painter, QPoint tip) {
  // The shape of the usual arrow pointer, 12 x 19 pixels.
  static const QPointF kArrow[] = {{0, 0}, {0, 16}, {4, 12}, {7, 18.5}, {9.5, 17.5}, {6.5, 11.5}, {11.5, 11.5}};
  QPainterPath path;
  path.moveTo(kArrow[0]);
  for (std::size_t i = 1; i < std::size(kArrow); ++i) path.lineTo(kArrow[i]);
  path.closeSubpath();
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.translate(tip);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(Qt::white);
  painter.drawPath(path);
  painter.restore();
}

NVBitmapPtr CaptureWindows(bool ownWindowsOnly, bool withCursor) {
  const QRect screen = virtualScreen();
  if (!screen.isValid()) return nullptr;
  const QList<QWidget*> windows = visibleOwnWindows();
  if (!ownWindowsOnly) {
    QImage whole = grabWholeScreen(screen);
    if (!whole.isNull()) {
      if (withCursor) {
        QPainter painter(&whole);
        DrawMouseCursor(painter, QCursor::pos() - screen.topLeft());
      }
      return FromQImage(whole);
    }
  }
  QRect area;
  for (QWidget* w : windows) area |= w->geometry();
  area &= screen;
  if (area.isEmpty()) return nullptr;

  QImage image(area.size(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  for (QWidget* w : windows) {
    const QPixmap shot = w->grab();
    if (shot.isNull()) continue;
    // Drawn into the window's logical size, whatever the screen's pixel ratio.
    painter.drawPixmap(QRect(w->geometry().topLeft() - area.topLeft(), w->geometry().size()), shot);
  }
  if (withCursor) DrawMouseCursor(painter, QCursor::pos() - area.topLeft());
  painter.end();
  return FromQImage(image);
}

NVBitmapPtr CaptureScreen(bool ownWindowsOnly) { return CaptureWindows(ownWindowsOnly, true); }

QImage ToQImage(const INVBitmap& bitmap) {
  const int w = bitmap.PixelWidth(), h = bitmap.PixelHeight();
  QImage image(w, h, QImage::Format_RGB32);
  if (image.isNull()) return image;
  const auto pixels = bitmap.Pixels();
  for (int y = 0; y < h; ++y) {
    // Stored bottom-up; the unused byte becomes opaque alpha.
    const std::uint8_t* src = pixels.data() + std::size_t(h - 1 - y) * std::size_t(w) * 4;
    QRgb* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < w; ++x, src += 4) dst[x] = qRgb(src[2], src[1], src[0]);
  }
  return image;
}

NVBitmapPtr FromQImage(const QImage& source) {
  if (source.isNull()) return nullptr;
  const QImage image = source.convertToFormat(QImage::Format_RGB32);
  auto bitmap = TINVBitmap::Create(image.width(), image.height());
  if (!bitmap) return nullptr;
  const int w = image.width(), h = image.height();
  auto pixels = bitmap->Pixels();
  for (int y = 0; y < h; ++y) {
    const QRgb* src = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    std::uint8_t* dst = pixels.data() + std::size_t(h - 1 - y) * std::size_t(w) * 4;
    for (int x = 0; x < w; ++x, dst += 4) {
      dst[0] = std::uint8_t(qBlue(src[x]));
      dst[1] = std::uint8_t(qGreen(src[x]));
      dst[2] = std::uint8_t(qRed(src[x]));
    }
  }
  return bitmap;
}

bool PaintTo(const INVBitmap& bitmap, QPainter& painter, int x, int y) {
  const QImage image = ToQImage(bitmap);
  if (image.isNull() || !painter.isActive()) return false;
  painter.drawImage(QPoint(x, y), image);
  return true;
}

}  // namespace zeb
