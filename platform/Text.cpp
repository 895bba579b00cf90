#include "platform/Text.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include <iconv.h>

namespace platform {

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char kDefaultChar = '?';

// ---------------------------------------------------------------------------
// WTF-8

void appendWtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
  }
}

bool isHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Decodes one WTF-8 sequence at text[i]. Returns the code point and its length,
// or nothing when the bytes there are not a well-formed sequence (overlong
// forms, values above U+10FFFF, truncated or stray continuation bytes).
// Surrogates encoded in three bytes are accepted: that is the point of WTF-8.
std::optional<std::pair<char32_t, std::size_t>> decodeWtf8(std::string_view text, std::size_t i) {
  const auto byteAt = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byteAt(i);
  std::size_t len;
  char32_t cp;
  char32_t min;
  if (b0 < 0x80) return std::pair{char32_t{b0}, std::size_t{1}};
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2; cp = b0 & 0x1F; min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3; cp = b0 & 0x0F; min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4; cp = b0 & 0x07; min = 0x10000;
  } else {
    return std::nullopt;
  }
  if (len > text.size() - i) return std::nullopt;
  for (std::size_t k = 1; k < len; ++k) {
    const unsigned char b = byteAt(i + k);
    if ((b & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF) return std::nullopt;
  return std::pair{cp, len};
}

// ---------------------------------------------------------------------------
// Code pages

// glibc's iconv names for the Windows code pages. Numbers not listed are tried
// as "CP<n>", which glibc knows for many OEM pages.
struct CodePageInfo {
  const char* iconvName;
  bool singleByte;
  bool asciiCompatible;  // bytes 0x00-0x7F are ASCII and stand alone
};

std::string iconvNameFor(unsigned codePage, bool* singleByte, bool* asciiCompatible) {
  static const std::map<unsigned, CodePageInfo> kKnown = {
      {437, {"CP437", true, true}},        {737, {"CP737", true, true}},
      {775, {"CP775", true, true}},        {850, {"CP850", true, true}},
      {852, {"CP852", true, true}},        {855, {"CP855", true, true}},
      {857, {"CP857", true, true}},        {858, {"CP858", true, true}},
      {860, {"CP860", true, true}},        {861, {"CP861", true, true}},
      {862, {"CP862", true, true}},        {863, {"CP863", true, true}},
      {864, {"CP864", true, false}},        {865, {"CP865", true, true}},
      {866, {"CP866", true, true}},        {869, {"CP869", true, true}},
      {874, {"CP874", true, true}},        {932, {"CP932", false, true}},
      {936, {"CP936", false, true}},       {949, {"CP949", false, true}},
      {950, {"CP950", false, true}},       {1250, {"CP1250", true, true}},
      {1251, {"CP1251", true, true}},      {1252, {"CP1252", true, true}},
      {1253, {"CP1253", true, true}},      {1254, {"CP1254", true, true}},
      {1255, {"CP1255", true, true}},      {1256, {"CP1256", true, true}},
      {1257, {"CP1257", true, true}},      {1258, {"CP1258", true, true}},
      {1361, {"JOHAB", false, true}},      {10000, {"MACINTOSH", true, true}},
      {20127, {"ASCII", true, true}},      {20866, {"KOI8-R", true, true}},
      {21866, {"KOI8-U", true, true}},     {28591, {"ISO-8859-1", true, true}},
      {28592, {"ISO-8859-2", true, true}}, {28593, {"ISO-8859-3", true, true}},
      {28594, {"ISO-8859-4", true, true}}, {28595, {"ISO-8859-5", true, true}},
      {28596, {"ISO-8859-6", true, true}}, {28597, {"ISO-8859-7", true, true}},
      {28598, {"ISO-8859-8", true, true}}, {28599, {"ISO-8859-9", true, true}},
      {28603, {"ISO-8859-13", true, true}}, {28605, {"ISO-8859-15", true, true}},
      {51932, {"EUC-JP", false, true}},    {51949, {"EUC-KR", false, true}},
      {54936, {"GB18030", false, true}},   {50220, {"ISO-2022-JP", false, false}},
      {50225, {"ISO-2022-KR", false, false}}, {1200, {"UTF-16LE", false, false}},
      {1201, {"UTF-16BE", false, false}},  {12000, {"UTF-32LE", false, false}},
      {12001, {"UTF-32BE", false, false}}, {65000, {"UTF-7", false, false}},
      {37, {"IBM037", true, false}},       {500, {"IBM500", true, false}},
      {1026, {"IBM1026", true, false}},
  };
  // CP864 moves '%' out of ASCII, so it takes no ASCII shortcut. CP1258 counts
  // as single-byte: glibc composes a base letter with a following tone mark,
  // Windows maps byte by byte, and the table (built byte by byte) does too.
  if (auto it = kKnown.find(codePage); it != kKnown.end()) {
    *singleByte = it->second.singleByte;
    *asciiCompatible = it->second.asciiCompatible;
    return it->second.iconvName;
  }
  *singleByte = false;
  *asciiCompatible = false;
  return "CP" + std::to_string(codePage);
}

// One owner for an iconv descriptor. A descriptor carries shift state, so it
// is never shared between threads: every conversion opens its own.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (valid()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1)); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// What Windows substitutes, when decoding, for a byte its table for the code
// page leaves undefined. Windows' tables for the 125x and 874 pages map every
// undefined byte in 0x80-0x9F to the C1 control of the same value (cp1252
// 0x81 -> U+0081), which glibc's tables reject; cp1253 maps its three holes
// above 0x9F into the private use area. Other holes, and invalid sequences of
// multi-byte pages, become the replacement character: the double-byte pages
// use the katakana middle dot as Windows does.
char16_t undefinedByteFallback(unsigned codePage, unsigned char byte) {
  if (codePage == 1253) {
    if (byte == 0xAA) return 0xF8F9;
    if (byte == 0xD2) return 0xF8FA;
    if (byte == 0xFF) return 0xF8FB;
  }
  if (byte >= 0x80 && byte <= 0x9F) return byte;
  return kReplacement;
}

char16_t invalidSequenceFallback(unsigned codePage) {
  switch (codePage) {
    case 932: case 936: case 949: case 950: case 1361:
      return 0x30FB;
    default:
      return kReplacement;
  }
}

// A single-byte code page as two tables, built once through iconv. Decoding
// and encoding then need no iconv at all, and the holes Windows fills (above)
// round-trip: U+0081 goes back to 0x81 in cp1252.
struct SingleByteTable {
  std::array<char16_t, 256> toWide{};
  std::unordered_map<char16_t, unsigned char> toByte;
};

std::unique_ptr<SingleByteTable> buildSingleByteTable(unsigned codePage, const char* name) {
  Iconv cd("UTF-16LE", name);
  if (!cd.valid()) return nullptr;
  auto table = std::make_unique<SingleByteTable>();
  for (unsigned b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char out[8];
    char* inPtr = &in;
    char* outPtr = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    std::size_t rc = iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft);
    if (rc != static_cast<std::size_t>(-1)) rc = iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
    char16_t wide = undefinedByteFallback(codePage, static_cast<unsigned char>(b));
    if (rc != static_cast<std::size_t>(-1) && outPtr - out == 2) {
      wide = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                   (static_cast<unsigned char>(out[1]) << 8));
    }
    table->toWide[b] = wide;
    // The first byte that decodes to a character is the one it encodes to.
    if (wide != kReplacement) table->toByte.emplace(wide, static_cast<unsigned char>(b));
  }
  return table;
}

// Tables live for the process; the map only grows, and a table never moves.
const SingleByteTable* singleByteTable(unsigned codePage, const char* name) {
  static std::mutex mutex;
  static std::map<unsigned, std::unique_ptr<SingleByteTable>> tables;
  std::lock_guard lock(mutex);
  auto it = tables.find(codePage);
  if (it == tables.end()) it = tables.emplace(codePage, buildSingleByteTable(codePage, name)).first;
  return it->second.get();
}

bool isAscii(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

bool isAscii(std::u16string_view text) {
  for (const char16_t c : text)
    if (c >= 0x80) return false;
  return true;
}

std::u16string decodeWithIconv(unsigned codePage, const char* name, std::string_view text,
                               bool asciiCompatible) {
  std::u16string result;
  Iconv cd("UTF-16LE", name);
  if (!cd.valid()) {
    // A code page this system cannot convert: keep ASCII where the page is
    // known to share it and replace everything else.
    for (const char c : text) {
      const auto b = static_cast<unsigned char>(c);
      result.push_back(asciiCompatible && b < 0x80 ? char16_t{b} : kReplacement);
    }
    return result;
  }
  const char16_t fallback = invalidSequenceFallback(codePage);
  std::string out(text.size() * 4 + 16, '\0');
  char* inPtr = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  const auto flushOut = [&] {
    const std::size_t produced = static_cast<std::size_t>(outPtr - out.data());
    for (std::size_t k = 0; k + 1 < produced; k += 2)
      result.push_back(static_cast<char16_t>(static_cast<unsigned char>(out[k]) |
                                             (static_cast<unsigned char>(out[k + 1]) << 8)));
    outPtr = out.data();
    outLeft = out.size();
  };
  while (inLeft > 0) {
    const std::size_t rc = iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft);
    if (rc != static_cast<std::size_t>(-1)) break;
    const int err = errno;
    flushOut();
    if (err == E2BIG) continue;
    if (err == EINVAL) {  // a sequence cut off by the end of the text
      result.push_back(fallback);
      inLeft = 0;
      break;
    }
    // EILSEQ (or anything unexpected): one replacement, skip one byte.
    result.push_back(fallback);
    ++inPtr;
    --inLeft;
  }
  iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
  flushOut();
  return result;
}

std::string encodeWithIconv(const char* name, std::u16string_view text, bool asciiCompatible) {
  std::string result;
  Iconv cd(name, "UTF-16LE");
  if (!cd.valid()) {
    for (const char16_t c : text)
      result.push_back(asciiCompatible && c < 0x80 ? static_cast<char>(c) : kDefaultChar);
    return result;
  }
  std::string in;
  in.reserve(text.size() * 2);
  for (const char16_t c : text) {
    in.push_back(static_cast<char>(c & 0xFF));
    in.push_back(static_cast<char>(c >> 8));
  }
  std::string out(text.size() * 4 + 16, '\0');
  char* inPtr = in.data();
  std::size_t inLeft = in.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  const auto flushOut = [&] {
    result.append(out.data(), static_cast<std::size_t>(outPtr - out.data()));
    outPtr = out.data();
    outLeft = out.size();
  };
  while (inLeft > 0) {
    const std::size_t rc = iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft);
    if (rc != static_cast<std::size_t>(-1)) break;
    const int err = errno;
    flushOut();
    if (err == E2BIG) continue;
    // An unrepresentable character, or a lone surrogate (EILSEQ), or a high
    // surrogate cut off at the end (EINVAL): Windows writes its default
    // character per UTF-16 unit.
    result.push_back(kDefaultChar);
    const std::size_t skip = inLeft >= 2 ? 2 : inLeft;
    inPtr += skip;
    inLeft -= skip;
  }
  iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
  flushOut();
  return result;
}

unsigned codePageFromEnvironment() {
  const char* value = std::getenv("HIVESCOPE_CODEPAGE");
  if (value == nullptr) return kCodePageUtf8;
  unsigned codePage = 0;
  const char* end = value + std::strlen(value);
  const auto [ptr, ec] = std::from_chars(value, end, codePage);
  if (ec != std::errc() || ptr != end || codePage == 0) return kCodePageUtf8;
  return codePage;
}

std::atomic<unsigned>& activeCodePageSlot() {
  static std::atomic<unsigned> slot{codePageFromEnvironment()};
  return slot;
}

}  // namespace

namespace {

// Appends the WTF-8 form of the text. ASCII, by far the most common, is copied
// unit by unit into room made once; the rest goes through appendWtf8.
void appendUtf16AsWtf8(std::u16string_view text, std::string& out) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  {
    const std::size_t start = out.size();
    out.resize(start + n);
    char* p = out.data() + start;
    while (i < n && text[i] < 0x80) *p++ = static_cast<char>(text[i++]);
    out.resize(start + i);
  }
  for (; i < n; ++i) {
    char32_t u = text[i];
    if (isHighSurrogate(u) && i + 1 < n && isLowSurrogate(text[i + 1])) {
      u = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    appendWtf8(out, u);  // a lone surrogate takes the 3-byte form
  }
}

}  // namespace

std::string utf16ToWtf8(std::u16string_view text) {
  std::string out;
  appendUtf16AsWtf8(text, out);
  return out;
}

void appendWideToAnsi(std::u16string_view text, std::string& out) {
  const unsigned codePage = activeCodePage();
  if (codePage == kCodePageUtf8) {
    appendUtf16AsWtf8(text, out);
  } else {
    out.append(wideToCodePage(codePage, text));
  }
}

std::u16string wtf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto decoded = decodeWtf8(text, i);
    if (!decoded) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    appendUtf16(out, decoded->first);
    i += decoded->second;
  }
  return out;
}

unsigned activeCodePage() { return activeCodePageSlot().load(std::memory_order_relaxed); }

void setActiveCodePage(unsigned codePage) {
  activeCodePageSlot().store(codePage == 0 ? kCodePageUtf8 : codePage, std::memory_order_relaxed);
}

std::u16string ansiToWide(std::string_view text) { return codePageToWide(activeCodePage(), text); }

std::string wideToAnsi(std::u16string_view text) { return wideToCodePage(activeCodePage(), text); }

std::u16string codePageToWide(unsigned codePage, std::string_view text) {
  if (codePage == kCodePageUtf8) return wtf8ToUtf16(text);
  bool singleByte = false;
  bool asciiCompatible = false;
  const std::string name = iconvNameFor(codePage, &singleByte, &asciiCompatible);
  if (asciiCompatible && isAscii(text)) return asciiToWide(text);
  if (singleByte) {
    if (const SingleByteTable* table = singleByteTable(codePage, name.c_str())) {
      std::u16string out;
      out.reserve(text.size());
      for (const char c : text) out.push_back(table->toWide[static_cast<unsigned char>(c)]);
      return out;
    }
  }
  return decodeWithIconv(codePage, name.c_str(), text, asciiCompatible);
}

std::string wideToCodePage(unsigned codePage, std::u16string_view text) {
  if (codePage == kCodePageUtf8) return utf16ToWtf8(text);
  bool singleByte = false;
  bool asciiCompatible = false;
  const std::string name = iconvNameFor(codePage, &singleByte, &asciiCompatible);
  if (asciiCompatible && isAscii(text)) {
    std::string out;
    out.reserve(text.size());
    for (const char16_t c : text) out.push_back(static_cast<char>(c));
    return out;
  }
  if (singleByte) {
    if (const SingleByteTable* table = singleByteTable(codePage, name.c_str())) {
      std::string out;
      out.reserve(text.size());
      for (const char16_t c : text) {
        const auto it = table->toByte.find(c);
        out.push_back(it != table->toByte.end() ? static_cast<char>(it->second) : kDefaultChar);
      }
      return out;
    }
  }
  return encodeWithIconv(name.c_str(), text, asciiCompatible);
}

bool codePageSupported(unsigned codePage) {
  if (codePage == kCodePageUtf8) return true;
  static std::mutex mutex;
  static std::map<unsigned, bool> known;
  std::lock_guard lock(mutex);
  if (const auto it = known.find(codePage); it != known.end()) return it->second;
  bool singleByte = false;
  bool asciiCompatible = false;
  const std::string name = iconvNameFor(codePage, &singleByte, &asciiCompatible);
  const bool supported = Iconv("UTF-16LE", name.c_str()).valid() && Iconv(name.c_str(), "UTF-16LE").valid();
  known.emplace(codePage, supported);
  return supported;
}

std::u16string asciiToWide(std::string_view ascii) {
  // Callers pass ASCII; a stray byte above 0x7F widens as Latin-1 rather than
  // being dropped.
  std::u16string out;
  out.reserve(ascii.size());
  for (const char c : ascii) out.push_back(static_cast<unsigned char>(c));
  return out;
}

}  // namespace platform
