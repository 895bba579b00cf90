#include "editor/CodeTextDrawer.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <cmath>
#include <vector>

#include "editor/CodeEditGlyphs.h"
#include "editor/CodeEditMiscProcs.h"
#include "png/qt/PngIconList.h"

namespace codeedit {

namespace {

QRect ToQRect(const TCodeRect& R) { return QRect(R.Left, R.Top, R.Width(), R.Height()); }

}  // namespace

QColor CodeColorToQColor(TColor Color) { return CodeColorToQColor(Color, QGuiApplication::palette()); }

QColor CodeColorToQColor(TColor Color, const QPalette& Palette) {
  if ((Color & 0xFF000000u) == 0xFF000000u) {
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

namespace codeedit {

TCodePainterDrawer::TCodePainterDrawer(QPainter& Painter, TheTextDrawer& Text, const QPalette& Palette,
                                       TInternalImages Images)
    : FPainter(Painter), FText(Text), FPalette(Palette), FImages(std::move(Images)) {
  SetGutterFont(nullptr);
}

void TCodePainterDrawer::FillRect(const TCodeRect& Rect, TColor Color) {
  if (!Rect.IsEmpty())
    FPainter.fillRect(ToQRect(Rect), Resolve(Color));
}

void TCodePainterDrawer::GradientFill(const TCodeRect& Rect, TColor From, TColor To, int Steps) {
  const QColor A = Resolve(From);
  const QColor B = Resolve(To);
  const TGradientRgb Start{static_cast<std::uint8_t>(A.red()), static_cast<std::uint8_t>(A.green()),
                           static_cast<std::uint8_t>(A.blue())};
  const TGradientRgb End{static_cast<std::uint8_t>(B.red()), static_cast<std::uint8_t>(B.green()),
                         static_cast<std::uint8_t>(B.blue())};
  for (const TGradientBand& Band :
       GradientBands(Start, End, true, {Rect.Left, Rect.Top, Rect.Right, Rect.Bottom}, Steps)) {
    const TGradientRect& R = Band.Rect;
    FPainter.fillRect(QRect(R.Left, R.Top, R.Right - R.Left, R.Bottom - R.Top),
                      QColor(Band.Color.R, Band.Color.G, Band.Color.B));
  }
}

void TCodePainterDrawer::TextPart(const TCodeTextPart& Part) {
  if (Part.Rect.IsEmpty())
    return;
  const QRect Rect = ToQRect(Part.Rect);
  FPainter.fillRect(Rect, Resolve(Part.Background));
  if (Part.Text.empty())
    return;
  FPainter.save();
  FPainter.setClipRect(Rect, Qt::IntersectClip);
  FText.SetStyle(Part.Style);
  FText.DrawRun(FPainter, Part.X, Part.Y, Part.Text, Resolve(Part.Foreground));
  FPainter.restore();
}

void TCodePainterDrawer::VerticalLine(int X, int Top, int Bottom, TColor Color) {
  if (Bottom > Top)
    FPainter.fillRect(QRect(X, Top, 1, Bottom - Top), Resolve(Color));
}

int TCodePainterDrawer::Overhang(char16_t Ch, TFontStyles Style) {
  const QFontMetricsF Metrics(TheTextDrawer::StyledFont(FText.BaseFont(), Style));
  const qreal Bearing = Metrics.rightBearing(QChar(Ch));
  return Bearing < 0 ? static_cast<int>(std::ceil(-Bearing)) : 0;
}

QFont TCodePainterDrawer::GutterQFont(const TCodeFontDesc& Font) {
  QFont Result(QString::fromStdU16String(Font.Name), Font.Size > 0 ? Font.Size : 8);
  Result.setStyleHint(QFont::TypeWriter);
  return TheTextDrawer::StyledFont(Result, Font.Style);
}

void TCodePainterDrawer::SetGutterFont(const TCodeFontDesc* Font) {
  FGutterFont = Font != nullptr ? GutterQFont(*Font) : TheTextDrawer::StyledFont(FText.BaseFont(), 0);
}

int TCodePainterDrawer::GutterTextWidth(std::u16string_view Text) {
  return QFontMetrics(FGutterFont).horizontalAdvance(
      QString(reinterpret_cast<const QChar*>(Text.data()), static_cast<qsizetype>(Text.size())));
}

int TCodePainterDrawer::GutterTextHeight() { return QFontMetrics(FGutterFont).height(); }

void TCodePainterDrawer::GutterText(int X, int Y, std::u16string_view Text, TColor Foreground,
                                    const TCodeRect& Opaque, TColor Background) {
  if (!Opaque.IsEmpty())
    FPainter.fillRect(ToQRect(Opaque), Resolve(Background));
  FPainter.setFont(FGutterFont);
  FPainter.setPen(Resolve(Foreground));
  FPainter.drawText(QPoint(X, Y + QFontMetrics(FGutterFont).ascent()),
                    QString(reinterpret_cast<const QChar*>(Text.data()), static_cast<qsizetype>(Text.size())));
}

void TCodePainterDrawer::InternalImage(int Index, int X, int Y, int LineHeight) {
  if (FImages)
    FImages().Draw(FPainter, Index, X, Y, LineHeight);
}

int TCodePainterDrawer::ImageCount(const TPngIconList* List) { return List != nullptr ? List->Count() : 0; }

void TCodePainterDrawer::Image(const TPngIconList* List, int Index, int X, int Y) {
  if (List != nullptr)
    List->DrawImage(FPainter, X, Y, Index, true);
}

void TCodePainterDrawer::Glyph(const TCodeGlyph& Glyph, int X, int Y, int LineHeight) {
  Glyph.Draw(FPainter, X, Y, LineHeight);
}

}  // namespace codeedit
