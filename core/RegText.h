#pragma once

// The text of .reg files with no registry behind it: the value lines the
// exporter writes, the escapes, the hex lists with their line wrapping, the
// classification of a value line's data and the bytes an import stores.
//
// Text here is 8-bit text in the active code page (one std::string byte per
// character), as everywhere in the registry layer. A version-5 file is that
// text converted to UTF-16LE as a whole (WriteRegFileText); stored data of
// the string kinds is UTF-16LE as the hive holds it.
//
// Nothing here throws, and nothing keeps state.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/bwlRegistry.h"

// The two versions of .reg text. `unknown` is text whose header did not say
// (lines handed over directly): the string kinds then guess the byte width
// from the data, as older readers did.
enum class RegFileVersion : std::uint8_t { v4, v5, unknown };

inline constexpr std::string_view kRegFileHeader4 = "REGEDIT4";
inline constexpr std::string_view kRegFileHeader5 = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kCrLf = "\r\n";

// The code page of version-4 text: of a "REGEDIT4" file as a whole, and of
// the 8-bit bytes its hex(2) and hex(7) lists hold, in a file or in memory.
// That is the Windows code page the text was made for: the active code page
// when it is a Windows one, else (UTF-8, the default) Western, 1252. The
// locale never decides.
unsigned RegFile4CodePage();
// Version-4 file bytes from 8-bit text in the active code page, appended to
// `out` (characters the file's code page lacks become '?'), and back.
void AppendRegFile4Bytes(std::string_view text, std::string& out);
std::string RegFile4Bytes(std::string_view text);
std::string RegFile4BytesToText(std::string_view bytes);

// ---- writing

// Every byte as two lower-case hex digits and a comma (with `wide`, "00," after
// each byte as well). The column starts at `startColumn` and grows by 3 per
// byte (6 with `wide`); when it exceeds 76 after a byte that is not the last,
// "\" CR LF and two blanks follow and the column restarts at 2. The comma after
// the last byte is dropped.
std::string FormatRegHexBytes(std::span<const std::uint8_t> bytes, std::size_t startColumn, bool wide = false);
// A backslash before every backslash and every double quote.
std::string EscapeRegString(std::string_view text);
// The exact inverse of EscapeRegString: "\\" gives "\" and "\"" gives a quote,
// read from left to right; any other backslash stays.
std::string UnescapeRegString(std::string_view text);
// Every run of backslashes becomes one backslash.
std::string CollapseBackslashes(std::string_view text);
// Appends the text to the output bytes: as it stands for version 4, converted
// to UTF-16LE for version 5 (the 8-bit text is decoded with the active code
// page, so non-ASCII characters keep their meaning).
void WriteRegFileText(std::string_view text, std::string& out, bool unicode);

// The name field of a value line: "@" for the default value, else the name in
// double quotes with a backslash before every backslash and double quote, as
// in a quoted string.
std::string RegValueNameField(std::string_view name);

// The value line of one stored value, without its CR LF: the name field, "="
// and the data by the value's kind. `stored` are the bytes as the hive holds
// them (strings in UTF-16LE). No value is left out and no byte is lost:
// - a REG_SZ is a quoted string only when that text reads back to exactly the
//   stored bytes (one terminating NUL and none before it, an even byte count,
//   no CR or LF, every character in the text's code pages); any other one,
//   an empty one (zero bytes) included, is "hex(1):" with its stored bytes;
// - version 5 writes expandable strings and multi-strings as "hex(2):" and
//   "hex(7):" with their stored bytes; version 4 as every character (NULs
//   included) in RegFile4CodePage, which holds them exactly when each
//   character is in that code page and the byte count is even (else version
//   4 cannot hold them: such a value loses what the code page lacks);
// - REG_NONE and every type number without a form of its own are written as
//   "hex(N):" with their exact bytes, N the number in lower-case hex
//   ("hex(0):", "hex(ffff0011):"); a REG_DWORD whose data is not 4 bytes long
//   as "hex(4):".
std::string FormatRegValueLine(std::string_view name, std::uint32_t regType, std::span<const std::uint8_t> stored,
                               bool unicode);
// The same, appended to `line`.
void AppendRegValueLine(std::string& line, std::string_view name, std::uint32_t regType,
                        std::span<const std::uint8_t> stored, bool unicode);

// The comment written for a value that does not exist.
std::string RegValueMissingComment(std::string_view name);

// The entry of a value held in memory (the change history keeps values so):
// "@=" or the quoted name and "=", then the data by kind. The data of the
// string kinds is 8-bit text in the active code page (with its NULs). A
// string is quoted when its data is one text and its NUL and the text reads
// back so; any other (a line break, bytes after the NUL, no NUL, no bytes,
// characters RegFile4CodePage lacks) is "hex(1):" with the UTF-16LE bytes of
// all of its data. Expandable strings and multi-strings are "hex(2):" and
// "hex(7):" with their characters in RegFile4CodePage. rdNone is "hex(0):";
// rdUnknown is
// "hex(N):" of `regType`, and gives no entry (false) when the number is not
// known. Other kinds ignore `regType`.
bool FormatRegStreamLine(std::span<const std::uint8_t> data, std::string_view name, TRegDataType kind,
                         std::string& line, std::optional<std::uint32_t> regType = std::nullopt);

// ---- reading

// Removes the surrounding double quotes when the name both begins and ends
// with one, then undoes the writer's escapes: "\\" gives "\" and "\"" a quote.
std::string UnquoteRegName(std::string_view name);
// Everything up to and including the first colon removed, every comma removed,
// the rest upper-cased.
std::string StripRegHexPrefix(std::string_view text);
// Sixteen hex digits get their eight digit pairs in reverse order; other
// lengths stay as they are.
std::string SwapHexQWord(std::string_view text);
// Cut at every comma; a piece of exactly two hex digits is a byte, any other
// piece counts as 0; a non-zero byte becomes its character, a zero byte is
// dropped (or becomes CR LF with `multiString`).
std::string RegHexListToText(std::string_view text, bool multiString);
// The text a hex-digit string (no commas) of an expandable string or a
// multi-string stands for. The data is UTF-16LE in version 5 (decoded, not
// cut to low bytes), 8-bit in version 4, and for text of unknown version
// UTF-16LE when its last three bytes are zero, else 8-bit. Then: two final zero characters are removed, every zero
// character before the last position becomes CR LF and a final zero is
// removed. "a","b" as 8-bit or as UTF-16LE both give a CR LF b.
std::string RegHexDigitsToText(std::string_view digits, RegFileVersion version = RegFileVersion::unknown);

// Classifies the data part of a value line (after "=") and makes its display
// text. Prefixes are compared ignoring case. "hex(N):" takes any N of 1 to 8
// hex digits: 4 (a REG_DWORD as its little-endian bytes) is
// rdLittleEndianInteger, 1 a string (its display text with the escapes a
// quoted one keeps), 0 rdNone, a number without a kind rdUnknown with the
// bytes as display text. Data of no known form is rdUnknown with the text
// unchanged.
TRegDataType ParseRegFileData(std::string_view data, std::string& displayText,
                              RegFileVersion version = RegFileVersion::unknown);

// The Windows type number and the stored bytes a value line's data stands for,
// as an import writes them in one call. False when the data is of no known
// form or malformed (a piece of a hex list that is not two hex digits, a dword
// that is not 1 to 8 hex digits): nothing is to be written then.
// Quoted strings are stored as UTF-16LE with one terminating zero. hex(2) and
// hex(7) keep every character of their list, NULs included: version 5 stores
// the listed bytes as they stand, version 4 their characters in
// RegFile4CodePage as UTF-16LE (text of unknown version guesses the width as
// RegHexDigitsToText does); an empty list stores zero bytes. Every other
// "hex(N):" stores exactly its bytes under type N, whatever N is.
bool RegFileDataToStored(std::string_view data, RegFileVersion version, std::uint32_t& regType,
                         std::vector<std::uint8_t>& stored);
