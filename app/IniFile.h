#pragma once

// In-memory INI text as the language files use it: "[Section]" lines open a
// section, "name=value" lines belong to the section above; section and value
// names match without regard to case (ASCII folding, as the files are 8-bit
// text); ";" lines and empty lines are ignored; the value is everything after
// the first "=". Text is 8-bit, kept byte for byte.

#include <string>
#include <string_view>
#include <vector>

class IniFile {
public:
  IniFile() = default;
  // Parses text (CR LF, LF or CR line ends).
  explicit IniFile(std::string_view text);

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view name) const;
  std::string ReadString(std::string_view section, std::string_view name, std::string_view def) const;
  // "1"/"0"-style Boolean: any integer, non-zero is true; other text gives def.
  bool ReadBool(std::string_view section, std::string_view name, bool def) const;
  int ReadInteger(std::string_view section, std::string_view name, int def) const;
  // The section's lines as "name=value", in file order.
  std::vector<std::string> ReadSectionValues(std::string_view section) const;

  void WriteString(std::string_view section, std::string_view name, std::string_view value);
  // The whole content as INI text with CR LF line ends.
  std::string Text() const;

private:
  struct Entry {
    std::string name, value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Section* find(std::string_view section) const;
  Section* find(std::string_view section);
  std::vector<Section> sections_;
};

// ASCII case-insensitive equality, used for section, value and message keys.
bool sameText(std::string_view a, std::string_view b);
