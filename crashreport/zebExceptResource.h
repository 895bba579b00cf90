#pragma once

// The settings resource: one flat object "zebExcept" of class "TZebExcept" in
// the streamed-form layout ("TPF0", class name, object name, then name / type
// byte / value triples up to a zero name length). The reader checks every
// length and count against the end of the bytes it is given; the writer makes
// the same layout, and the readable table of a program's values turns into it.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zeb {

enum class SettingKind : std::uint8_t { Text = 0, Int = 1, Bool = 2 };

struct SettingEntry {
  std::string name;
  SettingKind kind = SettingKind::Text;
  bool boolValue = false;
  std::int32_t intValue = 0;
  std::string textValue;

  static SettingEntry Bool(std::string name, bool value);
  static SettingEntry Int(std::string name, std::int32_t value);
  static SettingEntry Text(std::string name, std::string value);
  bool operator==(const SettingEntry&) const = default;
};

// Where the reader reports a resource it cannot read to the end: the text and
// the caption. The default writes one line to standard error.
using SettingsErrorSink = std::function<void(const std::string& text, const std::string& caption)>;
void SetSettingsErrorSink(SettingsErrorSink sink);
void ReportSettingsError(const std::string& text);

// Appends the entries of `bytes` to `entries`. False, with nothing read, when
// the bytes do not begin with the 25 bytes of the header. An unknown value
// type or a value cut short reports "Internal error: Invalid settings resource
// ($<type in hex>)." and stops; the entries read before stay. Type 18 texts
// (UTF-16) become UTF-8.
bool ParseSettingsResource(std::span<const std::uint8_t> bytes, std::vector<SettingEntry>& entries);

// The resource bytes of `entries`: booleans as types 8/9, integers in the
// smallest of types 2/3/4, texts as type 6 up to 255 bytes and type 12 above.
std::vector<std::uint8_t> WriteSettingsResource(std::span<const SettingEntry> entries);

// The entries a readable table names, one per line: "Name bool true|false",
// "Name int 123" or "Name text the rest of the line" (taken as it stands;
// "\n" in it stands for a line break). "Name password PLAIN" stores PLAIN
// enciphered for the server and account of the same prefix ("Smtp", "Http")
// named earlier in the table. Blank lines and lines starting with "#" are
// skipped. A line of another form fills `error` with its number and stops.
std::vector<SettingEntry> ParseSettingsTable(std::string_view table, std::string* error = nullptr);

// The stored form of a password: padded, enciphered with the account, then
// with the server, base64. What the settings store deciphers on reading.
std::string EncryptStoredPassword(std::string_view plain, std::string_view server, std::string_view account);

// This program's resource, as compiled in.
std::span<const std::uint8_t> CompiledSettingsResource();
// The resource the program's settings are read from: by default the compiled
// one; a program that links its own definition of this function gives its own.
std::span<const std::uint8_t> ProgramSettingsResource();

}  // namespace zeb
