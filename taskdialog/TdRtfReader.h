#pragma once

// A small reader of the rich text the dialog's details may come in. It keeps
// what the details edit shows: the text, its paragraphs and tabs, and bold,
// italic and underline. Fonts, colours, pictures, fields' instructions and
// every other destination are skipped.
//
// The bytes come from files and streams the application is handed, so the
// reader never recurses: groups deeper than TdRtfMaxDepth share the state of
// the deepest one kept, control words and their numbers are cut at fixed
// lengths, and only the first TdRtfMaxInput bytes are read.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

inline constexpr std::size_t TdRtfMaxDepth = 256;
inline constexpr std::size_t TdRtfMaxInput = 16u << 20;

// A stretch of text in one format. A paragraph ends at u'\n'; u'\u2028'
// breaks a line inside one.
struct TdRtfRun {
  std::u16string Text;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
};

// Whether Bytes start as rich text does: "{\rtf", after white space.
bool TdIsRtf(std::span<const std::uint8_t> Bytes);

// The runs of Bytes, neighbours of one format merged. A group left open at
// the end closes there; unbalanced closing braces are ignored.
std::vector<TdRtfRun> TdReadRtf(std::span<const std::uint8_t> Bytes);
