#pragma once

// What the editor's painting asks of a canvas. The model decides every cell,
// colour and style; a drawer only puts them somewhere. The control's drawer
// paints with QPainter, tests record the calls.

#include <string>
#include <string_view>

#include "editor/CodeEditTypes.h"

class TPngIconList;

namespace codeedit {

class TCodeGlyph;

// A rectangle in client pixels; Right and Bottom lie just outside it.
struct TCodeRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  friend bool operator==(const TCodeRect&, const TCodeRect&) = default;
};

// One piece of a text row in one set of colours and one style.
struct TCodeTextPart {
  // The pixel of Text's first cell; it may lie left of Rect when a wide
  // glyph begins before the part.
  int X = 0;
  int Y = 0;
  // Filled with Background; the text is clipped to it.
  TCodeRect Rect;
  // Display form: U+E000 fillers stand before a wide glyph and take a cell
  // each, as does every other character; a filler or a control character
  // draws nothing.
  std::u16string Text;
  // The display columns Rect covers.
  int FirstColumn = 0;
  int LastColumn = 0;
  TColor Foreground = clNone;
  TColor Background = clNone;
  TFontStyles Style = 0;
  bool Selected = false;
};

class CodeEditDrawer {
public:
  virtual ~CodeEditDrawer() = default;

  virtual void FillRect(const TCodeRect& Rect, TColor Color) = 0;
  // Bands of colour from From (left) to To (right) over Rect.
  virtual void GradientFill(const TCodeRect& Rect, TColor From, TColor To, int Steps) = 0;
  virtual void TextPart(const TCodeTextPart& Part) = 0;
  // A one-pixel line from Top to just above Bottom.
  virtual void VerticalLine(int X, int Top, int Bottom, TColor Color) = 0;
  // The pixels a character of Style inks beyond its cell on the right
  // (italic and bold faces); 0 when it stays inside.
  virtual int Overhang(char16_t Ch, TFontStyles Style) {
    (void)Ch;
    (void)Style;
    return 0;
  }

  // Gutter texts are written in the gutter's font when one is given, else
  // in the plain style of the editor's font.
  virtual void SetGutterFont(const TCodeFontDesc* Font) = 0;
  virtual int GutterTextWidth(std::u16string_view Text) = 0;
  virtual int GutterTextHeight() = 0;
  // Text at (X, Y), unclipped; Opaque (when not empty) is filled with
  // Background first.
  virtual void GutterText(int X, int Y, std::u16string_view Text, TColor Foreground, const TCodeRect& Opaque,
                          TColor Background) = 0;

  // The built-in bookmark picture Index (0..9), within a row of LineHeight.
  virtual void InternalImage(int Index, int X, int Y, int LineHeight) = 0;
  // Pictures of an image list of the program's.
  virtual int ImageCount(const TPngIconList* List) = 0;
  virtual void Image(const TPngIconList* List, int Index, int X, int Y) = 0;
  // A glyph's picture with its top left at (X, Y), placed within a row of
  // LineHeight as the glyph places itself.
  virtual void Glyph(const TCodeGlyph& Glyph, int X, int Y, int LineHeight) = 0;
};

}  // namespace codeedit
