#pragma once

// Free-standing routines the editor's units share: integer and coordinate
// helpers, the tab expanders that turn a line into its display form, the
// mapping from character index to display column, character-class scans and
// the colour bands of a gradient.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "editor/CodeEditTypes.h"

namespace codeedit {

inline TDisplayCoord DisplayCoord(std::int32_t Column, std::int32_t Row) { return {Column, Row}; }
inline TBufferCoord BufferCoord(std::int32_t CharPos, std::int32_t LinePos) { return {CharPos, LinePos}; }

// Value held within Min..Max; Min wins when Max < Min.
int MinMax(int Value, int Min, int Max);
void SwapInt(int& A, int& B);
// The earlier of two buffer positions (line first, then character); P1 when equal.
TBufferCoord MinPoint(const TBufferCoord& P1, const TBufferCoord& P2);

// Lines are scanned up to their first 0 character, as the drawing code sees
// them. CharsBefore: the characters before the first TAB (or before the end).
bool GetHasTabs(std::u16string_view Line, int& CharsBefore);
// True for 2, 4, 8, ... 65536 only.
bool IsPowerOfTwo(int Value);

// The expanders keep a TAB as TAB characters, one per display column it
// spans, so display code still recognises it; only width one turns each TAB
// into a blank. A width below one acts as one.
std::u16string ConvertTabsWidthOne(std::u16string_view Line, int TabWidth, bool& HasTabs);
std::u16string ConvertTabsPowerOfTwo(std::u16string_view Line, int TabWidth, bool& HasTabs);
std::u16string ConvertTabsAnyWidth(std::u16string_view Line, int TabWidth, bool& HasTabs);
TCodeConvertTabsProc GetBestConvertTabsProc(int TabWidth);

// Display length of a line: a TAB moves to the next multiple of TabWidth.
int ExpandedTextLength(std::u16string_view Line, int TabWidth);
// 1-based display column of the 1-based character Index; characters past the
// end of the line count one column each.
int CharIndexToColumn(int Index, int TabWidth, std::u16string_view Line);

using TCodeCharTest = std::function<bool(char16_t)>;
// The first 1-based position from Start on whose character IsDelimiter
// accepts; 0 when none or when Start lies outside the line.
int ScanForward(std::u16string_view Line, int Start, const TCodeCharTest& IsDelimiter);
// The last such position from Start down to 1; 0 when none or Start outside.
int ScanBackward(std::u16string_view Line, int Start, const TCodeCharTest& IsDelimiter);
// The editor's word breaks when no highlighter says otherwise: controls,
// blanks and the ASCII punctuation but the underscore, and the section,
// degree and acute signs.
bool IsDefaultWordBreakChar(char16_t Ch);
// The first CR, LF or 0 character from P; nullptr for nullptr.
const char16_t* FindLineEnd(const char16_t* P);

// A gradient as bands of plain colour; the painter fills them in order.
struct TGradientRgb {
  std::uint8_t R = 0, G = 0, B = 0;
  friend bool operator==(const TGradientRgb&, const TGradientRgb&) = default;
};
struct TGradientRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend bool operator==(const TGradientRect&, const TGradientRect&) = default;
};
struct TGradientBand {
  TGradientRect Rect;
  TGradientRgb Color;
};
// Steps is held within 2..256; the first band is exactly StartColor and the
// last exactly EndColor. Horizontal bands run along the width.
std::vector<TGradientBand> GradientBands(TGradientRgb StartColor, TGradientRgb EndColor, bool Horizontal,
                                         const TGradientRect& Rect, int Steps);

// Compares identifiers and names without regard to the case of A-Z: < 0, 0
// or > 0.
int CompareTextAscii(std::string_view A, std::string_view B);
inline bool SameTextAscii(std::string_view A, std::string_view B) { return CompareTextAscii(A, B) == 0; }

}  // namespace codeedit
