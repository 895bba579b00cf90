#include "core/RegText.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

#include "core/kxStrings.h"
#include "platform/Text.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
// The column past which a hex list is broken, and where its next line starts.
constexpr std::size_t kHexWrapColumn = 76;
constexpr std::size_t kHexContinuationColumn = 2;

bool isAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// "xx," of every byte value, four bytes apart: one 4-byte copy writes a pair
// and its comma, and the fourth byte is overwritten by what follows.
struct HexPairs {
  char text[256][4];
};

constexpr HexPairs makeHexPairs() {
  HexPairs pairs{};
  for (int b = 0; b < 256; ++b) {
    pairs.text[b][0] = kHexDigits[b >> 4];
    pairs.text[b][1] = kHexDigits[b & 0xF];
    pairs.text[b][2] = ',';
    pairs.text[b][3] = '\0';
  }
  return pairs;
}

constexpr HexPairs kHexPairs = makeHexPairs();

void appendHexList(std::string& out, std::span<const std::uint8_t> bytes, std::size_t column, bool wide) {
  const std::size_t n = bytes.size();
  if (n == 0) return;
  const std::size_t step = wide ? 6 : 3;
  // Room for every byte, every line break (a continuation line holds 13 bytes
  // at least; the first line may break after one) and the overhang of the
  // last 4-byte copy. The text is written in place, the rest cut off after.
  const std::size_t start = out.size();
  out.resize(start + n * step + 5 * (n / 12 + 2) + 4);
  char* p = out.data() + start;
  std::size_t i = 0;
  for (;;) {
    // The bytes up to the one that takes the column past the wrap column.
    std::size_t run = column > kHexWrapColumn ? 1 : (kHexWrapColumn - column) / step + 1;
    run = std::min(run, n - i);
    for (const std::size_t end = i + run; i < end; ++i) {
      std::memcpy(p, kHexPairs.text[bytes[i]], 4);
      p += 3;
      if (wide) {
        std::memcpy(p, "00,", 4);
        p += 3;
      }
    }
    column += run * step;
    if (i == n) break;
    std::memcpy(p, "\\\r\n  ", 5);
    p += 5;
    column = kHexContinuationColumn;
  }
  --p;  // the comma after the last byte
  out.resize(static_cast<std::size_t>(p - out.data()));
}

// True when 8-bit text is UTF-8 here: ASCII units then stand for themselves in
// both directions, and the shortcuts below give exactly what the conversion
// would. Other code pages always go through the conversion.
bool asciiIsIdentity() { return platform::activeCodePage() == platform::kCodePageUtf8; }

// The UTF-16LE units of stored data (an odd last byte has no unit), up to the
// first NUL when `cutAtNul`.
std::size_t unitCount(std::span<const std::uint8_t> stored, bool cutAtNul) {
  const std::size_t n = stored.size() / 2;
  if (!cutAtNul) return n;
  for (std::size_t i = 0; i < n; ++i) {
    if (stored[2 * i] == 0 && stored[2 * i + 1] == 0) return i;
  }
  return n;
}

// Appends the low bytes of `count` units when every one is ASCII (NUL
// included); false, with `out` as it was, otherwise.
template <class Bytes>
bool appendAsciiUnits(std::span<const std::uint8_t> stored, std::size_t count, Bytes& out) {
  const std::size_t start = out.size();
  out.resize(start + count);
  auto* p = out.data() + start;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t lo = stored[2 * i];
    if (stored[2 * i + 1] != 0 || lo >= 0x80) {
      out.resize(start);
      return false;
    }
    p[i] = static_cast<typename Bytes::value_type>(lo);
  }
  return true;
}

// Appends the units' text with a backslash before every backslash and double
// quote, when every unit is ASCII; false, with `out` as it was, otherwise.
bool appendAsciiEscaped(std::span<const std::uint8_t> stored, std::size_t count, std::string& out) {
  const std::size_t start = out.size();
  out.resize(start + 2 * count);
  char* p = out.data() + start;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t lo = stored[2 * i];
    if (stored[2 * i + 1] != 0 || lo >= 0x80) {
      out.resize(start);
      return false;
    }
    if (lo == '\\' || lo == '"') *p++ = '\\';
    *p++ = static_cast<char>(lo);
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
  return true;
}

// Spreads four ASCII bytes to four UTF-16LE units (little-endian hosts).
std::uint64_t widenFour(std::uint32_t four) {
  std::uint64_t x = four;
  x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
  x = (x | (x << 8)) & 0x00FF00FF00FF00FFull;
  return x;
}

// Writes the UTF-16LE form of the text's leading ASCII to `to` (room for
// twice the text's length). Returns how many bytes that was: the text's
// length, or the place of the first byte above 0x7F.
std::size_t widenAscii(std::string_view text, char* to) {
  const char* from = text.data();
  std::size_t n = text.size();
  if constexpr (std::endian::native == std::endian::little) {
    for (; n >= 8; n -= 8, from += 8, to += 16) {
      std::uint64_t eight;
      std::memcpy(&eight, from, 8);
      if (eight & 0x8080808080808080ull) break;
      const std::uint64_t low = widenFour(static_cast<std::uint32_t>(eight));
      const std::uint64_t high = widenFour(static_cast<std::uint32_t>(eight >> 32));
      std::memcpy(to, &low, 8);
      std::memcpy(to + 8, &high, 8);
    }
  }
  for (; n > 0; --n) {
    const char c = *from++;
    if (static_cast<unsigned char>(c) >= 0x80) return text.size() - n;
    *to++ = c;
    *to++ = '\0';
  }
  return text.size();
}

void appendUnitsAsBytes(std::string& out, std::u16string_view wide) {
  out.reserve(out.size() + 2 * wide.size());
  for (const char16_t u : wide) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  }
}

// The length a line's text has in the file, which is where its hex list starts:
// bytes in version 4, UTF-16 units in version 5.
std::size_t textColumns(std::string_view text, bool unicode) {
  if (!unicode || isAscii(text)) return text.size();
  return platform::ansiToWide(text).size();
}

std::u16string unitsOf(std::span<const std::uint8_t> stored) {
  std::u16string units(stored.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(stored[2 * i] | (stored[2 * i + 1] << 8));
  }
  return units;
}

std::u16string_view cutAtNul(std::u16string_view units) {
  const auto nul = units.find(u'\0');
  return nul == std::u16string_view::npos ? units : units.substr(0, nul);
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void appendUnitsLe(std::vector<std::uint8_t>& out, std::u16string_view units) {
  for (const char16_t u : units) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
}

std::string lineWithHexList(std::string prefix, std::span<const std::uint8_t> bytes, bool unicode) {
  const std::size_t column = textColumns(prefix, unicode);
  appendHexList(prefix, bytes, column, false);
  return prefix;
}

std::string lowerHex8(std::uint32_t value) {
  std::string out(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) out[static_cast<std::size_t>(i)] = kHexDigits[value & 0xF];
  return out;
}

// "hex(N):" of a Windows type number: the known numbers as one upper-case
// digit, as the exporter always wrote them; any other number (REG_NONE and
// the device-property types among them) in lower-case hex without leading
// zeros, as the system's own editor writes it.
std::string hexTypePrefix(std::uint32_t regType) {
  std::string out = "hex(";
  if (regType >= 1 && regType <= 11) {
    out.push_back("0123456789ABCDEF"[regType]);
  } else {
    char digits[8];
    int n = 0;
    do {
      digits[n++] = kHexDigits[regType & 0xF];
      regType >>= 4;
    } while (regType != 0);
    while (n > 0) out.push_back(digits[--n]);
  }
  out.append("):");
  return out;
}

// Whether stored string data is one string and its terminator: an even byte
// count, the last unit NUL and no NUL before it.
bool isOneTerminatedString(std::span<const std::uint8_t> stored) {
  const std::size_t n = stored.size();
  return n >= 2 && n % 2 == 0 && unitCount(stored, true) == n / 2 - 1;
}

// Whether UTF-16 text comes back unchanged through the active code page and,
// for version 4, through the file's code page as well.
bool unitsSurviveText(std::u16string_view units, bool unicode) {
  if (platform::ansiToWide(platform::wideToAnsi(units)) != units) return false;
  if (unicode) return true;
  const unsigned page = RegFile4CodePage();
  return platform::codePageToWide(page, platform::wideToCodePage(page, units)) == units;
}

// The bytes of a version-4 hex(2) or hex(7) list: every unit of the stored
// data (NULs included) in the file's code page. An odd last byte has no unit.
void appendFile4Units(std::span<const std::uint8_t> stored, std::vector<std::uint8_t>& list) {
  const std::size_t count = stored.size() / 2;
  // ASCII is itself in Western: the common case needs no conversion.
  if (RegFile4CodePage() == 1252 && appendAsciiUnits(stored, count, list)) return;
  const std::string bytes = platform::wideToCodePage(RegFile4CodePage(), unitsOf(stored.first(2 * count)));
  list.insert(list.end(), bytes.begin(), bytes.end());
}

// Whether the text of stored string data, up to its first NUL, holds a CR or
// an LF: written between quotes, the line break would split the value line.
bool storedTextHasLineBreak(std::span<const std::uint8_t> stored) {
  const std::size_t count = unitCount(stored, true);
  for (std::size_t i = 0; i < count; ++i) {
    if (stored[2 * i + 1] == 0 && (stored[2 * i] == '\r' || stored[2 * i] == '\n')) return true;
  }
  return false;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const auto a = static_cast<unsigned char>(text[i]);
    const auto b = static_cast<unsigned char>(prefix[i]);
    if (std::tolower(a) != std::tolower(b)) return false;
  }
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) < 33) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) < 33) text.remove_suffix(1);
  return text;
}

// A comma-separated hex list ("01,a0,ff") to bytes. A final empty piece (a
// trailing comma) is allowed; any other piece that is not two hex digits makes
// the list malformed.
bool parseHexList(std::string_view list, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  list = trimBlanks(list);
  if (list.empty()) return true;
  bytes.reserve(list.size() / 3 + 1);
  std::size_t start = 0;
  while (start <= list.size()) {
    const auto comma = list.find(',', start);
    const bool last = comma == std::string_view::npos;
    const std::string_view piece = trimBlanks(list.substr(start, last ? std::string_view::npos : comma - start));
    if (piece.empty() && last && start > 0) break;
    if (piece.size() != 2) return false;
    const int hi = hexValue(piece[0]);
    const int lo = hexValue(piece[1]);
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    if (last) break;
    start = comma + 1;
  }
  return true;
}

// The bytes of a hex-digit string without commas, two digits a byte (a last
// odd digit is ignored; a character that is no digit counts as 0).
std::vector<std::uint8_t> digitsToBytes(std::string_view digits) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(digits.size() / 2);
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) bytes.push_back(HexPairToByte(digits.substr(i, 2)));
  return bytes;
}

// Version 5 carries UTF-16LE, version 4 8-bit text. Only text of unknown
// origin is guessed: UTF-16LE when its last three bytes are zero. (Guessing in
// a version-4 file would misread an 8-bit list that ends in empty strings.)
bool looksUtf16(std::span<const std::uint8_t> bytes, RegFileVersion version) {
  if (version == RegFileVersion::v5) return true;
  if (version == RegFileVersion::v4) return false;
  const std::size_t n = bytes.size();
  return n >= 3 && bytes[n - 1] == 0 && bytes[n - 2] == 0 && bytes[n - 3] == 0;
}

// The characters of string-kind data from a file: UTF-16 units, or 8-bit text
// decoded with the active code page (NULs stay NULs either way).
std::u16string fileStringUnits(std::span<const std::uint8_t> bytes, RegFileVersion version) {
  if (looksUtf16(bytes, version)) return unitsOf(bytes);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (version == RegFileVersion::v4) return platform::codePageToWide(RegFile4CodePage(), text);
  return platform::ansiToWide(text);
}

// The text rule shared by expandable strings and multi-strings: two final zero
// characters removed, zeros before the last position to CR LF, a final zero
// removed.
std::u16string textRule(std::u16string units) {
  const std::size_t n = units.size();
  if (n >= 2 && units[n - 1] == 0 && units[n - 2] == 0) units.resize(n - 2);
  std::u16string out;
  out.reserve(units.size() + 8);
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (units[i] != 0) {
      out.push_back(units[i]);
    } else if (i + 1 < units.size()) {
      out.append(u"\r\n");
    }
  }
  return out;
}

std::uint32_t littleEndian32(std::span<const std::uint8_t> bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i) value |= std::uint32_t(bytes[i]) << (8 * i);
  return value;
}

std::string upperNoCommas(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c != ',') out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return out;
}

std::string hexAsDisplay(std::string_view rest) {
  std::string out;
  out.reserve(rest.size());
  for (const char c : rest) out.push_back(c == ',' ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  return out;
}

// The display text of string-kind hex data: the classic 8-bit rule for 8-bit
// data, the same rule over decoded characters for UTF-16LE data.
std::string stringHexDisplay(std::string_view rest, bool multiString, RegFileVersion version) {
  std::vector<std::uint8_t> bytes;
  if (!parseHexList(rest, bytes) || (!looksUtf16(bytes, version) && version != RegFileVersion::v4))
    return RegHexListToText(rest, multiString);
  const std::u16string units = fileStringUnits(bytes, version);
  std::u16string out;
  for (const char16_t u : units) {
    if (u != 0) {
      out.push_back(u);
    } else if (multiString) {
      out.append(u"\r\n");
    }
  }
  return platform::wideToAnsi(out);
}

// "hex(N):" at the start of a value's data, N of 1 to 8 hex digits in either
// case: the type number and where the hex list begins. False for any other
// text.
bool parseHexTypePrefix(std::string_view data, std::uint32_t& regType, std::size_t& listStart) {
  if (!startsWithNoCase(data, "hex(")) return false;
  std::uint32_t value = 0;
  std::size_t i = 4;
  for (; i < data.size() && i < 4 + 9; ++i) {
    const int v = hexValue(data[i]);
    if (v < 0) break;
    value = value * 16 + static_cast<std::uint32_t>(v);
  }
  const std::size_t digits = i - 4;
  if (digits < 1 || digits > 8) return false;
  if (data.substr(i, 2) != "):") return false;
  regType = value;
  listStart = i + 2;
  return true;
}

}  // namespace

unsigned RegFile4CodePage() {
  const unsigned active = platform::activeCodePage();
  return active == platform::kCodePageUtf8 ? 1252 : active;
}

void AppendRegFile4Bytes(std::string_view text, std::string& out) {
  const unsigned page = RegFile4CodePage();
  if (page == platform::activeCodePage() || isAscii(text)) {
    out.append(text);
    return;
  }
  // The active code page is UTF-8 here, which decodes the same when cut at a
  // line break: ASCII lines go as they are, only the others are converted.
  std::size_t done = 0;
  while (done < text.size()) {
    std::size_t high = done;
    while (high < text.size() && static_cast<unsigned char>(text[high]) < 0x80) ++high;
    if (high == text.size()) {
      out.append(text.substr(done));
      break;
    }
    const std::size_t before = text.rfind('\n', high);
    const std::size_t lineStart = before == std::string_view::npos || before < done ? done : before + 1;
    out.append(text.substr(done, lineStart - done));
    const std::size_t newline = text.find('\n', high);
    const std::size_t lineEnd = newline == std::string_view::npos ? text.size() : newline + 1;
    out.append(platform::wideToCodePage(page, platform::ansiToWide(text.substr(lineStart, lineEnd - lineStart))));
    done = lineEnd;
  }
}

std::string RegFile4Bytes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendRegFile4Bytes(text, out);
  return out;
}

std::string RegFile4BytesToText(std::string_view bytes) {
  const unsigned page = RegFile4CodePage();
  if (page == platform::activeCodePage() || isAscii(bytes)) return std::string(bytes);
  return platform::wideToAnsi(platform::codePageToWide(page, bytes));
}

std::string FormatRegHexBytes(std::span<const std::uint8_t> bytes, std::size_t startColumn, bool wide) {
  std::string out;
  appendHexList(out, bytes, startColumn, wide);
  return out;
}

std::string EscapeRegString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (const char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string UnescapeRegString(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) ++i;
    out.push_back(text[i]);
  }
  return out;
}

std::string CollapseBackslashes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\\' && !out.empty() && out.back() == '\\') continue;
    out.push_back(c);
  }
  return out;
}

void WriteRegFileText(std::string_view text, std::string& out, bool unicode) {
  if (!unicode) {
    out.append(text);
    return;
  }
  // ASCII, nearly all of it, is widened in place in one pass; the zero fill
  // of the resize costs less than a second buffer would.
  const std::size_t start = out.size();
  out.resize(start + 2 * text.size());
  std::size_t done = widenAscii(text, out.data() + start);  // text bytes written
  if (done == text.size()) return;
  if (!asciiIsIdentity()) {
    // Another code page may carry state from byte to byte: the text is
    // converted as a whole.
    out.resize(start);
    appendUnitsAsBytes(out, platform::ansiToWide(text));
    return;
  }
  // UTF-8 decodes the same whether the text is cut after an ASCII byte or not,
  // so long text (a whole export) keeps the fast path for its ASCII lines and
  // converts only the lines that hold other bytes. A UTF-16 unit per byte at
  // most: the room made above suffices.
  std::size_t at = start + 2 * done;  // where the output of text[done] goes
  while (done < text.size()) {
    // The line of the byte at `done`, from after the previous newline (its
    // ASCII start is written again) to its own newline or the end.
    const std::size_t newlineBefore = text.rfind('\n', done);
    const std::size_t lineStart = newlineBefore == std::string_view::npos ? 0 : newlineBefore + 1;
    const std::size_t newline = text.find('\n', done);
    const std::size_t lineEnd = newline == std::string_view::npos ? text.size() : newline + 1;
    at -= 2 * (done - lineStart);
    for (const char16_t u : platform::ansiToWide(text.substr(lineStart, lineEnd - lineStart))) {
      out[at++] = static_cast<char>(u & 0xFF);
      out[at++] = static_cast<char>(u >> 8);
    }
    const std::size_t ascii = widenAscii(text.substr(lineEnd), out.data() + at);
    at += 2 * ascii;
    done = lineEnd + ascii;
  }
  out.resize(at);
}

namespace {
void appendNameField(std::string& out, std::string_view name) {
  if (name.empty()) {
    out.push_back('@');
    return;
  }
  // Written in place into room for the worst case, then cut to size.
  const std::size_t start = out.size();
  out.resize(start + 2 * name.size() + 2);
  char* p = out.data() + start;
  *p++ = '"';
  for (const char c : name) {
    if (c == '\\' || c == '"') *p++ = '\\';
    *p++ = c;
  }
  *p++ = '"';
  out.resize(static_cast<std::size_t>(p - out.data()));
}
}  // namespace

std::string RegValueNameField(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 4);
  appendNameField(out, name);
  return out;
}

std::string RegValueMissingComment(std::string_view name) {
  return "// the value \"" + RegValueNameField(name) + "\" does not exist";
}

void AppendRegValueLine(std::string& line, std::string_view name, std::uint32_t regType,
                        std::span<const std::uint8_t> stored, bool unicode) {
  const std::size_t lineStart = line.size();
  // The hex list starts at the length of the line's text before it.
  const auto hexList = [&](std::string_view prefix, std::span<const std::uint8_t> bytes) {
    line.append(prefix);
    const std::string_view before(line.data() + lineStart, line.size() - lineStart);
    appendHexList(line, bytes, textColumns(before, unicode), false);
  };
  const TRegDataType kind = RegTypeToRegDataType(regType);
  appendNameField(line, name);
  switch (kind) {
    case rdString: {
      // Between quotes only what reads back to exactly these bytes: one
      // string with its terminator, no line break (it would split the line),
      // every character kept by the text's code pages.
      if (!isOneTerminatedString(stored) || storedTextHasLineBreak(stored)) return hexList("=hex(1):", stored);
      const std::size_t count = stored.size() / 2 - 1;
      const std::size_t quoteAt = line.size();
      line.append("=\"");
      if (!asciiIsIdentity() || !appendAsciiEscaped(stored, count, line)) {
        const std::u16string units = unitsOf(stored.first(2 * count));
        if (!unitsSurviveText(units, unicode)) {
          line.resize(quoteAt);
          return hexList("=hex(1):", stored);
        }
        const std::string text = platform::wideToAnsi(units);
        for (const char c : text) {
          if (c == '\\' || c == '"') line.push_back('\\');
          line.push_back(c);
        }
      }
      line.push_back('"');
      return;
    }
    case rdExpandString: {
      // Version 5: the stored bytes. Version 4: every character, NULs
      // included, in the file's code page.
      if (unicode) return hexList("=hex(2):", stored);
      thread_local std::vector<std::uint8_t> list;
      list.clear();
      appendFile4Units(stored, list);
      return hexList("=hex(2):", list);
    }
    case rdBinary:
      return hexList("=hex:", stored);
    case rdInteger:
      if (stored.size() == 4) {
        line.append("=dword:").append(lowerHex8(littleEndian32(stored)));
        return;
      }
      return hexList("=hex(4):", stored);
    case rdMultiString: {
      if (unicode) return hexList("=hex(7):", stored);
      thread_local std::vector<std::uint8_t> list;
      list.clear();
      appendFile4Units(stored, list);
      return hexList("=hex(7):", list);
    }
    default: {  // the kinds written as their stored bytes under hex(N)
      std::string prefix = "=";
      prefix.append(hexTypePrefix(regType));
      return hexList(prefix, stored);
    }
  }
}

std::string FormatRegValueLine(std::string_view name, std::uint32_t regType, std::span<const std::uint8_t> stored,
                               bool unicode) {
  std::string line;
  AppendRegValueLine(line, name, regType, stored, unicode);
  return line;
}

bool FormatRegStreamLine(std::span<const std::uint8_t> data, std::string_view name, TRegDataType kind,
                         std::string& line, std::optional<std::uint32_t> regType) {
  std::string prefix = RegValueNameField(name) + "=";
  std::string hexPrefix;
  switch (kind) {
    case rdString: {
      const auto* begin = reinterpret_cast<const char*>(data.data());
      const auto* nul = data.empty() ? nullptr : static_cast<const char*>(std::memchr(begin, 0, data.size()));
      const std::string_view text(begin, nul ? static_cast<std::size_t>(nul - begin) : data.size());
      // Quoted only when the line reads back to this data: one text and its
      // NUL, no line break (it would split the line), every character kept
      // by the version-4 code page. Anything else goes as the UTF-16LE bytes
      // of all of the data, as a hive holds them.
      const bool oneText = nul && text.size() + 1 == data.size();
      if (!oneText || text.find_first_of("\r\n") != std::string_view::npos ||
          (!isAscii(text) && !unitsSurviveText(platform::ansiToWide(text), false))) {
        std::vector<std::uint8_t> stored;
        appendUnitsLe(stored, platform::ansiToWide(std::string_view(begin, data.size())));
        line = lineWithHexList(prefix + "hex(1):", stored, false);
        return true;
      }
      line = prefix + "\"" + EscapeRegString(text) + "\"";
      return true;
    }
    case rdExpandString:
    case rdMultiString: {
      // The 8-bit text, NULs included, in the version-4 code page.
      const std::string list = platform::wideToCodePage(
          RegFile4CodePage(), platform::ansiToWide(std::string_view(reinterpret_cast<const char*>(data.data()), data.size())));
      prefix.append(kind == rdExpandString ? "hex(2):" : "hex(7):");
      line = lineWithHexList(std::move(prefix), asBytes(list), false);
      return true;
    }
    case rdNone: hexPrefix = hexTypePrefix(0); break;
    case rdUnknown:
      if (!regType) return false;
      hexPrefix = hexTypePrefix(*regType);
      break;
    case rdInteger:
    case rdCardinal:
      line = prefix + "dword:" + lowerHex8(littleEndian32(data));
      return true;
    case rdBinary: hexPrefix = "hex:"; break;
    case rdLittleEndianInteger: hexPrefix = "hex(4):"; break;
    case rdBigEndianInteger: hexPrefix = "hex(5):"; break;
    case rdLink: hexPrefix = "hex(6):"; break;
    case rdResourceList: hexPrefix = "hex(8):"; break;
    case rdFullResourceDescriptor: hexPrefix = "hex(9):"; break;
    case rdResourceRequirementsList: hexPrefix = "hex(A):"; break;
    case rdInt64:
    case rdLittleEndianInt64: hexPrefix = "hex(B):"; break;
    default:
      return false;
  }
  prefix.append(hexPrefix);
  line = lineWithHexList(std::move(prefix), data, false);
  return true;
}

std::string UnquoteRegName(std::string_view name) {
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
  return UnescapeRegString(name);
}

std::string StripRegHexPrefix(std::string_view text) {
  const auto colon = text.find(':');
  if (colon != std::string_view::npos) text.remove_prefix(colon + 1);
  return upperNoCommas(text);
}

std::string SwapHexQWord(std::string_view text) {
  if (text.size() != 16) return std::string(text);
  std::string out;
  out.reserve(16);
  for (int pair = 7; pair >= 0; --pair) out.append(text.substr(static_cast<std::size_t>(pair) * 2, 2));
  return out;
}

std::string RegHexListToText(std::string_view text, bool multiString) {
  std::string out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto comma = text.find(',', start);
    const std::string_view piece = text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    std::uint8_t byte = 0;
    if (piece.size() == 2 && hexValue(piece[0]) >= 0 && hexValue(piece[1]) >= 0) {
      byte = static_cast<std::uint8_t>(hexValue(piece[0]) * 16 + hexValue(piece[1]));
    }
    if (byte != 0) {
      out.push_back(static_cast<char>(byte));
    } else if (multiString) {
      out.append(kCrLf);
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return out;
}

std::string RegHexDigitsToText(std::string_view digits, RegFileVersion version) {
  const std::vector<std::uint8_t> bytes = digitsToBytes(digits);
  return platform::wideToAnsi(textRule(fileStringUnits(bytes, version)));
}

TRegDataType ParseRegFileData(std::string_view data, std::string& displayText, RegFileVersion version) {
  if (data.size() >= 2 && data.front() == '"' && data.back() == '"') {
    displayText = std::string(data.substr(1, data.size() - 2));
    return rdString;
  }
  if (startsWithNoCase(data, "hex:")) {
    displayText = hexAsDisplay(data.substr(4));
    return rdBinary;
  }
  if (startsWithNoCase(data, "dword:")) {
    displayText = DWordToDisplayText(static_cast<std::uint32_t>(HexToInt(data.substr(6))));
    return rdInteger;
  }
  std::uint32_t regType = 0;
  std::size_t listStart = 0;
  if (!parseHexTypePrefix(data, regType, listStart)) {
    displayText = std::string(data);
    return rdUnknown;
  }
  const std::string_view rest = data.substr(listStart);
  switch (regType) {
    case 1: {
      // Written so when the text holds a line break: the stored UTF-16LE
      // bytes. The display text is the string with the escapes a quoted
      // string's display text keeps.
      std::vector<std::uint8_t> bytes;
      if (!parseHexList(rest, bytes)) bytes.clear();
      displayText = EscapeRegString(platform::wideToAnsi(cutAtNul(unitsOf(bytes))));
      return rdString;
    }
    case 2:
      displayText = stringHexDisplay(rest, false, version);
      return rdExpandString;
    case 4: {
      std::vector<std::uint8_t> bytes;
      if (!parseHexList(rest, bytes)) bytes.clear();
      displayText = DWordToDisplayText(littleEndian32(bytes));
      return rdLittleEndianInteger;
    }
    case 5:
      displayText = DWordToDisplayText(static_cast<std::uint32_t>(HexToInt(upperNoCommas(rest))));
      return rdBigEndianInteger;
    case 7:
      displayText = stringHexDisplay(rest, true, version);
      return rdMultiString;
    case 11:
      displayText = QWordToDisplayText(HexToInt64(SwapHexQWord(upperNoCommas(rest))));
      return rdInt64;
    default:
      // REG_NONE, binary, link, the resource kinds and every number without
      // a kind of its own: the bytes as they stand.
      displayText = hexAsDisplay(rest);
      return RegTypeToRegDataType(regType);
  }
}

bool RegFileDataToStored(std::string_view data, RegFileVersion version, std::uint32_t& regType,
                         std::vector<std::uint8_t>& stored) {
  stored.clear();
  if (data.size() >= 2 && data.front() == '"' && data.back() == '"') {
    regType = 1;
    const std::u16string units = platform::ansiToWide(UnescapeRegString(data.substr(1, data.size() - 2)));
    stored.reserve(units.size() * 2 + 2);
    appendUnitsLe(stored, units);
    stored.push_back(0);
    stored.push_back(0);
    return true;
  }
  if (startsWithNoCase(data, "dword:")) {
    const std::string_view digits = trimBlanks(data.substr(6));
    if (digits.empty() || digits.size() > 8) return false;
    std::uint32_t value = 0;
    for (const char c : digits) {
      const int v = hexValue(c);
      if (v < 0) return false;
      value = value * 16 + static_cast<std::uint32_t>(v);
    }
    regType = 4;
    for (int i = 0; i < 4; ++i) stored.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return true;
  }
  std::uint32_t type = 3;
  std::size_t listStart = 4;
  if (!startsWithNoCase(data, "hex:") && !parseHexTypePrefix(data, type, listStart)) return false;
  std::vector<std::uint8_t> bytes;
  if (!parseHexList(data.substr(listStart), bytes)) return false;
  regType = type;
  switch (type) {
    case 2:
    case 7:
      // Every character is kept, NULs included: the exported text must come
      // back to the same bytes (a multi-string ends in an empty string, an
      // expandable string may hold bytes after its NUL).
      if (looksUtf16(bytes, version)) {
        stored = std::move(bytes);
      } else {
        appendUnitsLe(stored, fileStringUnits(bytes, version));
      }
      return true;
    default:
      // Every other number, known or not, stores exactly the listed bytes.
      stored = std::move(bytes);
      return true;
  }
}
