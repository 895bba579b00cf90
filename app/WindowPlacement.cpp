#include "app/WindowPlacement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <climits>

namespace {

long long overlapArea(const QRect& a, const QRect& b) {
  const QRect both = a.intersected(b);
  return both.isEmpty() ? 0 : static_cast<long long>(both.width()) * both.height();
}

// Squared distance between the centres, for frames that overlap no area.
long long centreDistance(const QRect& a, const QRect& b) {
  const long long dx = a.center().x() - b.center().x();
  const long long dy = a.center().y() - b.center().y();
  return dx * dx + dy * dy;
}

int clampedStart(int start, int length, int areaStart, int areaLength) {
  // The window's top left stays reachable when it is larger than the area.
  return std::max(areaStart, std::min(start, areaStart + areaLength - length));
}

}  // namespace

QRect frameOnScreens(const QRect& frame, const QList<QRect>& available) {
  const QRect* best = nullptr;
  long long bestOverlap = 0, bestDistance = LLONG_MAX;
  for (const QRect& area : available) {
    if (area.isEmpty()) continue;
    const long long overlap = overlapArea(frame, area);
    const long long distance = centreDistance(frame, area);
    if (overlap > bestOverlap || (overlap == bestOverlap && bestOverlap == 0 && distance < bestDistance)) {
      best = &area;
      bestOverlap = overlap;
      bestDistance = distance;
    }
  }
  if (!best || frame.isEmpty()) return frame;
  const QRect& area = *best;
  const int width = std::min(frame.width(), area.width());
  const int height = std::min(frame.height(), area.height());
  return QRect(clampedStart(frame.x(), width, area.x(), area.width()),
               clampedStart(frame.y(), height, area.y(), area.height()), width, height);
}

QList<QRect> availableScreenAreas() {
  QList<QRect> areas;
  for (const QScreen* screen : QGuiApplication::screens()) areas << screen->availableGeometry();
  return areas;
}

OnScreenGuard::OnScreenGuard(QWidget& window) : QObject(&window), FWindow(window) {}

OnScreenGuard* OnScreenGuard::install(QWidget& window) {
  auto* guard = new OnScreenGuard(window);
  window.installEventFilter(guard);
  return guard;
}

bool OnScreenGuard::keepOnScreen(QWidget& window, const QList<QRect>& available) {
  if (window.isMaximized() || window.isFullScreen() || window.isMinimized()) return false;
  // The frame as the window system reports it; before the window manager
  // has framed the window it is the client area alone.
  const QRect client = window.geometry();
  const QRect frame = window.frameGeometry();
  const QMargins margins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                         frame.bottom() - client.bottom());
  const QRect placed = frameOnScreens(frame, available);
  if (placed == frame) return false;
  window.setGeometry(placed.marginsRemoved(margins));
  return true;
}

bool OnScreenGuard::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &FWindow && event->type() == QEvent::Show) {
    keepOnScreen(FWindow, availableScreenAreas());
    // The window manager frames the window after it is mapped; look again
    // once that has been reported, so the title bar is on the screen too.
    QTimer::singleShot(0, this, [this] {
      if (FWindow.isVisible()) keepOnScreen(FWindow, availableScreenAreas());
    });
  }
  return QObject::eventFilter(watched, event);
}
