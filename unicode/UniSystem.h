#pragma once

// Conversions between UTF-16 and 8-bit text in a code page, with UTF-7 and
// UTF-8 as the code pages 65000 and 65001, and the byte swap of big-endian
// UTF-16.
//
// UTF-7 is our own codec: the encoder writes the optional direct characters
// as they stand, writes a plus sign as "+-" and ends a base64 run at the end
// of the text without the closing "-" (other encoders write one; decoders,
// ours included, accept both). UTF-8 is the WTF-8 of platform/Text.h, so lone
// surrogates survive. Every other page goes through platform/Text.h.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "unicode/UniErrors.h"

namespace uni {

inline constexpr unsigned CP_ACP = 0;
inline constexpr unsigned CP_UTF7 = 65000;
inline constexpr unsigned CP_UTF8 = 65001;

// The system's 8-bit code page: the process's active code page.
unsigned DefaultAnsiCodePage();

// CP_ACP means DefaultAnsiCodePage. A code page iconv does not know gives an
// empty text, as does an empty input; nothing is raised (UTF7ToWide's errors
// for 65000 excepted).
std::u16string CodePageToWide(std::string_view S, unsigned CodePage);
std::string WideToCodePage(std::u16string_view W, unsigned CodePage);

std::string WideToUTF8(std::u16string_view W);
std::u16string UTF8ToWide(std::string_view S);

// Raise EUniGeneralError "Invalid UTF7" for invalid input (no partial result)
// and EUniInternalError "Buffer overflow" if the output estimate was short.
std::string WideToUTF7(std::u16string_view W);
std::u16string UTF7ToWide(std::string_view S);

// The outcome of the buffer-level UTF-7 routines.
enum TUtf7Result : int {
  utf7Ok = 0,
  utf7Invalid = 1,     // decoding only; the conversion still runs to the end
  utf7BufferFull = 2,  // the conversion stopped where the output ran out
};

// Encodes [Source, SourceEnd) into [Target, TargetEnd). Strict writes only
// RFC 2152's set D and white space directly; otherwise set O goes direct
// too. Both pointers are left after what was converted.
TUtf7Result ConvertUTF16ToUTF7(const char16_t*& Source, const char16_t* SourceEnd, char*& Target,
                               char* TargetEnd, bool Strict);
// Decodes [Source, SourceEnd) into [Target, TargetEnd); a byte above 127 is
// stored as the unit of the same value and marks the input invalid.
TUtf7Result ConvertUTF7ToUTF16(const char*& Source, const char* SourceEnd, char16_t*& Target,
                               char16_t* TargetEnd);

// Swaps the two bytes of every unit of Text, in place.
void SwapWideByteOrder(std::span<char16_t> Text);

}  // namespace uni
