#include "core/bwlFFBootIni.h"

#include <cstddef>
#include <fstream>
#include <optional>
#include <span>
#include <system_error>

#include "core/LocaleText.h"
#include "core/bwlFilesPathsWinAPI.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kBootLoader = "boot loader";
constexpr const char* kOperatingSystems = "operating systems";
constexpr const char* kOwnSection = "quorvane";
constexpr const char* kTimeout = "timeout";
constexpr const char* kTimeoutOld = "timeout.old";
constexpr std::int32_t kDefaultTimeout = 30;

std::string_view trimmed(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// A decimal number with an optional sign, or hex after "$" or "0x", in 32 bits.
std::optional<std::int32_t> parseInt(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (!text.empty() && text[0] == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    value = value * base + digit;
    if (value > 0xFFFFFFFFLL) return std::nullopt;
  }
  if (base == 16) return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// The file's lines with their own line ends, and what each is to the INI
// reader. Nothing of the text is lost: joining content and end of every line
// gives it back.
struct IniLine {
  std::string content;
  std::string end;                // "\r\n", "\n", "\r" or "" on a last line without one
  enum Kind { skipped, section, key, other } kind = skipped;
  std::string name;               // the section's or the key's, trimmed
  std::string value;              // the key's, trimmed
  std::optional<std::string> owner;  // the name of the section the line is in
};

struct IniText {
  std::vector<IniLine> lines;
  std::string lineEnd = "\r\n";   // the file's own, for what is added

  explicit IniText(std::string_view text) {
    bool sawEnd = false;
    std::size_t pos = 0;
    std::optional<std::string> section;
    while (pos < text.size()) {
      const std::size_t at = text.find_first_of("\r\n", pos);
      IniLine line;
      if (at == std::string_view::npos) {
        line.content.assign(text.substr(pos));
        pos = text.size();
      } else {
        line.content.assign(text.substr(pos, at - pos));
        const std::size_t endSize = text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
        line.end.assign(text.substr(at, endSize));
        pos = at + endSize;
        if (!sawEnd) lineEnd = line.end;
        sawEnd = true;
      }
      const std::string_view t = trimmed(line.content);
      if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
        line.kind = IniLine::section;
        line.name.assign(trimmed(t.substr(1, t.size() - 2)));
        section = line.name;
      } else if (!t.empty() && t.front() != ';' && section) {
        const std::size_t eq = t.find('=');
        if (eq != std::string_view::npos) {
          line.kind = IniLine::key;
          line.name.assign(trimmed(t.substr(0, eq)));
          line.value.assign(trimmed(t.substr(eq + 1)));
        } else {
          line.kind = IniLine::other;
        }
      }
      if (line.kind != IniLine::section) line.owner = section;
      lines.push_back(std::move(line));
    }
  }

  bool inSection(const IniLine& line, std::string_view section) const {
    return line.owner && core::SameTextLocale(*line.owner, section);
  }

  IniLine* findKey(std::string_view section, std::string_view key) {
    for (IniLine& line : lines)
      if (line.kind == IniLine::key && core::SameTextLocale(line.name, key) && inSection(line, section)) return &line;
    return nullptr;
  }

  // The lines of a section as the INI reader keeps them.
  std::vector<std::string> sectionLines(std::string_view section) const {
    std::vector<std::string> out;
    for (const IniLine& line : lines) {
      if (!inSection(line, section)) continue;
      if (line.kind == IniLine::key) out.push_back(line.name + "=" + line.value);
      else if (line.kind == IniLine::other) out.emplace_back(trimmed(line.content));
    }
    return out;
  }

  void insertAt(std::size_t at, std::string content) {
    if (at > 0 && lines[at - 1].end.empty()) lines[at - 1].end = lineEnd;
    IniLine line;
    line.content = std::move(content);
    line.end = lineEnd;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  }

  // Sets a key: its line is replaced in place when its value differs; a new
  // key goes after the last line that holds something in the last part of its
  // section, a new section at the end of the text. False when nothing changed.
  bool set(std::string_view section, std::string_view key, const std::string& value) {
    if (IniLine* line = findKey(section, key)) {
      if (line->value == value) return false;
      line->content = line->name + "=" + value;
      line->value = value;
      return true;
    }
    std::optional<std::size_t> after;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].kind == IniLine::section && core::SameTextLocale(lines[i].name, section)) after = i;
      else if (after && (lines[i].kind == IniLine::key || lines[i].kind == IniLine::other) && inSection(lines[i], section))
        after = i;
    }
    const std::string keyLine = std::string(key) + "=" + value;
    if (after) {
      insertAt(*after + 1, keyLine);
    } else {
      insertAt(lines.size(), "[" + std::string(section) + "]");
      insertAt(lines.size(), keyLine);
    }
    return true;
  }

  std::string text() const {
    std::string out;
    for (const IniLine& line : lines) out.append(line.content).append(line.end);
    return out;
  }
};

// The whole file, or nothing when it cannot be read or is too large to be a
// boot.ini.
std::optional<std::string> readBootIni(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(TBootIni::kMaxFileSize + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return std::nullopt;
  const std::size_t got = static_cast<std::size_t>(in.gcount());
  if (got > TBootIni::kMaxFileSize) return std::nullopt;
  text.resize(got);
  return text;
}

}  // namespace

std::string BootIniTextSaved(const std::string& text, std::int32_t timeout, std::int32_t previousTimeout) {
  IniText ini(text);
  // "030" is the timeout 30 already and stays as written.
  const IniLine* current = ini.findKey(kBootLoader, kTimeout);
  if (current == nullptr || parseInt(current->value) != timeout) ini.set(kBootLoader, kTimeout, std::to_string(timeout));
  // Read again, so that lines just added count as the reader sees them.
  IniText again(ini.text());
  if (!again.findKey(kOwnSection, kTimeoutOld)) again.set(kOwnSection, kTimeoutOld, std::to_string(previousTimeout));
  return again.text();
}

TBootIni::TBootIni(const std::string& path) {
  FFileName = path;
  if (FFileName.empty()) FFileName = GetWindowsFolderWindowsPath().substr(0, 3) + "boot.ini";
  std::error_code ec;
  FExists = fs::is_regular_file(platform::windowsToLinuxPath(FFileName), ec);
  (void)Load();
}

TBootIni::~TBootIni() { (void)Save(); }

bool TBootIni::Load() {
  FEntries.clear();
  FTimeout = kDefaultTimeout;
  std::error_code ec;
  const fs::path native = platform::windowsToLinuxPath(FFileName);
  if (!fs::exists(native, ec)) {
    FPreviousTimeout = FTimeout;
    return true;
  }
  const std::optional<std::string> text = readBootIni(native);
  if (!text) return false;
  IniText ini(*text);
  if (const IniLine* line = ini.findKey(kBootLoader, kTimeout)) FTimeout = parseInt(line->value).value_or(kDefaultTimeout);
  FPreviousTimeout = FTimeout;
  FEntries = ini.sectionLines(kOperatingSystems);
  return true;
}

bool TBootIni::Save() {
  if (!FExists) return false;
  const fs::path native = platform::windowsToLinuxPath(FFileName);
  const std::optional<std::string> text = readBootIni(native);
  if (!text) return false;
  const std::string saved = BootIniTextSaved(*text, FTimeout, FPreviousTimeout);
  if (saved == *text) return true;
  // A read-only mount refuses the temporary file and the old file stays.
  return platform::writeFileAtomically(native, std::as_bytes(std::span(saved.data(), saved.size()))) == 0;
}

std::string TBootIni::GetEntryName(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= FEntries.size()) return {};
  const std::string& line = FEntries[static_cast<std::size_t>(index)];
  const std::size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

bool TBootIni::IsWindowsEntry(int index) const {
  const std::string name = GetEntryName(index);
  return name.find("multi(") != std::string::npos && name.find("disk(") != std::string::npos &&
         name.find("partition(") != std::string::npos;
}

void TBootIni::GetWindowsFolders(std::vector<std::string>& list) const {
  list.clear();
  for (std::size_t i = 0; i < FEntries.size(); ++i) {
    if (!IsWindowsEntry(static_cast<int>(i))) continue;
    const std::string name = GetEntryName(static_cast<int>(i));
    const std::size_t slash = name.find('\\');
    if (slash == std::string::npos) continue;
    const std::string folder = name.substr(slash);
    bool present = false;
    for (const std::string& known : list) present = present || core::SameTextLocale(known, folder);
    if (!present) list.push_back(folder);
  }
}
