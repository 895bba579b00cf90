#pragma once

// The information database: notes on registry keys (and optionally on one of
// a key's values), each a block of note lines and a list of links, kept in one
// file in the component-streaming format:
//
//   "TPF0", 0x01, { "TRegistryInfoItem", Key, Value, Info text, URLs text }, 0x00
//
// where every string is a tagged string value (0x06 short, 0x0C long, 0x14
// UTF-8; 0x12 UTF-16LE is read too). Texts in memory are 8-bit text in the
// active code page.

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "unicode/UniErrors.h"  // EFCreateError, EFOpenError

// The stream errors of the format: a bad signature, an unexpected tag or a
// file cut short ("Invalid stream format", "Invalid property value",
// "Stream read error").
class EReadError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TRegistryInfoItem {
public:
  std::string Key;
  std::string Value;                // empty for a note on the key itself
  std::vector<std::string> Info;    // the note's lines
  std::vector<std::string> URLs;    // links, one per line

  void Assign(const TRegistryInfoItem& source);
  std::string GetDisplayName() const { return "TRegistryInfoItem"; }

  // A list's text: every line followed by CR LF. Setting it splits at CR LF,
  // CR or LF; a trailing break makes no empty last line.
  static std::string ListText(const std::vector<std::string>& lines);
  static std::vector<std::string> SplitText(const std::string& text);
};

class TRegistryInfo {
public:
  TRegistryInfo() = default;
  TRegistryInfo(const TRegistryInfo&) = delete;
  TRegistryInfo& operator=(const TRegistryInfo&) = delete;

  TRegistryInfoItem& Add();
  TRegistryInfoItem& GetItem(int index);
  const TRegistryInfoItem& GetItem(int index) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  void Clear() { FItems.clear(); }

  // Clears, then appends what the file holds.
  void LoadFromFile(const std::string& fileName);
  // A missing file changes nothing; a broken one raises EReadError, keeping
  // the items read before the fault.
  void AppendFromFile(const std::string& fileName);
  // Replaces the file whole: the new content is written beside it and moved
  // over it only when complete, so a failed save leaves the old file intact.
  void SaveToFile(const std::string& fileName) const;

  void WriteToStream(std::vector<std::uint8_t>& out) const;
  void ReadFromStream(std::span<const std::uint8_t> in);

  // The first item for this key path (case ignored) with no value name.
  TRegistryInfoItem* FindKey(const std::string& keyPath);

private:
  std::vector<std::unique_ptr<TRegistryInfoItem>> FItems;
};
