#pragma once

// Draws the editor's text in a grid of equal cells whatever the font: each
// character is placed at a multiple of the cell width, whatever its own
// advance. The cell is measured in the cell style (bold), so bold text never
// spills into the next cell.

#include <QColor>
#include <QFont>
#include <QRawFont>

#include <QPalette>

#include <array>
#include <functional>
#include <string_view>
#include <unordered_map>

#include "editor/CodeEditDrawer.h"
#include "editor/CodeEditTypes.h"

class QPainter;

namespace codeedit {

class TheTextDrawer {
public:
  TheTextDrawer(TFontStyles CellStyle, const QFont& BaseFont);

  void SetBaseFont(const QFont& Value);
  const QFont& BaseFont() const { return FBaseFont; }
  void SetBaseStyle(TFontStyles Value);
  TFontStyles BaseStyle() const { return FCellStyle; }
  // The style runs are drawn in from now on.
  void SetStyle(TFontStyles Value);
  TFontStyles Style() const { return FStyle; }
  void SetCharExtra(int Value);
  int CharExtra() const { return FExtraSpacing; }

  int CellWidth() const { return FBaseWidth + FExtraSpacing; }
  int CellHeight() const { return FBaseHeight; }
  // ceil(advance / cell width) in the base font; 0 for a character drawn
  // zero pixels wide. Kept per code point: the glyph expander asks for every
  // character of every shown line.
  int CharCells(char16_t Ch);

  // Draws Text (a display form: U+E000 fillers and TABs take a cell each and
  // draw nothing) with its first cell at X; Y is the top of the row.
  void DrawRun(QPainter& Painter, int X, int Y, std::u16string_view Text, const QColor& Color);

  static QFont StyledFont(const QFont& Base, TFontStyles Style);

private:
  void Measure();
  const QRawFont& RawFont(TFontStyles Style);

  QFont FBaseFont;
  TFontStyles FCellStyle;
  TFontStyles FStyle = 0;
  int FExtraSpacing = 0;
  int FBaseWidth = 0;
  int FBaseHeight = 0;
  int FBaseAscent = 0;
  std::unordered_map<char16_t, int> FCells;
  std::array<QRawFont, 16> FRawFonts;
  std::array<bool, 16> FRawFontsMade{};
};

// A framework colour as a QColor: 0x00BBGGRR or a system colour.
QColor CodeColorToQColor(TColor Color);
// The same with system colours taken from Palette.
QColor CodeColorToQColor(TColor Color, const QPalette& Palette);

class TCodeInternalImage;

// The editor's painting on a QPainter: text in cells through the text
// drawer, system colours from the widget's palette.
class TCodePainterDrawer : public CodeEditDrawer {
public:
  using TInternalImages = std::function<const TCodeInternalImage&()>;
  TCodePainterDrawer(QPainter& Painter, TheTextDrawer& Text, const QPalette& Palette, TInternalImages Images);

  void FillRect(const TCodeRect& Rect, TColor Color) override;
  void GradientFill(const TCodeRect& Rect, TColor From, TColor To, int Steps) override;
  void TextPart(const TCodeTextPart& Part) override;
  void VerticalLine(int X, int Top, int Bottom, TColor Color) override;
  int Overhang(char16_t Ch, TFontStyles Style) override;
  void SetGutterFont(const TCodeFontDesc* Font) override;
  int GutterTextWidth(std::u16string_view Text) override;
  int GutterTextHeight() override;
  void GutterText(int X, int Y, std::u16string_view Text, TColor Foreground, const TCodeRect& Opaque,
                  TColor Background) override;
  void InternalImage(int Index, int X, int Y, int LineHeight) override;
  int ImageCount(const TPngIconList* List) override;
  void Image(const TPngIconList* List, int Index, int X, int Y) override;
  void Glyph(const TCodeGlyph& Glyph, int X, int Y, int LineHeight) override;

  // The font a gutter font description stands for.
  static QFont GutterQFont(const TCodeFontDesc& Font);

private:
  QColor Resolve(TColor Color) const { return CodeColorToQColor(Color, FPalette); }

  QPainter& FPainter;
  TheTextDrawer& FText;
  QPalette FPalette;
  TInternalImages FImages;
  QFont FGutterFont;
};

}  // namespace codeedit
