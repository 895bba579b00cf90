#include "crashreport/zebStrings.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/ErrorText.h"

namespace zeb {

namespace {

using Table = std::array<std::uint8_t, 256>;

constexpr Table makeFoldTable() {
  Table t{};
  for (int i = 0; i < 256; ++i) t[i] = std::uint8_t(i);
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = std::uint8_t(c + 32);
  // Windows-1252 capitals outside the Latin-1 block: S, OE and Z with caron,
  // Y with diaeresis.
  t[0x8A] = 0x9A;
  t[0x8C] = 0x9C;
  t[0x8E] = 0x9E;
  t[0x9F] = 0xFF;
  for (int c = 0xC0; c <= 0xDE; ++c)
    if (c != 0xD7) t[c] = std::uint8_t(c + 32);  // 0xD7 is the multiplication sign
  return t;
}
constexpr Table kFold = makeFoldTable();

constexpr Table makeDigitTable() {
  Table t{};
  for (int c = '0'; c <= '9'; ++c) t[c] = std::uint8_t(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) t[c] = std::uint8_t(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) t[c] = std::uint8_t(c - 'A' + 10);
  return t;
}
constexpr Table kDigit = makeDigitTable();

inline std::uint8_t fold(char c) { return kFold[std::uint8_t(c)]; }
inline bool isBlank(char c) { return std::uint8_t(c) <= 32; }

bool sameBytes(const char* a, const char* b, std::size_t n, bool ignoreCase) {
  if (!ignoreCase) return std::memcmp(a, b, n) == 0;
  for (std::size_t i = 0; i < n; ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

std::size_t findOneBased(std::string_view pattern, std::string_view text, std::size_t from, std::size_t to,
                         bool ignoreCase) {
  if (from == 0 || to == 0 || pattern.empty() || text.empty()) return 0;
  const std::ptrdiff_t at = FindInBuffer(pattern.data(), pattern.size(), text.data(), text.size(),
                                         std::ptrdiff_t(from) - 1, std::ptrdiff_t(to) - 1, ignoreCase);
  return at < 0 ? 0 : std::size_t(at) + 1;
}

bool listContains(std::string_view text, std::string_view item, char separator, bool ignoreCase) {
  if (item.empty() || item.size() > text.size()) return false;
  for (std::size_t at = 0; at + item.size() <= text.size(); ++at) {
    if (!sameBytes(text.data() + at, item.data(), item.size(), ignoreCase)) continue;
    const bool leftBound = at == 0 || text[at - 1] == separator;
    const std::size_t end = at + item.size();
    const bool rightBound = end == text.size() || text[end] == separator;
    if (leftBound && rightBound) return true;
  }
  return false;
}

// 1-based index and count clipped to the text: the 0-based start and length.
std::pair<std::size_t, std::size_t> clipRange(std::size_t size, std::size_t index, std::size_t count) {
  const std::size_t start = index == 0 ? 0 : std::min(index - 1, size);
  return {start, std::min(count, size - start)};
}

}  // namespace

CharSet MakeCharSet(std::string_view chars) {
  CharSet set;
  for (char c : chars) set.set(std::uint8_t(c));
  return set;
}

std::ptrdiff_t FindInBuffer(const char* pattern, std::size_t patternLength, const char* text,
                            std::size_t textLength, std::ptrdiff_t from, std::ptrdiff_t to,
                            bool ignoreCase) {
  if (!pattern || !text) return -1;
  if (patternLength == 0) patternLength = std::strlen(pattern);
  if (textLength == 0) textLength = std::strlen(text);
  if (patternLength == 0 || textLength == 0 || patternLength > textLength) return -1;
  const std::ptrdiff_t last = std::ptrdiff_t(textLength - patternLength);
  const std::uint8_t first = ignoreCase ? fold(pattern[0]) : std::uint8_t(pattern[0]);
  // The first byte decides most positions, so it is compared before the rest.
  auto matchesAt = [&](std::ptrdiff_t at) {
    const std::uint8_t c = ignoreCase ? fold(text[at]) : std::uint8_t(text[at]);
    return c == first && sameBytes(text + at + 1, pattern + 1, patternLength - 1, ignoreCase);
  };
  if (to < from) {
    for (std::ptrdiff_t at = std::min(from, last); at >= std::max<std::ptrdiff_t>(to, 0); --at)
      if (matchesAt(at)) return at;
  } else {
    for (std::ptrdiff_t at = std::max<std::ptrdiff_t>(from, 0); at <= std::min(to, last); ++at)
      if (matchesAt(at)) return at;
  }
  return -1;
}

std::size_t FindText(std::string_view pattern, std::string_view text, std::size_t from, std::size_t to) {
  return findOneBased(pattern, text, from, to, false);
}

std::size_t FindTextIgnoringCase(std::string_view pattern, std::string_view text, std::size_t from,
                                 std::size_t to) {
  return findOneBased(pattern, text, from, to, true);
}

bool StartsWith(std::string_view prefix, std::string_view text) {
  return prefix.size() <= text.size() && sameBytes(prefix.data(), text.data(), prefix.size(), false);
}

bool StartsWithIgnoringCase(std::string_view prefix, std::string_view text) {
  return prefix.size() <= text.size() && sameBytes(prefix.data(), text.data(), prefix.size(), true);
}

std::size_t FindCharOf(const CharSet& set, std::string_view text, std::size_t from, std::size_t to) {
  if (text.empty()) return 0;
  const std::size_t n = text.size();
  auto clip = [n](std::size_t p) { return std::clamp<std::size_t>(p, 1, n); };
  if (from > to) {
    for (std::size_t p = clip(from); p >= clip(to); --p) {
      if (set.test(std::uint8_t(text[p - 1]))) return p;
      if (p == 1) break;
    }
  } else {
    for (std::size_t p = clip(from); p <= clip(to); ++p)
      if (set.test(std::uint8_t(text[p - 1]))) return p;
  }
  return 0;
}

std::size_t TextLength(const char* text) { return text ? std::strlen(text) : 0; }

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && sameBytes(a.data(), b.data(), a.size(), true);
}

int CompareIgnoringCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int d = int(fold(a[i])) - int(fold(b[i]));
    if (d != 0) return d;
  }
  return int(std::ptrdiff_t(a.size()) - std::ptrdiff_t(b.size()));
}

char LowerChar(char c) { return char(fold(c)); }

char UpperChar(char c) {
  const std::uint8_t b = std::uint8_t(c);
  if ((b >= 'a' && b <= 'z') || b == 0xE4 || b == 0xF6 || b == 0xFC) return char(b - 32);
  return c;
}

std::string UpperText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperChar(c);
  return out;
}

std::string LowerText(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const std::uint8_t b = std::uint8_t(c);
    if ((b >= 'A' && b <= 'Z') || b == 0xC4 || b == 0xD6 || b == 0xDC) c = char(b + 32);
  }
  return out;
}

void TrimBlanks(std::string& text) {
  const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
  if (first == text.end()) {
    text.clear();
    return;
  }
  const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
  text.erase(last, text.end());
  text.erase(text.begin(), first);
}

std::string TrimmedCopy(std::string_view text) {
  std::string out(text);
  TrimBlanks(out);
  return out;
}

void KeepPart(std::string& text, std::size_t index, std::size_t count) {
  const auto [start, length] = clipRange(text.size(), index, count);
  text = text.substr(start, length);
}

std::string RightPart(std::string_view text, std::size_t count) {
  return std::string(text.substr(text.size() - std::min(count, text.size())));
}

std::string DeletedCopy(std::string_view text, std::size_t index, std::size_t count) {
  std::string out(text);
  if (index == 0) return out;
  const auto [start, length] = clipRange(out.size(), index, count);
  out.erase(start, length);
  return out;
}

bool RemoveChar(std::string& text, char c) {
  const std::size_t before = text.size();
  std::erase(text, c);
  return text.size() != before;
}

bool RemoveChars(std::string& text, const CharSet& set) {
  const std::size_t before = text.size();
  std::erase_if(text, [&](char c) { return set.test(std::uint8_t(c)); });
  return text.size() != before;
}

bool ReplaceAll(std::string& text, std::string_view oldText, std::string_view newText, bool ignoreCase,
                bool rescan) {
  if (oldText.empty() || text.empty()) return false;
  const bool grows = newText.size() > oldText.size();
  if (rescan && grows && newText.size() > 1) {
    const std::string_view tail = newText.substr(1);
    if (FindInBuffer(oldText.data(), oldText.size(), tail.data(), tail.size(), 0,
                     std::ptrdiff_t(tail.size()), ignoreCase) >= 0)
      rescan = false;
  }
  // Rescanning at the insertion point after replacing a text by itself would
  // find it there again.
  if (rescan && newText.size() == oldText.size() &&
      sameBytes(newText.data(), oldText.data(), oldText.size(), ignoreCase))
    rescan = false;
  const std::string oldCopy(oldText), newCopy(newText);  // either may point into `text`
  bool found = false;
  std::size_t from = 0;
  while (from + oldCopy.size() <= text.size()) {
    const std::ptrdiff_t at = FindInBuffer(oldCopy.data(), oldCopy.size(), text.data(), text.size(),
                                           std::ptrdiff_t(from), std::ptrdiff_t(text.size()), ignoreCase);
    if (at < 0) break;
    found = true;
    text.replace(std::size_t(at), oldCopy.size(), newCopy);
    if (!rescan)
      from = std::size_t(at) + newCopy.size();
    else
      from = std::size_t(at) + (grows ? 1 : 0);
  }
  return found;
}

bool ReplaceCaseSensitive(std::string& text, std::string_view oldText, std::string_view newText, bool rescan) {
  return ReplaceAll(text, oldText, newText, false, rescan);
}

bool ReplaceIgnoringCase(std::string& text, std::string_view oldText, std::string_view newText, bool rescan) {
  return ReplaceAll(text, oldText, newText, true, rescan);
}

std::string PadText(std::string_view text, int width, char fill) {
  const std::size_t target = std::size_t(width < 0 ? -std::int64_t(width) : width);
  if (text.size() >= target) return std::string(text);
  const std::string padding(target - text.size(), fill);
  if (width < 0) return std::string(text) + padding;
  if (fill >= '0' && fill <= '9' && !text.empty() && text[0] == '-')
    return "-" + padding + std::string(text.substr(1));
  return padding + std::string(text);
}

std::string DecimalText(std::int64_t value) { return std::to_string(value); }

std::string DecimalTextPadded(std::int64_t value, int width, char fill) {
  return PadText(DecimalText(value), width, fill);
}

std::string HexText(std::uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value != 0);
  return out;
}

std::string HexTextPadded(std::uint64_t value, int width, char fill) {
  const bool hexFill = (fill >= '0' && fill <= '9') || (fill >= 'a' && fill <= 'f') || (fill >= 'A' && fill <= 'F');
  if (hexFill || width < 0) return "$" + PadText(HexText(value), width, fill);
  const int whole = width < INT32_MAX ? width + 1 : width;
  return PadText("$" + HexText(value), whole, fill);
}

char SignChar(bool negative) { return negative ? '-' : '+'; }

std::int64_t ParseNumber(bool hexadecimal, std::string_view text) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  // Unsigned arithmetic wraps where a signed overflow would be undefined.
  std::uint64_t result = 0;
  const std::uint64_t base = hexadecimal ? 16 : 10;
  for (char c : text) result = result * base + kDigit[std::uint8_t(c)];
  return std::int64_t(negative ? 0 - result : result);
}

std::string SizeText(std::int64_t size) {
  const bool negative = size < 0;
  const std::uint64_t n = negative ? 0 - std::uint64_t(size) : std::uint64_t(size);
  std::string sign = negative ? "-" : "";
  if (n < 1024) return sign + std::to_string(n) + " Bytes";
  std::uint64_t hundredths;
  const char* unit;
  if (n < (std::uint64_t(1) << 20)) {
    hundredths = n * 100 / 1024;
    unit = " KB";
  } else if (n < (std::uint64_t(1) << 30)) {
    hundredths = n / 1024 * 100 / 1024;
    unit = " MB";
  } else {
    hundredths = n / 1024 / 1024 * 100 / 1024;
    unit = " GB";
  }
  std::string digits = std::to_string(hundredths / 100) + DecimalSeparator();
  const unsigned cents = unsigned(hundredths % 100);
  digits += char('0' + cents / 10);
  digits += char('0' + cents % 10);
  return sign + digits + unit;
}

char DecimalSeparator() {
  static const char separator = [] {
    char c = ',';
    // The user's LC_NUMERIC from the environment, whatever the process's
    // current C locale is.
    if (locale_t loc = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr))) {
      const char* radix = ::nl_langinfo_l(RADIXCHAR, loc);
      if (radix && radix[0]) c = radix[0];
      ::freelocale(loc);
    }
    return c;
  }();
  return separator;
}

void NormaliseList(std::string& text, char separator) {
  std::string out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    std::string item = TrimmedCopy(std::string_view(text).substr(start, end - start));
    if (!item.empty()) {
      if (!out.empty()) out += separator;
      out += item;
    }
    start = end + 1;
  }
  text = std::move(out);
}

std::size_t ListCount(std::string_view text, char separator) {
  if (text.empty()) return 0;
  return 1 + std::size_t(std::count(text.begin(), text.end(), separator));
}

std::string ListItem(std::string_view text, std::size_t index, char separator) {
  if (index == 0 || text.empty()) return {};
  std::size_t start = 0;
  for (std::size_t i = 1; i < index; ++i) {
    const std::size_t next = text.find(separator, start);
    if (next == std::string_view::npos) return {};
    start = next + 1;
  }
  const std::size_t end = text.find(separator, start);
  return std::string(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

bool ListContains(std::string_view text, std::string_view item, char separator) {
  return listContains(text, item, separator, false);
}

bool ListContainsIgnoringCase(std::string_view text, std::string_view item, char separator) {
  return listContains(text, item, separator, true);
}

std::u16string WidenText(std::string_view text, bool addTerminator) {
  std::u16string out;
  out.reserve(text.size() + (addTerminator ? 1 : 0));
  for (char c : text) out.push_back(char16_t(std::uint8_t(c)));
  if (addTerminator) out.push_back(u'\0');
  return out;
}

std::string Descramble(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = char(std::uint8_t(c) ^ 0x9E);
  return out;
}

std::string ErrorCodeText(std::uint32_t code) {
  const std::uint32_t error = code > 0x3FFFFFFF ? platform::ntStatusToWin32Error(code) : code;
  std::string text = platform::systemErrorText(error);
  std::replace(text.begin(), text.end(), '\r', ' ');
  RemoveChar(text, '\n');
  if (text.empty()) text = "Unknown error " + HexTextPadded(code, 1, '0');
  return text;
}

}  // namespace zeb
