#include "unicode/UniSystem.h"

#include <array>
#include <memory>

#include "platform/Text.h"

namespace uni {

namespace {

constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kDirect =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789'(),-./:?";
// Backslash and tilde are not among the optional direct characters: some
// 7-bit national variants put other letters at those codes.
constexpr std::string_view kOptionalDirect = "!\"#$%&*;<=>@[]^_`{|}";
constexpr std::string_view kWhiteSpace = "\t\r\n ";

constexpr std::uint8_t kNotBase64 = 0xFF;

struct Utf7Tables {
  std::array<std::uint8_t, 128> base64Value{};  // kNotBase64 outside the alphabet
  std::array<bool, 128> strictNeedsEncoding{};
  std::array<bool, 128> relaxedNeedsEncoding{};

  constexpr Utf7Tables() {
    for (auto& v : base64Value) v = kNotBase64;
    for (std::size_t i = 0; i < kBase64.size(); ++i)
      base64Value[static_cast<unsigned char>(kBase64[i])] = static_cast<std::uint8_t>(i);
    for (auto& v : strictNeedsEncoding) v = true;
    for (const char c : kDirect) strictNeedsEncoding[static_cast<unsigned char>(c)] = false;
    for (const char c : kWhiteSpace) strictNeedsEncoding[static_cast<unsigned char>(c)] = false;
    relaxedNeedsEncoding = strictNeedsEncoding;
    for (const char c : kOptionalDirect) relaxedNeedsEncoding[static_cast<unsigned char>(c)] = false;
  }
};

constexpr Utf7Tables kUtf7;

bool isBase64(char16_t c) { return c < 128 && kUtf7.base64Value[c] != kNotBase64; }

}  // namespace

TUtf7Result ConvertUTF16ToUTF7(const char16_t*& Source, const char16_t* SourceEnd, char*& Target,
                               char* TargetEnd, bool Strict) {
  const auto& needsEncoding = Strict ? kUtf7.strictNeedsEncoding : kUtf7.relaxedNeedsEncoding;
  const char16_t* src = Source;
  char* out = Target;
  bool inRun = false;
  std::uint32_t bits = 0;  // the low `bitCount` bits are pending
  int bitCount = 0;
  TUtf7Result result = utf7Ok;

  // Writes the run's last partial group, padded with zero bits.
  const auto flushBits = [&]() -> bool {
    if (bitCount == 0) return true;
    if (out == TargetEnd) return false;
    *out++ = kBase64[(bits << (6 - bitCount)) & 0x3F];
    bitCount = 0;
    return true;
  };

  while (src != SourceEnd) {
    const char16_t c = *src;
    const bool encode = c >= 128 || needsEncoding[c];
    if (!encode) {
      if (inRun) {
        if (!flushBits()) { result = utf7BufferFull; break; }
        inRun = false;
        // Without the "-" a decoder would read this character as more base64.
        if (isBase64(c) || c == u'-') {
          if (out == TargetEnd) { result = utf7BufferFull; break; }
          *out++ = '-';
        }
      }
      if (out == TargetEnd) { result = utf7BufferFull; break; }
      *out++ = static_cast<char>(c);
      ++src;
    } else if (!inRun) {
      if (out == TargetEnd) { result = utf7BufferFull; break; }
      *out++ = '+';
      if (c == u'+') {
        if (out == TargetEnd) { result = utf7BufferFull; break; }
        *out++ = '-';
        ++src;
      } else {
        inRun = true;
        bits = 0;
        bitCount = 0;
      }
    } else {
      // The unit enters the buffer once all of its groups have room, so a
      // full buffer never leaves a unit half written.
      const int groups = (bitCount + 16) / 6;
      if (TargetEnd - out < groups) { result = utf7BufferFull; break; }
      bits = (bits << 16) | c;
      bitCount += 16;
      while (bitCount >= 6) {
        bitCount -= 6;
        *out++ = kBase64[(bits >> bitCount) & 0x3F];
      }
      bits &= (1u << bitCount) - 1;
      ++src;
    }
  }
  // At the end of the text the run closes with no "-".
  if (result == utf7Ok && inRun && !flushBits()) result = utf7BufferFull;
  Source = src;
  Target = out;
  return result;
}

TUtf7Result ConvertUTF7ToUTF16(const char*& Source, const char* SourceEnd, char16_t*& Target,
                               char16_t* TargetEnd) {
  const char* src = Source;
  char16_t* out = Target;
  bool invalid = false;
  TUtf7Result result = utf7Ok;

  while (src != SourceEnd) {
    const auto b = static_cast<unsigned char>(*src);
    if (b != '+') {
      if (out == TargetEnd) { result = utf7BufferFull; break; }
      *out++ = b;
      if (b >= 128) invalid = true;
      ++src;
      continue;
    }
    // A base64 run: "+" then base64 characters up to the first other byte.
    ++src;
    std::uint32_t bits = 0;
    int bitCount = 0;
    bool stored = false;
    bool anyBase64 = false;
    bool full = false;
    while (src != SourceEnd) {
      const auto d = static_cast<unsigned char>(*src);
      if (d >= 128 || kUtf7.base64Value[d] == kNotBase64) break;
      bits = (bits << 6) | kUtf7.base64Value[d];
      bitCount += 6;
      anyBase64 = true;
      ++src;
      if (bitCount >= 16) {
        bitCount -= 16;
        if (out == TargetEnd) { full = true; break; }
        *out++ = static_cast<char16_t>(bits >> bitCount);
        bits &= (1u << bitCount) - 1;
        stored = true;
      }
    }
    if (full) { result = utf7BufferFull; break; }
    const bool dash = src != SourceEnd && *src == '-';
    if (dash) {
      ++src;
      if (!anyBase64) {
        if (out == TargetEnd) { result = utf7BufferFull; break; }
        *out++ = u'+';
        continue;  // "+-"
      }
    }
    // A run that held no character ("+" at the end, "+ ", "+A-"), or one
    // whose padding bits are not zero, is not what an encoder writes.
    if (!stored || bits != 0) invalid = true;
  }
  Source = src;
  Target = out;
  if (result == utf7Ok && invalid) result = utf7Invalid;
  return result;
}

std::string WideToUTF7(std::u16string_view W) {
  if (W.empty()) return {};
  // A lone unit in a run costs at most "+", three base64 characters and "-".
  const std::size_t capacity = W.size() * 5;
  const auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
  const char16_t* src = W.data();
  char* out = buffer.get();
  if (ConvertUTF16ToUTF7(src, W.data() + W.size(), out, buffer.get() + capacity, false) != utf7Ok)
    throw EUniInternalError("Buffer overflow");
  return std::string(buffer.get(), static_cast<std::size_t>(out - buffer.get()));
}

std::u16string UTF7ToWide(std::string_view S) {
  if (S.empty()) return {};
  // Every byte gives at most one unit.
  const auto buffer = std::make_unique_for_overwrite<char16_t[]>(S.size());
  const char* src = S.data();
  char16_t* out = buffer.get();
  switch (ConvertUTF7ToUTF16(src, S.data() + S.size(), out, buffer.get() + S.size())) {
    case utf7Ok:
      break;
    case utf7Invalid:
      throw EUniGeneralError("Invalid UTF7");
    case utf7BufferFull:
      throw EUniInternalError("Buffer overflow");
  }
  return std::u16string(buffer.get(), static_cast<std::size_t>(out - buffer.get()));
}

std::string WideToUTF8(std::u16string_view W) { return platform::utf16ToWtf8(W); }

std::u16string UTF8ToWide(std::string_view S) { return platform::wtf8ToUtf16(S); }

unsigned DefaultAnsiCodePage() { return platform::activeCodePage(); }

std::u16string CodePageToWide(std::string_view S, unsigned CodePage) {
  if (CodePage == CP_ACP) CodePage = DefaultAnsiCodePage();
  if (CodePage == CP_UTF7) return UTF7ToWide(S);
  if (CodePage == CP_UTF8) return UTF8ToWide(S);
  if (S.empty() || !platform::codePageSupported(CodePage)) return {};
  return platform::codePageToWide(CodePage, S);
}

std::string WideToCodePage(std::u16string_view W, unsigned CodePage) {
  if (CodePage == CP_ACP) CodePage = DefaultAnsiCodePage();
  if (CodePage == CP_UTF7) return WideToUTF7(W);
  if (CodePage == CP_UTF8) return WideToUTF8(W);
  if (W.empty() || !platform::codePageSupported(CodePage)) return {};
  return platform::wideToCodePage(CodePage, W);
}

void SwapWideByteOrder(std::span<char16_t> Text) {
  for (char16_t& c : Text) c = static_cast<char16_t>((c >> 8) | (c << 8));
}

}  // namespace uni
