#include "core/RegFileParser.h"

#include <algorithm>
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
// A quoted name escapes its double quotes and backslashes as a quoted string
// does, but older files hold names with "=" and bare double quotes, so the
// candidates are the quotes followed by "=" that no
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
  // Typed data (a hex list, a dword) never holds a double quote, so only the
  // last candidate's rest can be typed data, while a quoted string is valid
  // whatever it holds. At most one rest is parsed in full then, and a long
  // line of candidates costs one pass instead of a parse per candidate.
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::size_t at = candidates[i];
    const std::string_view rest = body.substr(at + 1);
    const bool quoted = rest.size() >= 2 && rest.front() == '"' && rest.back() == '"';
    if (!quoted && i + 1 < candidates.size()) continue;
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
  for (std::size_t i = 1; i <= last; ++i) parseLine(i, last, lines[i]);
}

void RegFileParser::parseLine(std::size_t index, std::size_t last, std::string_view line) {
  if (index < 1) return;  // the header
  sink_.regProgress(index, last);
  if (line.empty()) return;
  if (line.front() == '[' && line.back() == ']') {
    sectionLine(line);
  } else {
    otherLine(line);
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

namespace {
constexpr std::size_t kReadPiece = std::size_t{1} << 20;
constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// UTF-8 text as 8-bit text in the active code page.
std::string utf8ToActive(std::string_view text) {
  if (platform::activeCodePage() == platform::kCodePageUtf8) return std::string(text);
  return platform::wideToAnsi(platform::wtf8ToUtf16(text));
}

// How many bytes at the end of a UTF-8 piece begin a sequence the piece cuts
// short (0 to 3).
std::size_t cutUtf8Tail(std::string_view text) {
  for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    const auto c = static_cast<unsigned char>(text[text.size() - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return length > back ? back : 0;
  }
  return 0;
}
}  // namespace

RegFileVersion RegFileVersionOfHeader(std::string_view firstLine) {
  if (firstLine.starts_with(kRegFileHeader4)) return RegFileVersion::v4;
  if (firstLine.starts_with(kRegFileHeader5)) return RegFileVersion::v5;
  return RegFileVersion::unknown;
}

bool ReadRegFileLines(std::string_view fileBytes, std::vector<std::string>& lines, RegFileVersion& version) {
  lines.clear();
  if (fileBytes.starts_with(kRegFileHeader4)) {
    version = RegFileVersion::v4;
    lines = SplitTextLines(RegFile4BytesToText(fileBytes));
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
  if (fileBytes.starts_with(kUtf8Bom) && fileBytes.substr(kUtf8Bom.size()).starts_with(kRegFileHeader5)) {
    version = RegFileVersion::v5;
    lines = SplitTextLines(utf8ToActive(fileBytes.substr(kUtf8Bom.size())));
    return true;
  }
  return false;
}


bool RegFileLineReader::open(const std::filesystem::path& fileName) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fileName, ec)) return false;
  in_.open(fileName, std::ios::binary);
  if (!in_) return false;
  char start[2 + 2 * kHeader5.size()] = {};
  in_.read(start, sizeof start);
  const std::string_view head(start, static_cast<std::size_t>(in_.gcount()));
  if (head.starts_with(kRegFileHeader4)) {
    version_ = RegFileVersion::v4;
    text_ = RegFile4BytesToText(head);
  } else if (head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0xFF &&
             static_cast<unsigned char>(head[1]) == 0xFE) {
    if (head.size() < sizeof start) return false;
    for (std::size_t i = 0; i < kHeader5.size(); ++i) {
      const char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(head[2 + 2 * i]) |
                                                  (static_cast<unsigned char>(head[3 + 2 * i]) << 8));
      if (unit != kHeader5[i]) return false;
    }
    version_ = RegFileVersion::v5;
    text_.assign(kHeader5.begin(), kHeader5.end());  // ASCII: the same in the 8-bit text
  } else if (head.starts_with(kUtf8Bom) && head.substr(kUtf8Bom.size()).starts_with(kRegFileHeader5)) {
    // Version 5 text saved as UTF-8 by an editor.
    version_ = RegFileVersion::v5;
    utf8_ = true;
    eof_ = in_.eof();
    std::string_view rest = head.substr(kUtf8Bom.size());
    const std::size_t cut = eof_ ? 0 : cutUtf8Tail(rest);
    rawCarry_.assign(rest.substr(rest.size() - cut));
    text_ = utf8ToActive(rest.substr(0, rest.size() - cut));
    return true;
  } else {
    return false;
  }
  eof_ = in_.eof();
  return true;
}

// Reads the next piece of the file onto the text (decoding version 5 text).
// False at the end of the file or on a read error.
bool RegFileLineReader::fill() {
  if (eof_) return false;
  std::string raw = std::move(rawCarry_);
  rawCarry_.clear();
  const std::size_t had = raw.size();
  raw.resize(had + kReadPiece);
  in_.read(raw.data() + had, static_cast<std::streamsize>(kReadPiece));
  raw.resize(had + static_cast<std::size_t>(in_.gcount()));
  if (in_.bad()) failed_ = true;
  if (!in_) eof_ = true;
  if (text_.size() - pos_ < pos_) {  // drop what was given out before growing
    text_.erase(0, pos_);
    searched_ -= pos_;
    pos_ = 0;
  }
  if (utf8_) {
    const std::size_t cut = eof_ ? 0 : cutUtf8Tail(raw);
    rawCarry_.assign(raw, raw.size() - cut, cut);
    text_.append(utf8ToActive(std::string_view(raw).substr(0, raw.size() - cut)));
    return !raw.empty() || !eof_;
  }
  if (version_ != RegFileVersion::v5) {
    // Version 4 is a single-byte page whenever it differs from the active
    // one: pieces convert as the whole would.
    text_.append(RegFile4BytesToText(raw));
    return !raw.empty() || !eof_;
  }
  // A unit split between pieces waits for its second byte, and a high
  // surrogate for its pair, so the text decodes as the whole file would.
  if (raw.size() % 2 != 0) {
    if (!eof_) rawCarry_.assign(1, raw.back());
    raw.pop_back();  // at the end, half a unit is dropped
  }
  std::u16string units = std::move(unitCarry_);
  unitCarry_.clear();
  for (std::size_t i = 0; i + 1 < raw.size(); i += 2)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                          (static_cast<unsigned char>(raw[i + 1]) << 8)));
  if (!eof_ && !units.empty() && units.back() >= 0xD800 && units.back() < 0xDC00) {
    unitCarry_.assign(1, units.back());
    units.pop_back();
  }
  platform::appendWideToAnsi(units, text_);
  return !units.empty() || !eof_;
}

bool RegFileLineReader::next(std::string& line) {
  for (;;) {
    const std::size_t at = text_.find_first_of("\r\n", std::max(pos_, searched_));
    // A CR at the end of what was read may be the first half of a CR LF.
    if (at != std::string::npos && !(text_[at] == '\r' && at + 1 == text_.size() && !eof_)) {
      line.assign(text_, pos_, at - pos_);
      pos_ = at + 1;
      if (text_[at] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
      searched_ = pos_;
      return true;
    }
    searched_ = at == std::string::npos ? text_.size() : at;
    if (!fill() && eof_) {
      if (pos_ >= text_.size()) return false;
      line.assign(text_, pos_);
      pos_ = text_.size();
      return true;
    }
  }
}
