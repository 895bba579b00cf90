#pragma once

// Measuring and drawing the dialogs' wide text. Qt's text calls are wide
// throughout, so the wide-or-8-bit routines collapse to QFontMetrics and
// QPainter, and no dialog text is ever kept as 8-bit text.
//
// Layout code measures through TTdTextMetrics, so it runs and is tested with
// fixed numbers and no display.

#include <QFont>
#include <QRect>
#include <QString>
#include <QStringView>

class QPainter;

// Wide text calls exist on every platform Qt runs on.
inline constexpr bool WideCallsAvailable = true;

// A text's width and height in a font, as one line without hotkey marks.
class TTdTextMetrics {
 public:
  virtual ~TTdTextMetrics() = default;
  virtual int textWidth(const QFont& Font, QStringView Text) const = 0;
  virtual int textHeight(const QFont& Font, QStringView Text) const = 0;
};

// The metrics of the fonts Qt renders with.
class TTdFontMetrics final : public TTdTextMetrics {
 public:
  int textWidth(const QFont& Font, QStringView Text) const override;
  int textHeight(const QFont& Font, QStringView Text) const override;
};
const TTdTextMetrics& TdScreenMetrics();

int WideTextWidth(const QFont& Font, QStringView Text);
int WideTextHeight(const QFont& Font, QStringView Text);

// Draws Text in Rect with the painter's font and pen; Flags are Qt's
// alignment and text flags. With Calc nothing is drawn and Rect becomes the
// text's bounds.
void DrawTextWide(QPainter& Painter, QStringView Text, int Flags, QRect& Rect, bool Calc = false);
