#pragma once

// Small conversions between numbers, hex and binary digit texts and byte
// strings, shared by the registry layer, the value editors, the hex dump, the
// search and the translator. All are free functions on 8-bit text (a byte
// string holds one byte per character), keep no state and never throw.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Numbers to digit texts. Hex digits are always upper-case.
char NibbleToHexChar(std::uint8_t value);
std::string ByteToHex(std::uint8_t value);
std::string WordToHex(std::uint16_t value);
std::string DWordToHex(std::uint32_t value);
// The high half, then the low half.
std::string Int64ToHex(std::int64_t value);
// Binary digits without leading zeros; "0" for 0.
std::string IntToBin(std::uint32_t value);
// The sign bit is cleared first, so -1 gives 63 ones.
std::string Int64ToBin(std::int64_t value);

// Digit texts to numbers. Anything that is no digit counts as 0 ("0" too, for
// HexCharToNibble, which is the same thing).
std::uint8_t HexCharToNibble(char c);
// 0 unless the text is exactly two characters long.
std::uint8_t HexPairToByte(std::string_view text);
// Each digit's weight is 16 to the power of (its position from the right mod 8):
// a ninth digit from the right adds into the lowest position again, so
// "100000000" reads as 1.
std::int32_t HexToInt(std::string_view text);
// No modulo: the weights beyond the sixteenth digit overflow to 0, so only the
// last sixteen digits count.
std::int64_t HexToInt64(std::string_view text);
// A "1" adds its weight (1, 2, 4, ... from the right); any other character
// adds nothing.
std::int32_t BinToInt(std::string_view text);
std::int64_t BinToInt64(std::string_view text);

// Byte strings and hex text.
std::string BytesToHex(std::string_view bytes);
// Every byte as two hex digits with the separator after every byte but the
// last. A final zero byte of a string longer than one byte is left out while
// the separator before it stays (41 42 00 gives "41 42 "); this hides the
// terminator of a string that was passed with it.
std::string BytesToHexSep(std::string_view bytes, std::string_view separator);
// Pairs of hex digits to bytes; with `separated` one separator character sits
// between the pairs. Pairs are read while their start lies before the last
// character.
std::string HexToBytes(std::string_view text, bool separated);

// Text tools.
// Appends the pieces cut at every separator, then the rest after the last one
// (an empty text adds one empty piece). Does nothing when list is null.
void SplitString(std::string_view text, char separator, std::vector<std::string>* list);
// Every NUL becomes the marker "<0x00>".
std::string ShowNulChars(std::string_view text);
// Every "%0D%0A" becomes CR LF.
std::string DecodeCrLf(std::string_view text);
// A backslash before every backslash, "(", ")" and ".".
std::string EscapeRegExprChars(std::string_view text);
// "name.domain" -> "domain\name", cut at the first "."; no "." keeps the text.
std::string DottedNameToAccountName(std::string_view text);
// 8-bit text in the code page of a font charset (ANSI_CHARSET 0, RUSSIAN_CHARSET
// 204, ...) to wide text; an unknown charset uses the active code page.
std::u16string AnsiToWideCharset(std::string_view text, std::uint8_t charset);
// The other way; characters the code page lacks become '?'.
std::string WideToAnsiCharset(std::u16string_view text, std::uint8_t charset);
// The code page of a font charset; 0 for one the system does not know (the
// active code page then serves).
unsigned CharsetCodePage(std::uint8_t charset);
// Reads a UTF-16 text file the crude way: skips the two-byte byte-order mark,
// keeps the low byte of every two-byte unit (a last odd byte is dropped), turns
// lone CRs into CR LF when the text has no CR LF at all, and replaces the
// list's content by the lines. Nothing happens when the file does not exist or
// list is null. Returns whether the file was read.
bool LoadUnicodeTextFile(const std::filesystem::path& fileName, std::vector<std::string>* list);

// Splits a text into lines the way a string list takes a whole text: lines end
// at CR LF, CR or LF, and a final line break adds no empty line.
std::vector<std::string> SplitTextLines(std::string_view text);
