#pragma once

// The version resource (VS_VERSIONINFO) of a PE file: its translations and
// the standard string values of one of them. Every offset, length and count
// read from the file is checked against what holds it; a damaged resource
// reads as far as it is sound, a file without one reads as none.
//
// The running program is no PE file: asked about its own file, these
// functions answer from a version block built into it (see
// ProgramVersionBlock), read by the same parser.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The bytes of the VS_VERSIONINFO block of a PE image (the first version
// resource, of its first language), or nothing when the image has none or is
// not a PE image.
std::optional<std::vector<std::uint8_t>> FindVersionResource(std::span<const std::uint8_t> image);

// A parsed VS_VERSIONINFO block.
struct TVersionInfo {
  // The "\VarFileInfo\Translation" entries: language in the low 16 bits,
  // code page in the high 16 bits.
  std::vector<std::uint32_t> Translations;
  struct TStringTable {
    std::string Key;  // language and code page as 8 hex digits, e.g. "040904E4"
    std::vector<std::pair<std::string, std::string>> Values;  // name, value (active code page)
  };
  std::vector<TStringTable> StringTables;

  // The value of "\StringFileInfo\<key>\<name>" (key and name compared
  // without regard to case); nothing when there is none.
  std::optional<std::string> Query(const std::string& tableKey, const std::string& name) const;
};

// Parses a VS_VERSIONINFO block; nothing when its root is not one. Children
// that do not fit their parent end the reading of that parent.
std::optional<TVersionInfo> ParseVersionInfo(std::span<const std::uint8_t> block);

// Writes a VS_VERSIONINFO block with one string table (for `translation`)
// holding `strings` in order, and the translation table. The fixed file
// information carries `fileVersion` (major, minor, release, build).
std::vector<std::uint8_t> BuildVersionInfo(std::uint32_t translation,
                                           const std::vector<std::pair<std::string, std::string>>& strings,
                                           const std::uint16_t (&fileVersion)[4]);

// The version block of the running program: product "Hivescope", the
// project's version, translation 0409 04E4.
const std::vector<std::uint8_t>& ProgramVersionBlock();
// The file of the running program.
std::string ProgramFileName();

// The number of translations of the file's version resource; 0 when the file
// cannot be read or has no version resource.
int GetVersionTranslationCount(const std::string& fileName);

// Appends the twelve standard string values of translation `index` as
// "Name=Value" lines (an empty value when the resource has none), then
// "Translators=..." when that value is not empty. False, and nothing
// appended, when the file has no version resource or `index` is not below
// the translation count.
bool GetVersionStrings(const std::string& fileName, int index, std::vector<std::string>& list);
