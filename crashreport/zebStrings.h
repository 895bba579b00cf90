#pragma once

// The crash reporter's own string operations. They work on 8-bit text in the
// active code page with fixed tables instead of the C library's locale, so
// their results do not change while the process is in trouble. Case folding
// knows ASCII and the Windows-1252 letters byte by byte; UTF-8 sequences pass
// through unchanged.
//
// Positions are 1-based, as in the texts they work on, unless a function says
// otherwise.

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zeb {

using CharSet = std::bitset<256>;

// A set holding every byte of `chars`.
CharSet MakeCharSet(std::string_view chars);

// --- Searching -------------------------------------------------------------

// The search engine: 0-based position of `pattern` in `text`, or -1. A length
// of 0 means "up to the terminating zero byte". An empty pattern, an empty text
// or a pattern longer than the text gives -1. With `to` < `from` the search runs
// backwards from min(from, text length - pattern length) down to `to` and finds
// the last match; otherwise forwards from `from` up to
// min(to, text length - pattern length) and finds the first.
std::ptrdiff_t FindInBuffer(const char* pattern, std::size_t patternLength, const char* text,
                            std::size_t textLength, std::ptrdiff_t from, std::ptrdiff_t to,
                            bool ignoreCase);

// 1-based position of the match starting between `from` and `to`, or 0. A
// `from` or `to` of 0 gives 0; `from` > `to` finds the last match starting at or
// before `from`.
std::size_t FindText(std::string_view pattern, std::string_view text, std::size_t from, std::size_t to);
std::size_t FindTextIgnoringCase(std::string_view pattern, std::string_view text, std::size_t from,
                                 std::size_t to);

// Whether `text` begins with `prefix`; an empty prefix always does.
bool StartsWith(std::string_view prefix, std::string_view text);
bool StartsWithIgnoringCase(std::string_view prefix, std::string_view text);

// 1-based position of the first (with `from` > `to`, the last) byte of `text`
// in `set`, within from..to clipped to the text; 0 when there is none.
std::size_t FindCharOf(const CharSet& set, std::string_view text, std::size_t from, std::size_t to);

// Length of a zero-terminated text; 0 for none.
std::size_t TextLength(const char* text);

// --- Comparing and case ----------------------------------------------------

bool SameTextIgnoringCase(std::string_view a, std::string_view b);
// The difference of the first differing folded bytes, else of the lengths.
int CompareIgnoringCase(std::string_view a, std::string_view b);

// The folding table: A-Z and the Windows-1252 capitals to lower case.
char LowerChar(char c);
// a-z and the three umlauts 0xE4, 0xF6, 0xFC to upper case; nothing else.
char UpperChar(char c);
std::string UpperText(std::string_view text);
// A-Z and the three umlauts 0xC4, 0xD6, 0xDC to lower case; nothing else
// (narrower than LowerChar).
std::string LowerText(std::string_view text);

// --- Trimming, cutting, deleting, replacing ---------------------------------

// Removes every byte up to 32 (controls and blank) at both ends.
void TrimBlanks(std::string& text);
std::string TrimmedCopy(std::string_view text);

// Keeps `count` bytes from the 1-based `index` (clipped to the text).
void KeepPart(std::string& text, std::size_t index, std::size_t count);
// The last `count` bytes.
std::string RightPart(std::string_view text, std::size_t count);
// A copy with `count` bytes removed at the 1-based `index`.
std::string DeletedCopy(std::string_view text, std::size_t index, std::size_t count);

// Remove every occurrence; true when something was removed.
bool RemoveChar(std::string& text, char c);
bool RemoveChars(std::string& text, const CharSet& set);

// Replaces every occurrence of `oldText` by `newText` in one pass from left to
// right; true when at least one was found. Without `rescan` the search goes on
// after the inserted text. With `rescan` it goes on inside it (from its second
// byte when the text grew, at the insertion point otherwise), so repeated
// patterns collapse: "\.\" by "\" turns "a\.\.\b" into "a\b". A grown
// replacement that holds the old text past its first byte, or a text replaced
// by itself, would match itself for ever; those are not rescanned.
bool ReplaceAll(std::string& text, std::string_view oldText, std::string_view newText, bool ignoreCase,
                bool rescan);
bool ReplaceCaseSensitive(std::string& text, std::string_view oldText, std::string_view newText,
                          bool rescan = false);
bool ReplaceIgnoringCase(std::string& text, std::string_view oldText, std::string_view newText,
                         bool rescan = false);

// --- Padding and numbers ----------------------------------------------------

// Pads to |width|: on the left for a positive width, on the right for a
// negative one. Padding a text that begins with "-" on the left with a digit
// puts the digits after the "-" ("-5" to 4 with "0" is "-005").
std::string PadText(std::string_view text, int width, char fill);

std::string DecimalText(std::int64_t value);
std::string DecimalTextPadded(std::int64_t value, int width, char fill);

// Lower-case hexadecimal without a prefix or leading zeros.
std::string HexText(std::uint64_t value);
// Always with "$". With a hexadecimal digit as fill, or a negative width, the
// digits are padded and "$" put in front ((0xFF00, 8, '0') is "$0000ff00");
// otherwise "$" comes first and the whole is padded on the left to width + 1
// ((0xFF, 4, ' ') is "  $ff").
std::string HexTextPadded(std::uint64_t value, int width, char fill);

char SignChar(bool negative);

// An optional "-", then every byte's digit value (0-9, a-f, A-F; 0 for any
// other byte) added in at base 10 or 16. No validation: the crash reporter
// only parses numbers it wrote itself.
std::int64_t ParseNumber(bool hexadecimal, std::string_view text);

// A byte count for people: "1023 Bytes", "1,50 KB", "12,00 MB", "2,50 GB", with
// the locale's decimal separator and two decimals truncated.
std::string SizeText(std::int64_t size);

// The first byte of the user's numeric decimal separator, "," when it cannot be
// read. Read once and kept for the process.
char DecimalSeparator();

// --- Lists with one separator byte -----------------------------------------

// Removes blanks and controls at both ends and around every separator, and
// drops empty items.
void NormaliseList(std::string& text, char separator);
// 0 for an empty text, else 1 + the number of separators.
std::size_t ListCount(std::string_view text, char separator);
// The 1-based index-th item; empty when there is none.
std::string ListItem(std::string_view text, std::size_t index, char separator);
// Whether `item` occurs bounded on both sides by a separator or an end.
bool ListContains(std::string_view text, std::string_view item, char separator);
bool ListContainsIgnoringCase(std::string_view text, std::string_view item, char separator);

// --- Other -------------------------------------------------------------------

// Every byte widened to one UTF-16 code unit (no code-page conversion),
// optionally followed by one zero unit.
std::u16string WidenText(std::string_view text, bool addTerminator);

// Every byte combined with the scrambling key 0x9E; its own inverse.
std::string Descramble(std::string_view text);

// The system's text for an error code, on one line. A kernel status (above
// 0x3FFFFFFF) is converted to its error code first. A code with no text gives
// "Unknown error $" and the code in hexadecimal.
std::string ErrorCodeText(std::uint32_t code);

}  // namespace zeb
