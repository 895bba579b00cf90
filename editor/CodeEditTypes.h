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
