#pragma once

// The bytes of a language file as INI text. A file is either the text itself
// or, when it is longer than the marker and begins with it (the compression
// indicator followed by "1", compared exactly), a zlib stream of the text
// from byte 4 on. No Qt, so the sanitizer and fuzz builds read it too.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The most text a compressed file may inflate to; what lies beyond is cut
// off, so a small hostile file cannot make the program allocate gigabytes.
inline constexpr std::size_t kMaxLanguageText = 32u * 1024u * 1024u;

// The INI text of a language file. A compressed file whose stream is damaged
// or cut short gives what inflated before the damage (possibly nothing).
std::string languageFileText(std::span<const std::uint8_t> bytes, std::string_view compressIndicator,
                             std::size_t limit = kMaxLanguageText);

// Reading order of a language file's [Main] BiDiMode: "LR" 0, "RL" 1,
// "RLNA" 2, "RLRO" 3, compared without regard to case; any other text 0.
std::uint8_t bidiModeFromText(std::string_view text);

// Whether a language file's text is UTF-8 although its [Main] section does
// not say so: the text decodes as UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF) and holds at least one byte above 0x7F. Text in an
// 8-bit code page with letters beyond ASCII almost never decodes as UTF-8,
// and ASCII text reads the same either way.
bool looksLikeUtf8(std::string_view text);
