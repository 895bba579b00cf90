#pragma once

// Keeping windows on the screens there are. A placement saved on another
// monitor layout, or a window centred over a parent that stands near a
// screen's edge, can come up partly or wholly off-screen, with its title bar
// out of reach. The arithmetic is plain rectangles, so tests give it screens
// of any layout; the guard applies it to a real window as it is shown.

#include <QList>
#include <QMargins>
#include <QObject>
#include <QRect>

class QWidget;

// The frame rectangle moved (and shrunk when it is larger) so that it lies
// wholly inside one of the available areas: the area it overlaps most, else
// the one nearest to it. A frame inside an area already comes back as it is;
// with no areas nothing changes.
QRect frameOnScreens(const QRect& frame, const QList<QRect>& available);

// The available areas of the screens the application has.
QList<QRect> availableScreenAreas();

// Moves a window onto a screen when it is shown (its client area, with the
// frame margins the window system reports, counting as the frame). Installed
// as an event filter on the window, which becomes its parent.
class OnScreenGuard final : public QObject {
public:
  // The guard watches `window` from now on; the window owns it.
  static OnScreenGuard* install(QWidget& window);
  // Moves the window onto a screen now; true when it had to move.
  static bool keepOnScreen(QWidget& window, const QList<QRect>& available);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  explicit OnScreenGuard(QWidget& window);
  QWidget& FWindow;
};
