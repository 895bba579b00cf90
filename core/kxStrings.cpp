#include "core/kxStrings.h"

#include <fstream>
#include <iterator>

#include "platform/Text.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string toBin(std::uint64_t value) {
  if (value == 0) return "0";
  std::string out;
  while (value != 0) {
    out.insert(out.begin(), (value & 1) ? '1' : '0');
    value >>= 1;
  }
  return out;
}

// Weights grow by doubling and wrap to 0 once they pass the width, so digits
// beyond it add nothing.
template <class U>
U binToUnsigned(std::string_view text) {
  U result = 0;
  U weight = 1;
  for (auto it = text.rbegin(); it != text.rend(); ++it) {
    if (*it == '1') result = static_cast<U>(result + weight);
    weight = static_cast<U>(weight * 2u);
  }
  return result;
}

}  // namespace

char NibbleToHexChar(std::uint8_t value) { return kHexDigits[value & 0x0F]; }

std::string ByteToHex(std::uint8_t value) {
  return {NibbleToHexChar(value >> 4), NibbleToHexChar(value)};
}

std::string WordToHex(std::uint16_t value) {
  return ByteToHex(static_cast<std::uint8_t>(value >> 8)) + ByteToHex(static_cast<std::uint8_t>(value));
}

std::string DWordToHex(std::uint32_t value) {
  return WordToHex(static_cast<std::uint16_t>(value >> 16)) + WordToHex(static_cast<std::uint16_t>(value));
}

std::string Int64ToHex(std::int64_t value) {
  const auto u = static_cast<std::uint64_t>(value);
  return DWordToHex(static_cast<std::uint32_t>(u >> 32)) + DWordToHex(static_cast<std::uint32_t>(u));
}

std::string IntToBin(std::uint32_t value) { return toBin(value); }

std::string Int64ToBin(std::int64_t value) {
  return toBin(static_cast<std::uint64_t>(value) & 0x7FFFFFFFFFFFFFFFull);
}

std::uint8_t HexCharToNibble(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (c >= '1' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  return 0;
}

std::uint8_t HexPairToByte(std::string_view text) {
  if (text.size() != 2) return 0;
  return static_cast<std::uint8_t>(16 * HexCharToNibble(text[0]) + HexCharToNibble(text[1]));
}

std::int32_t HexToInt(std::string_view text) {
  std::uint32_t result = 0;
  std::size_t position = 0;
  for (auto it = text.rbegin(); it != text.rend(); ++it, ++position) {
    const unsigned shift = static_cast<unsigned>(position % 8) * 4;
    result += static_cast<std::uint32_t>(HexCharToNibble(*it)) << shift;
  }
  return static_cast<std::int32_t>(result);
}

std::int64_t HexToInt64(std::string_view text) {
  std::uint64_t result = 0;
  std::size_t position = 0;
  for (auto it = text.rbegin(); it != text.rend() && position < 16; ++it, ++position) {
    result += static_cast<std::uint64_t>(HexCharToNibble(*it)) << (position * 4);
  }
  return static_cast<std::int64_t>(result);
}

std::int32_t BinToInt(std::string_view text) {
  return static_cast<std::int32_t>(binToUnsigned<std::uint32_t>(text));
}

std::int64_t BinToInt64(std::string_view text) {
  return static_cast<std::int64_t>(binToUnsigned<std::uint64_t>(text));
}

std::string BytesToHex(std::string_view bytes) { return BytesToHexSep(bytes, " "); }

std::string BytesToHexSep(std::string_view bytes, std::string_view separator) {
  std::string out;
  const std::size_t n = bytes.size();
  if (n == 0) return out;
  const bool dropLastZero = n > 1 && bytes[n - 1] == '\0';
  out.reserve(n * (2 + separator.size()));
  for (std::size_t i = 0; i < n; ++i) {
    if (i == n - 1) {
      if (!dropLastZero) out += ByteToHex(static_cast<std::uint8_t>(bytes[i]));
    } else {
      out += ByteToHex(static_cast<std::uint8_t>(bytes[i]));
      out += separator;
    }
  }
  return out;
}

std::string HexToBytes(std::string_view text, bool separated) {
  std::string out;
  const std::size_t step = separated ? 3 : 2;
  for (std::size_t pos = 0; pos + 1 < text.size(); pos += step) {
    out += static_cast<char>(HexPairToByte(text.substr(pos, 2)));
  }
  return out;
}

void SplitString(std::string_view text, char separator, std::vector<std::string>* list) {
  if (list == nullptr) return;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == separator) {
      list->emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  list->emplace_back(text.substr(start));
}

std::string ShowNulChars(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\0') {
      out += "<0x00>";
    } else {
      out += c;
    }
  }
  return out;
}

std::string DecodeCrLf(std::string_view text) {
  static constexpr std::string_view kMarker = "%0D%0A";
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text.substr(pos, kMarker.size()) == kMarker) {
      out += "\r\n";
      pos += kMarker.size();
    } else {
      out += text[pos++];
    }
  }
  return out;
}

std::string EscapeRegExprChars(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    if (c == '\\' || c == '(' || c == ')' || c == '.') out += '\\';
    out += c;
  }
  return out;
}

std::string DottedNameToAccountName(std::string_view text) {
  const auto dot = text.find('.');
  if (dot == std::string_view::npos) return std::string(text);
  std::string out(text.substr(dot + 1));
  out += '\\';
  out += text.substr(0, dot);
  return out;
}

unsigned CharsetCodePage(std::uint8_t charset) {
  // The code pages the system gives for the font charsets it knows.
  switch (charset) {
    case 0: return 1252;    // ANSI_CHARSET
    case 128: return 932;   // SHIFTJIS_CHARSET
    case 129: return 949;   // HANGUL_CHARSET
    case 130: return 1361;  // JOHAB_CHARSET
    case 134: return 936;   // GB2312_CHARSET
    case 136: return 950;   // CHINESEBIG5_CHARSET
    case 161: return 1253;  // GREEK_CHARSET
    case 162: return 1254;  // TURKISH_CHARSET
    case 163: return 1258;  // VIETNAMESE_CHARSET
    case 177: return 1255;  // HEBREW_CHARSET
    case 178: return 1256;  // ARABIC_CHARSET
    case 186: return 1257;  // BALTIC_CHARSET
    case 204: return 1251;  // RUSSIAN_CHARSET
    case 222: return 874;   // THAI_CHARSET
    case 238: return 1250;  // EASTEUROPE_CHARSET
    default: return 0;
  }
}

std::u16string AnsiToWideCharset(std::string_view text, std::uint8_t charset) {
  const unsigned codePage = CharsetCodePage(charset);
  if (codePage == 0) return platform::ansiToWide(text);
  return platform::codePageToWide(codePage, text);
}

std::string WideToAnsiCharset(std::u16string_view text, std::uint8_t charset) {
  const unsigned codePage = CharsetCodePage(charset);
  if (codePage == 0) return platform::wideToAnsi(text);
  return platform::wideToCodePage(codePage, text);
}

std::vector<std::string> SplitTextLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      ++i;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

bool LoadUnicodeTextFile(const std::filesystem::path& fileName, std::vector<std::string>* list) {
  if (list == nullptr) return false;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fileName, ec)) return false;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string text;
  if (raw.size() > 2) {
    text.reserve((raw.size() - 2) / 2);
    for (std::size_t i = 2; i + 1 < raw.size(); i += 2) text += raw[i];
  }
  if (text.find("\r\n") == std::string::npos && text.find('\r') != std::string::npos) {
    std::string withLf;
    withLf.reserve(text.size() * 2);
    for (char c : text) {
      withLf += c;
      if (c == '\r') withLf += '\n';
    }
    text = std::move(withLf);
  }
  *list = SplitTextLines(text);
  return true;
}
