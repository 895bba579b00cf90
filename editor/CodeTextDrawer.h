#pragma once

// Draws the editor's text in a grid of equal cells whatever the font: each
// character is placed at a multiple of the cell width, whatever its own
// advance. The cell is measured in the cell style (bold), so bold text never
// spills into the next cell.

#include <QColor>
#include <QFont>
#include <QRawFont>

#include <array>
#include <string_view>
#include <unordered_map>

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

}  // namespace codeedit
