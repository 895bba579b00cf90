#include "core/RegFileParser.h"

#include <cctype>

#include "core/kxStrings.h"
#include "platform/Text.h"

namespace {

std::string_view trimControl(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) < 33) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) < 33) text.remove_suffix(1);
  return text;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

// Whether a text after "=" has the shape of value data (a deletion, a quoted
// string or one of the typed prefixes); only the shape, not the content.
bool looksLikeData(std::string_view data) {
  if (data == "-") return true;
  if (data.size() >= 2 && data.front() == '"' && data.back() == '"') return true;
  static constexpr std::string_view kPrefixes[] = {"hex:", "dword:", "hex(2):", "hex(4):", "hex(5):", "hex(6):",
                                                   "hex(7):", "hex(8):", "hex(9):", "hex(a):", "hex(b):"};
  for (const std::string_view prefix : kPrefixes) {
    if (startsWithNoCase(data, prefix)) return true;
  }
  return false;
}

// Where the name field of a line ends (the index of its "="), or npos.
// A quoted name may hold "=" and even double quotes (the exporter writes them
// unescaped), so the candidates are the quotes followed by "=" that no
// backslash escapes. With more than one, the first whose rest is valid data
// wins, else the first whose rest has the shape of data, else the first. A
// line with no candidate is cut at its first "=".
std::size_t nameEnd(std::string_view body) {
  if (body.empty() || body.front() != '"') return body.find('=');
  std::vector<std::size_t> candidates;
  std::size_t backslashes = 0;
  for (std::size_t i = 1; i + 1 < body.size(); ++i) {
    const char c = body[i];
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    const bool escaped = backslashes % 2 == 1;
    backslashes = 0;
    if (c == '"' && !escaped && body[i + 1] == '=') candidates.push_back(i + 1);
  }
  if (candidates.empty()) return body.find('=');
  if (candidates.size() == 1) return candidates.front();
  for (const std::size_t at : candidates) {
    const std::string_view rest = body.substr(at + 1);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> stored;
    if (rest == "-" || RegFileDataToStored(rest, RegFileVersion::unknown, type, stored)) return at;
  }
  for (const std::size_t at : candidates) {
    if (looksLikeData(body.substr(at + 1))) return at;
  }
  return candidates.front();
}

}  // namespace

void RegFileSink::regProgress(std::size_t, std::size_t) {}

RegFileParser::RegFileParser(RegFileSink& sink, RegFileVersion version, bool takeValuesBeforeSection)
    : sink_(sink), version_(version), takeValues_(takeValuesBeforeSection) {}

void RegFileParser::parseLines(std::span<const std::string> lines) {
  // The header alone says nothing. The line after it is read like any other:
  // an empty one is skipped anyway, and a section right below the header
  // must not be lost.
  if (lines.size() <= 1) return;
  const std::size_t last = lines.size() - 1;
  for (std::size_t i = 1; i <= last; ++i) {
    sink_.regProgress(i, last);
    const std::string_view line = lines[i];
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']') {
      sectionLine(line);
    } else {
      otherLine(line);
    }
  }
}

void RegFileParser::sectionLine(std::string_view line) {
  // A value left unfinished by a final "\" is malformed; carrying it into the
  // next section would write a made-up value into another key.
  pending_.clear();
  std::string_view inner = line.substr(1, line.size() - 2);
  const bool deleted = !inner.empty() && inner.front() == '-';
  if (deleted) inner.remove_prefix(1);
  const auto slash = inner.find('\\');
  const std::string_view rootName = slash == std::string_view::npos ? inner : inner.substr(0, slash);
  const std::string_view keyPath = slash == std::string_view::npos ? std::string_view() : inner.substr(slash);
  takeValues_ = sink_.regKey(rootName, keyPath, deleted);
}

void RegFileParser::otherLine(std::string_view line) {
  if (!takeValues_) return;
  const std::string_view trimmed = trimControl(line);
  // A line of blanks only is an empty line: ending a continued value there
  // would write it cut short.
  if (trimmed.empty()) return;
  if (trimmed.starts_with("//")) return;
  if (trimmed.back() == '\\') {
    pending_.append(trimmed.substr(0, trimmed.size() - 1));
    return;
  }
  pending_.append(trimmed);
  const std::string complete = std::move(pending_);
  pending_.clear();
  processValueLine(complete);
}

RegFileValueLine RegFileParser::splitValueLine(std::string_view line, RegFileVersion version) {
  RegFileValueLine value;
  const bool leadingMinus = !line.empty() && line.front() == '-';
  const std::string_view body = leadingMinus ? line.substr(1) : line;
  const std::size_t eq = nameEnd(body);
  std::string_view name = eq == std::string_view::npos ? body : body.substr(0, eq);
  if (eq != std::string_view::npos) value.data = std::string(body.substr(eq + 1));
  if (name == "@") name = {};
  value.name = UnquoteRegName(name);
  value.deleted = leadingMinus || value.data == "-";
  if (value.deleted) {
    value.rawData = value.data;
    value.dataText = value.data;
    return value;
  }
  std::string display;
  value.kind = ParseRegFileData(value.data, display, version);
  value.rawData = value.data;
  switch (value.kind) {
    case rdString:
      value.rawData = UnescapeRegString(value.data);
      value.dataText = UnescapeRegString(display);
      break;
    case rdExpandString:
      value.dataText = RegHexDigitsToText(StripRegHexPrefix(value.data), version);
      break;
    case rdMultiString:
      value.dataText = std::string(trimControl(display));
      break;
    default:
      value.dataText = value.data;
      break;
  }
  return value;
}

void RegFileParser::processValueLine(std::string_view line) { sink_.regValue(splitValueLine(line, version_)); }

RegFileVersion RegFileVersionOfHeader(std::string_view firstLine) {
  if (firstLine.starts_with(kRegFileHeader4)) return RegFileVersion::v4;
  if (firstLine.starts_with(kRegFileHeader5)) return RegFileVersion::v5;
  return RegFileVersion::unknown;
}

bool ReadRegFileLines(std::string_view fileBytes, std::vector<std::string>& lines, RegFileVersion& version) {
  lines.clear();
  if (fileBytes.starts_with(kRegFileHeader4)) {
    version = RegFileVersion::v4;
    lines = SplitTextLines(fileBytes);
    return true;
  }
  if (fileBytes.size() >= 2 && static_cast<unsigned char>(fileBytes[0]) == 0xFF &&
      static_cast<unsigned char>(fileBytes[1]) == 0xFE) {
    const std::string_view body = fileBytes.substr(2);
    std::u16string units(body.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
      units[i] = static_cast<char16_t>(static_cast<unsigned char>(body[2 * i]) |
                                       (static_cast<unsigned char>(body[2 * i + 1]) << 8));
    }
    if (!std::u16string_view(units).starts_with(u"Windows Registry Editor Version 5.00")) return false;
    version = RegFileVersion::v5;
    lines = SplitTextLines(platform::wideToAnsi(units));
    return true;
  }
  return false;
}
