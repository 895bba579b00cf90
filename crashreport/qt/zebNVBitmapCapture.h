#pragma once

// The screenshot of the crash reporter, and the bridges between its bitmaps
// and Qt. GUI thread only.

#include <QImage>
#include <QPoint>

#include "crashreport/zebNVBitmap.h"

class QPainter;

namespace zeb {

// The screenshot a report takes: the cursor drawn in. With `ownWindowsOnly`
// only what the program's visible top-level windows show, on white over
// their bounding box, cut to the virtual screen. Without it the whole virtual
// screen where the platform lets a program read it (X11), else the program's
// windows as before. None when no window of the program is visible (all
// minimised, say) or the screen cannot be read.
NVBitmapPtr CaptureScreen(bool ownWindowsOnly);
// The same with the cursor optional.
NVBitmapPtr CaptureWindows(bool ownWindowsOnly, bool withCursor);

// An arrow with its tip at `tip`.
void DrawMouseCursor(QPainter& painter, QPoint tip);

// The bitmap as a 32-bit image and back.
QImage ToQImage(const INVBitmap& bitmap);
NVBitmapPtr FromQImage(const QImage& image);

// Paints the whole bitmap with its top left corner at (x, y).
bool PaintTo(const INVBitmap& bitmap, QPainter& painter, int x, int y);

}  // namespace zeb
