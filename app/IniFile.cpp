#include "app/IniFile.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "core/LanguageFileData.h"

namespace {

// The key under which a section or entry name is indexed: ASCII letters
// folded to lower case, as sameText compares.
std::string folded(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

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

IniFile::IniFile(std::string_view text) : utf8Text_(looksLikeUtf8(text)) {
  // Buckets for every section at once: a table grown step by step visits
  // all it holds at each step. Bounded, so a text of nothing but brackets
  // reserves no more than a few megabytes.
  std::size_t brackets = 0;
  for (char c : text) brackets += c == '[';
  sectionIndex_.reserve(std::min<std::size_t>(brackets, std::size_t{1} << 20));
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
      current = &findOrAdd(trim(line.substr(1, line.size() - 2)));
    } else if (current) {
      const std::size_t eq = line.find('=');
      if (eq == std::string_view::npos)
        current->add(std::string(line), {});
      else
        current->add(std::string(trim(line.substr(0, eq))), std::string(trim(line.substr(eq + 1))));
    }
    if (end == text.size()) break;
  }
}

const IniFile::Entry* IniFile::Section::find(std::string_view name) const {
  if (index.empty()) {
    for (const Entry& e : entries)
      if (sameText(e.name, name)) return &e;
    return nullptr;
  }
  const auto it = index.find(folded(name));
  return it == index.end() ? nullptr : &entries[it->second];
}

IniFile::Entry* IniFile::Section::find(std::string_view name) {
  return const_cast<Entry*>(static_cast<const Section*>(this)->find(name));
}

void IniFile::Section::add(std::string name, std::string value) {
  entries.push_back(Entry{std::move(name), std::move(value)});
  // A repeated name keeps its place in the list; lookups find the first.
  if (!index.empty()) {
    index.emplace(folded(entries.back().name), entries.size() - 1);
  } else if (entries.size() > kIndexedFrom) {
    for (std::size_t i = 0; i < entries.size(); ++i) index.emplace(folded(entries[i].name), i);
  }
}

const IniFile::Section* IniFile::find(std::string_view section) const {
  const auto it = sectionIndex_.find(folded(section));
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

IniFile::Section* IniFile::find(std::string_view section) {
  const auto it = sectionIndex_.find(folded(section));
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

IniFile::Section& IniFile::findOrAdd(std::string_view section) {
  const auto [it, added] = sectionIndex_.emplace(folded(section), sections_.size());
  if (added) sections_.push_back(Section{std::string(section), {}, {}});
  return sections_[it->second];
}

bool IniFile::SectionExists(std::string_view section) const { return find(section) != nullptr; }

bool IniFile::ValueExists(std::string_view section, std::string_view name) const {
  const Section* s = find(section);
  return s && s->find(name);
}

std::string IniFile::ReadString(std::string_view section, std::string_view name, std::string_view def) const {
  if (const Section* s = find(section))
    if (const Entry* e = s->find(name)) return e->value;
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
  Section& s = findOrAdd(section);
  if (Entry* e = s.find(name))
    e->value = std::string(value);
  else
    s.add(std::string(name), std::string(value));
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
