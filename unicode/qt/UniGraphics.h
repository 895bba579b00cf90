#pragma once

// Measuring and drawing wide text with Windows DrawText flags, and the
// shortening of a wrapped text until it fits a height.

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringView>

#include <functional>

class QPainter;

namespace uni {

inline constexpr unsigned DT_TOP = 0x0;
inline constexpr unsigned DT_LEFT = 0x0;
inline constexpr unsigned DT_CENTER = 0x1;
inline constexpr unsigned DT_RIGHT = 0x2;
inline constexpr unsigned DT_VCENTER = 0x4;
inline constexpr unsigned DT_BOTTOM = 0x8;
inline constexpr unsigned DT_WORDBREAK = 0x10;
inline constexpr unsigned DT_SINGLELINE = 0x20;
inline constexpr unsigned DT_EXPANDTABS = 0x40;
inline constexpr unsigned DT_NOCLIP = 0x100;
inline constexpr unsigned DT_CALCRECT = 0x400;
inline constexpr unsigned DT_NOPREFIX = 0x800;
inline constexpr unsigned DT_PATH_ELLIPSIS = 0x4000;
inline constexpr unsigned DT_END_ELLIPSIS = 0x8000;
inline constexpr unsigned DT_RTLREADING = 0x20000;
inline constexpr unsigned DT_WORD_ELLIPSIS = 0x40000;

// The size of Text as one line in Font; a zero size for an empty text's
// width (its height is still the line's).
QSize WideCanvasTextExtent(const QFont& Font, QStringView Text);
int WideCanvasTextWidth(const QFont& Font, QStringView Text);
int WideCanvasTextHeight(const QFont& Font, QStringView Text);

// Draws Text in Rect with the painter's font and pen. Without DT_NOPREFIX the
// caption's hotkey is underlined (the last single "&", as captions mean it).
// With DT_CALCRECT nothing is drawn: Rect's width (when wrapping) or its
// right and bottom grow or shrink to the text's bounds. Returns the text's
// height.
int WideDrawText(QPainter& Painter, QStringView Text, QRect& Rect, unsigned Format);
// The same measurement without a painter.
int WideMeasureText(const QFont& Font, QStringView Text, QRect& Rect, unsigned Format);

// The label's shortening of a wrapped text: the trial text (first the whole
// text) is measured; while its height is above both ClientHeight and
// FontHeight, the text is cut before its last blank or TAB (or loses its last
// character when it has none) and the trial becomes the cut text and "...".
// Draw is false when the cut text became empty: nothing is drawn then.
struct TShortenedText {
  QString Text;
  bool Draw = true;
};
using TMeasureHeight = std::function<int(const QString&)>;
TShortenedText WideShortenToFit(const QString& Text, const TMeasureHeight& MeasureHeight,
                                int ClientHeight, int FontHeight);

}  // namespace uni
