#include "editor/CodeTextDrawer.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <cmath>
#include <vector>

namespace codeedit {

QColor CodeColorToQColor(TColor Color) {
  if ((Color & 0xFF000000u) == 0xFF000000u) {
    const QPalette Palette = QGuiApplication::palette();
    switch (Color & 0xFFu) {
      case 5: return Palette.color(QPalette::Base);
      case 8: return Palette.color(QPalette::Text);
      case 13: return Palette.color(QPalette::Highlight);
      case 14: return Palette.color(QPalette::HighlightedText);
      case 15: return Palette.color(QPalette::Button);
      default: return Palette.color(QPalette::WindowText);
    }
  }
  return QColor(static_cast<int>(Color & 0xFF), static_cast<int>((Color >> 8) & 0xFF),
                static_cast<int>((Color >> 16) & 0xFF));
}

TheTextDrawer::TheTextDrawer(TFontStyles CellStyle, const QFont& BaseFont) : FCellStyle(CellStyle) {
  SetBaseFont(BaseFont);
}

QFont TheTextDrawer::StyledFont(const QFont& Base, TFontStyles Style) {
  QFont F(Base);
  F.setBold((Style & fsBold) != 0);
  F.setItalic((Style & fsItalic) != 0);
  F.setUnderline((Style & fsUnderline) != 0);
  F.setStrikeOut((Style & fsStrikeOut) != 0);
  return F;
}

void TheTextDrawer::SetBaseFont(const QFont& Value) {
  FBaseFont = Value;
  FRawFontsMade.fill(false);
  Measure();
}

void TheTextDrawer::SetBaseStyle(TFontStyles Value) {
  if (Value == FCellStyle)
    return;
  FCellStyle = Value;
  Measure();
}

void TheTextDrawer::SetStyle(TFontStyles Value) { FStyle = Value & 0x0F; }

void TheTextDrawer::SetCharExtra(int Value) {
  if (Value == FExtraSpacing)
    return;
  FExtraSpacing = Value;
  FCells.clear();
}

void TheTextDrawer::Measure() {
  FCells.clear();
  const QFontMetricsF Metrics(StyledFont(FBaseFont, FCellStyle));
  FBaseWidth = std::max(1, static_cast<int>(std::ceil(Metrics.horizontalAdvance(QLatin1Char('M')))));
  FBaseHeight = std::max(1, static_cast<int>(std::ceil(Metrics.height())));
  FBaseAscent = static_cast<int>(std::ceil(Metrics.ascent()));
}

int TheTextDrawer::CharCells(char16_t Ch) {
  auto It = FCells.find(Ch);
  if (It != FCells.end())
    return It->second;
  const QFontMetricsF Metrics(FBaseFont);
  const qreal Width = Metrics.horizontalAdvance(QChar(Ch));
  const int Cells = Width <= 0 ? 0 : static_cast<int>(std::ceil(Width / CellWidth()));
  FCells.emplace(Ch, Cells);
  return Cells;
}

const QRawFont& TheTextDrawer::RawFont(TFontStyles Style) {
  const std::size_t Index = Style & 0x0F;
  if (!FRawFontsMade[Index]) {
    FRawFonts[Index] = QRawFont::fromFont(StyledFont(FBaseFont, Style));
    FRawFontsMade[Index] = true;
  }
  return FRawFonts[Index];
}

void TheTextDrawer::DrawRun(QPainter& Painter, int X, int Y, std::u16string_view Text, const QColor& Color) {
  const QRawFont& Raw = RawFont(FStyle);
  if (!Raw.isValid() || Text.empty())
    return;
  QString Chars;
  std::vector<QPointF> Positions;
  const int Cell = CellWidth();
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const char16_t C = Text[i];
    if (C == u'\uE000' || C == u'\t' || C < 32)
      continue;
    // A wide glyph's fillers stand before it: its first cell is the first filler.
    std::size_t First = i;
    while (First > 0 && Text[First - 1] == u'\uE000')
      --First;
    Chars.append(QChar(C));
    Positions.emplace_back(X + static_cast<qreal>(First) * Cell, Y + FBaseAscent);
  }
  if (Chars.isEmpty())
    return;
  QList<quint32> Glyphs = Raw.glyphIndexesForString(Chars);
  if (Glyphs.size() != static_cast<qsizetype>(Positions.size()))
    return;
  QGlyphRun Run;
  Run.setRawFont(Raw);
  Run.setGlyphIndexes(Glyphs);
  Run.setPositions(QList<QPointF>(Positions.begin(), Positions.end()));
  Run.setUnderline((FStyle & fsUnderline) != 0);
  Run.setStrikeOut((FStyle & fsStrikeOut) != 0);
  Painter.setPen(Color);
  Painter.drawGlyphRun(QPointF(0, 0), Run);
}

}  // namespace codeedit
