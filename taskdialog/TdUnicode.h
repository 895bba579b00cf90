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

#include <memory>
#include <vector>

#include <QList>
#include <QPointF>

class QPainter;

// Wide text calls exist on every platform Qt runs on.
inline constexpr bool WideCallsAvailable = true;

// A text's width and height in a font, as one line without hotkey marks.
class TTdTextMetrics {
 public:
  virtual ~TTdTextMetrics() = default;
  virtual int textWidth(const QFont& Font, QStringView Text) const = 0;
  virtual int textHeight(const QFont& Font, QStringView Text) const = 0;
  // The width of every prefix of Text from one pass over its characters:
  // element k is the width of its first k UTF-16 units (k = 0 … size).
  // Empty when the metrics cannot give them that way (text that needs
  // shaping); the default measures each prefix.
  virtual std::vector<int> prefixWidths(const QFont& Font, QStringView Text) const;
};

// The metrics of the fonts Qt renders with. Text of Latin letters, digits
// and punctuation is measured from the font's kerned glyph advances, one
// pass and no shaping, for fonts where that gives Qt's own shaped widths
// (checked once per font; single widths may still differ by a pixel where
// Qt rounds a hinted glyph otherwise); all other text is shaped, and has no
// prefix widths. Main thread only.
class TTdFontMetrics final : public TTdTextMetrics {
 public:
  TTdFontMetrics();
  ~TTdFontMetrics() override;
  int textWidth(const QFont& Font, QStringView Text) const override;
  int textHeight(const QFont& Font, QStringView Text) const override;
  std::vector<int> prefixWidths(const QFont& Font, QStringView Text) const override;

 private:
  struct Cache;
  // The kerned advances of Text's glyphs when it can be measured that way.
  bool advances(const QFont& Font, QStringView Text, QList<QPointF>& Advances) const;
  std::unique_ptr<Cache> FCache;
};
const TTdTextMetrics& TdScreenMetrics();

int WideTextWidth(const QFont& Font, QStringView Text);
int WideTextHeight(const QFont& Font, QStringView Text);

// Draws Text in Rect with the painter's font and pen; Flags are Qt's
// alignment and text flags. With Calc nothing is drawn and Rect becomes the
// text's bounds.
void DrawTextWide(QPainter& Painter, QStringView Text, int Flags, QRect& Rect, bool Calc = false);
