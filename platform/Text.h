#pragma once

// Text conversions every layer uses.
//
// Wide text is UTF-16. 8-bit text is in the process's active code page: UTF-8
// (as WTF-8, so lone surrogates survive a round trip) unless HIVESCOPE_CODEPAGE
// names another, e.g. 1252. Conversions never throw and never fail: bytes or
// units a code page cannot represent become its replacement, as Windows does.
// Decoding: a byte a single-byte page leaves undefined becomes what Windows'
// table gives (the C1 control of the same value for 0x80-0x9F, e.g. cp1252
// 0x81 -> U+0081, which encodes back to 0x81), else U+FFFD; an invalid
// sequence of a double-byte page becomes U+30FB. Encoding: a UTF-16 unit the
// page cannot represent (lone surrogates included, and each half of a pair)
// becomes '?', Windows' default character; no best-fit approximation is made.
// A code page iconv does not know decodes every byte to U+FFFD and encodes
// every unit to '?'.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

inline constexpr unsigned kCodePageUtf8 = 65001;

// UTF-16 <-> WTF-8. Lone surrogates are encoded as 3-byte sequences and come
// back unchanged; invalid 8-bit input becomes U+FFFD per bad byte.
std::string utf16ToWtf8(std::u16string_view text);
std::u16string wtf8ToUtf16(std::string_view text);

// The active code page (read once from HIVESCOPE_CODEPAGE; 65001 by default).
unsigned activeCodePage();
// For tests: sets the active code page of this process.
void setActiveCodePage(unsigned codePage);

// 8-bit text in the active code page <-> UTF-16.
std::u16string ansiToWide(std::string_view text);
std::string wideToAnsi(std::u16string_view text);
// wideToAnsi's bytes appended to `out`: no string of its own in between, for
// walks that convert many names into one reused buffer.
void appendWideToAnsi(std::u16string_view text, std::string& out);

// 8-bit text in any code page <-> UTF-16 (iconv for code pages other than UTF-8).
std::u16string codePageToWide(unsigned codePage, std::string_view text);
std::string wideToCodePage(unsigned codePage, std::u16string_view text);

// Whether conversions in the code page are real: UTF-8 always, any other page
// when iconv has a converter for it. For a page it lacks, the two functions
// above give the replacement texts described at the top.
bool codePageSupported(unsigned codePage);

// Plain ASCII helpers for u16 strings.
std::u16string asciiToWide(std::string_view ascii);

}  // namespace platform
