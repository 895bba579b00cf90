#pragma once

// In-memory INI text as the language files use it: "[Section]" lines open a
// section, "name=value" lines belong to the section above; section and value
// names match without regard to case (ASCII folding, as the files are 8-bit
// text); ";" lines and empty lines are ignored; the value is everything after
// the first "=". Text is 8-bit, kept byte for byte. Sections and names are
// found through hash indexes, so reading a file and looking up its entries
// take time in proportion to its size, however many sections it has.

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
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
  // Whether the parsed text was UTF-8 with letters beyond ASCII
  // (looksLikeUtf8); false for an INI built by writing.
  bool Utf8Text() const { return utf8Text_; }

private:
  struct Entry {
    std::string name, value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
    // Folded name -> index of the first entry of that name; made once the
    // section has more entries than a short scan reads quickly (most
    // sections hold a handful, and a map for each would cost more).
    static constexpr std::size_t kIndexedFrom = 16;
    std::unordered_map<std::string, std::size_t> index;
    const Entry* find(std::string_view name) const;
    Entry* find(std::string_view name);
    void add(std::string name, std::string value);
  };
  const Section* find(std::string_view section) const;
  Section* find(std::string_view section);
  Section& findOrAdd(std::string_view section);
  // A deque: sections never move as more are added.
  std::deque<Section> sections_;
  // Folded section name -> index in sections_.
  std::unordered_map<std::string, std::size_t> sectionIndex_;
  bool utf8Text_ = false;
};

// ASCII case-insensitive equality, used for section, value and message keys.
bool sameText(std::string_view a, std::string_view b);
