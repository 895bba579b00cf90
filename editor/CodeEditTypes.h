#pragma once

// The coordinate and mode types every part of the text editor shares.

#include <cstdint>
#include <string>
#include <string_view>

namespace codeedit {

// A position in the text buffer: both 1-based.
struct TBufferCoord {
  std::int32_t CharPos = 0;
  std::int32_t LinePos = 0;
  friend bool operator==(const TBufferCoord&, const TBufferCoord&) = default;
};

// A position on the screen grid: both 1-based.
struct TDisplayCoord {
  std::int32_t Column = 0;
  std::int32_t Row = 0;
  friend bool operator==(const TDisplayCoord&, const TDisplayCoord&) = default;
};

// A colour as the framework stores it: 0x00BBGGRR, or a system colour
// 0xFF0000xx (the index of the system colour in the low byte).
using TColor = std::uint32_t;
inline constexpr TColor clNone = 0x1FFFFFFF;  // no colour of its own: the editor's colours show
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clWindow = 0xFF000005;
inline constexpr TColor clWindowText = 0xFF000008;
inline constexpr TColor clHighlight = 0xFF00000D;
inline constexpr TColor clHighlightText = 0xFF00000E;
inline constexpr TColor clBtnFace = 0xFF00000F;

// Font styles as bits: bold 1, italic 2, underline 4, strike-out 8.
using TFontStyles = std::uint8_t;
inline constexpr TFontStyles fsBold = 0x01;
inline constexpr TFontStyles fsItalic = 0x02;
inline constexpr TFontStyles fsUnderline = 0x04;
inline constexpr TFontStyles fsStrikeOut = 0x08;

// A font as a request: the control that draws turns it into a real font.
struct TCodeFontDesc {
  std::u16string Name = u"Courier New";
  int Size = 8;  // points
  TFontStyles Style = 0;
  friend bool operator==(const TCodeFontDesc&, const TCodeFontDesc&) = default;
};

enum TCodeSelectionMode : std::uint8_t { smNormal = 0, smLine = 1, smColumn = 2 };

// Turns a line into its display form; HasTabs says whether it held a TAB.
using TCodeConvertTabsProc = std::u16string (*)(std::u16string_view Line, int TabWidth, bool& HasTabs);

// Character classes of the editor's scans.
inline constexpr std::u16string_view WhiteSpaceChars = u" \t\n\r\f";
inline constexpr std::u16string_view WordChars = u"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
inline constexpr std::u16string_view LineSeparatorChars = u"\r\n\v\f\u2028\u2029\u0085";
inline constexpr std::u16string_view CRLFText = u"\r\n";
inline constexpr std::u16string_view RegexMetaChars = u"^$.[()|?+*\\{]}";

}  // namespace codeedit
