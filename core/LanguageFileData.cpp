#include "core/LanguageFileData.h"

#include <zlib.h>

#include <array>
#include <cctype>

namespace {

bool sameUpper(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(text[i])) != upper[i]) return false;
  return true;
}

// Inflates `in` in chunks of 4096 bytes until the stream ends, fails or the
// limit is reached; keeps what came out before a failure.
std::string inflateText(std::span<const std::uint8_t> in, std::size_t limit) {
  std::string out;
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return out;
  std::array<unsigned char, 4096> chunk{};
  std::size_t offset = 0;
  int rc = Z_OK;
  while (rc == Z_OK && out.size() < limit) {
    // zlib counts in uInt; feed at most 1 GiB at a time.
    if (zs.avail_in == 0 && offset < in.size()) {
      const std::size_t take = std::min<std::size_t>(in.size() - offset, 1u << 30);
      zs.next_in = const_cast<Bytef*>(in.data() + offset);
      zs.avail_in = static_cast<uInt>(take);
      offset += take;
    }
    zs.next_out = chunk.data();
    zs.avail_out = static_cast<uInt>(chunk.size());
    rc = inflate(&zs, Z_NO_FLUSH);
    const std::size_t produced = chunk.size() - zs.avail_out;
    out.append(reinterpret_cast<const char*>(chunk.data()), std::min(produced, limit - out.size()));
    // No progress with all input used: the stream is cut short.
    if (rc == Z_BUF_ERROR || (rc == Z_OK && produced == 0 && zs.avail_in == 0 && offset >= in.size())) break;
  }
  inflateEnd(&zs);
  return out;
}

}  // namespace

std::string languageFileText(std::span<const std::uint8_t> bytes, std::string_view compressIndicator,
                             std::size_t limit) {
  const std::string marker = std::string(compressIndicator) + "1";
  if (bytes.size() > marker.size() &&
      std::string_view(reinterpret_cast<const char*>(bytes.data()), marker.size()) == marker)
    return inflateText(bytes.subspan(marker.size()), limit);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::uint8_t bidiModeFromText(std::string_view text) {
  if (sameUpper(text, "LR")) return 0;
  if (sameUpper(text, "RL")) return 1;
  if (sameUpper(text, "RLNA")) return 2;
  if (sameUpper(text, "RLRO")) return 3;
  return 0;
}

bool looksLikeUtf8(std::string_view text) {
  bool beyondAscii = false;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    beyondAscii = true;
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07u;
    } else {
      return false;  // a continuation byte, C0/C1 or F5..FF where a sequence starts
    }
    if (length > text.size() - i) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0u) != 0x80u) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000)) return false;  // overlong
    if (code >= 0xD800 && code <= 0xDFFF) return false;
    if (code > 0x10FFFF) return false;
    i += length;
  }
  return beyondAscii;
}
