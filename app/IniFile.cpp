#include "app/IniFile.h"

#include <cctype>
#include <charconv>

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

IniFile::IniFile(std::string_view text) {
  Section* current = nullptr;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    if (line.empty() || line.front() == ';') {
      if (end == text.size()) break;
      continue;
    }
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      std::string_view name = trim(line.substr(1, line.size() - 2));
      current = find(name);
      if (!current) {
        sections_.push_back(Section{std::string(name), {}});
        current = &sections_.back();
      }
    } else if (current) {
      const std::size_t eq = line.find('=');
      if (eq == std::string_view::npos)
        current->entries.push_back(Entry{std::string(line), {}});
      else
        current->entries.push_back(Entry{std::string(trim(line.substr(0, eq))), std::string(trim(line.substr(eq + 1)))});
    }
    if (end == text.size()) break;
  }
}

const IniFile::Section* IniFile::find(std::string_view section) const {
  for (const auto& s : sections_)
    if (sameText(s.name, section)) return &s;
  return nullptr;
}

IniFile::Section* IniFile::find(std::string_view section) {
  for (auto& s : sections_)
    if (sameText(s.name, section)) return &s;
  return nullptr;
}

bool IniFile::SectionExists(std::string_view section) const { return find(section) != nullptr; }

bool IniFile::ValueExists(std::string_view section, std::string_view name) const {
  const Section* s = find(section);
  if (!s) return false;
  for (const auto& e : s->entries)
    if (sameText(e.name, name)) return true;
  return false;
}

std::string IniFile::ReadString(std::string_view section, std::string_view name, std::string_view def) const {
  if (const Section* s = find(section)) {
    for (const auto& e : s->entries)
      if (sameText(e.name, name)) return e.value;
  }
  return std::string(def);
}

int IniFile::ReadInteger(std::string_view section, std::string_view name, int def) const {
  const std::string text = ReadString(section, name, {});
  std::string_view t = trim(text);
  if (t.empty()) return def;
  int value = 0;
  int base = 10;
  if (t.size() > 1 && (t[0] == '$')) {
    t.remove_prefix(1);
    base = 16;
  } else if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    t.remove_prefix(2);
    base = 16;
  }
  const char* first = t.data();
  if (base == 10 && !t.empty() && t[0] == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, t.data() + t.size(), value, base);
  if (ec != std::errc() || ptr != t.data() + t.size()) return def;
  return value;
}

bool IniFile::ReadBool(std::string_view section, std::string_view name, bool def) const {
  return ReadInteger(section, name, def ? 1 : 0) != 0;
}

std::vector<std::string> IniFile::ReadSectionValues(std::string_view section) const {
  std::vector<std::string> lines;
  if (const Section* s = find(section)) {
    for (const auto& e : s->entries) lines.push_back(e.name + "=" + e.value);
  }
  return lines;
}

void IniFile::WriteString(std::string_view section, std::string_view name, std::string_view value) {
  Section* s = find(section);
  if (!s) {
    sections_.push_back(Section{std::string(section), {}});
    s = &sections_.back();
  }
  for (auto& e : s->entries) {
    if (sameText(e.name, name)) {
      e.value = std::string(value);
      return;
    }
  }
  s->entries.push_back(Entry{std::string(name), std::string(value)});
}

std::string IniFile::Text() const {
  std::string out;
  for (const auto& s : sections_) {
    out += "[" + s.name + "]\r\n";
    for (const auto& e : s.entries) out += e.name + "=" + e.value + "\r\n";
    out += "\r\n";
  }
  return out;
}
