#include "crashreport/zebCrashUiDetails.h"

#include <algorithm>
#include <cctype>

namespace zeb {

namespace {

constexpr std::string_view kNoBreakSpace = "\xC2\xA0";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

// Keeps the tab and the characters from 33 up (UTF-8 sequences included).
bool IsKept(char c) { return c == '\t' || static_cast<unsigned char>(c) >= 33; }

std::string Trimmed(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && !IsKept(text[begin])) ++begin;
  while (end > begin && !IsKept(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string TrimmedCell(std::string_view text) {
  std::string cell = Trimmed(text);
  std::size_t begin = 0, end = cell.size();
  while (begin < end && cell[begin] == '\t') ++begin;
  while (end > begin && cell[end - 1] == '\t') --end;
  return cell.substr(begin, end - begin);
}

struct Line {
  std::size_t start = 0;
  std::ptrdiff_t length = 0;  // -1 for a heading line (">>"), which never takes part in columns
  std::size_t rawLength = 0;
};

// Lines end at a carriage return; the line feed after it is skipped.
std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (true) {
    const std::size_t cr = text.find('\r', pos);
    const std::size_t end = cr == std::string_view::npos ? text.size() : cr;
    Line line{pos, std::ptrdiff_t(end - pos), end - pos};
    if (StartsWith(text.substr(pos, end - pos), ">>")) line.length = -1;
    lines.push_back(line);
    if (cr == std::string_view::npos) break;
    pos = cr + 1;
    if (pos < text.size() && text[pos] == '\n') ++pos;
  }
  return lines;
}

// The lines as strings; a line break at the very end gives no empty line.
std::vector<std::string_view> LineTexts(std::string_view text) {
  std::vector<std::string_view> out;
  for (const Line& line : SplitLines(text)) out.push_back(text.substr(line.start, line.rawLength));
  if (out.size() > 1 && out.back().empty()) out.pop_back();
  return out;
}

std::vector<TColumn> ParseCaptions(std::string_view list) {
  std::vector<TColumn> columns;
  std::size_t pos = 0;
  while (true) {
    const std::size_t bar = list.find('|', pos);
    std::string_view caption = list.substr(pos, bar == std::string_view::npos ? std::string_view::npos : bar - pos);
    TColumn column;
    if (StartsWith(caption, "^")) {
      column.upperCase = true;
      caption.remove_prefix(1);
    }
    if (StartsWith(caption, " ")) {
      column.alignment = 1;
      caption.remove_prefix(1);
    }
    column.caption = std::string(caption);
    columns.push_back(std::move(column));
    if (bar == std::string_view::npos) break;
    pos = bar + 1;
  }
  return columns;
}

// Every line trimmed, with a tab at each boundary below the column count - 1
// that lies inside it.
std::vector<TItem> ItemsFromLines(std::string_view text, const std::vector<int>& boundaries, std::size_t columns) {
  std::vector<TItem> items;
  for (std::string_view raw : LineTexts(text)) {
    std::string line = Trimmed(raw);
    for (std::size_t k = 0; k < boundaries.size() && k + 1 < columns; ++k) {
      const int pos = boundaries[k];
      if (pos >= 1 && std::size_t(pos) <= line.size()) line[std::size_t(pos) - 1] = '\t';
    }
    items.push_back(TItem{std::move(line), 0, false});
  }
  return items;
}

DetailPage HeaderPage(std::string_view text) {
  DetailPage page;
  page.columns = ParseCaptions("description|value");
  page.items = ItemsFromLines(text, {}, page.columns.size());
  return page;
}

DetailPage DetectedPage(std::string_view text, std::string_view captions, bool fixedPitch) {
  DetailPage page;
  std::string work(text);
  const std::vector<int> boundaries = DetectColumns(work, true);
  page.columns = ParseCaptions(captions);
  page.items = ItemsFromLines(work, boundaries, page.columns.size());
  page.fixedPitch = fixedPitch;
  return page;
}

DetailPage ProcessesPage(std::string_view text) {
  std::string work(text);
  const std::vector<int> boundaries = DetectColumns(work, true);
  DetailPage page;
  page.columns = ParseCaptions(boundaries.size() == 3 ? "^id|file name|priority|path"
                                                      : "^id|file name|session|priority|path");
  page.items = ItemsFromLines(work, boundaries, page.columns.size());
  return page;
}

DetailPage StackDumpPage(std::string_view text) {
  DetailPage page;
  page.columns = ParseCaptions("address|data - hexadecimal|data - chars");
  page.items = ItemsFromLines(text, {kStackDumpDataColumn, kStackDumpCharsColumn}, page.columns.size());
  page.fixedPitch = true;
  return page;
}

DetailPage DisassemblyPage(std::string_view text) {
  DetailPage page;
  page.fixedPitch = true;
  // The marker of the faulting instruction stands after the address (and the
  // line number, when the listing has one).
  constexpr int kMarkerSearch = 26 + kAddressDigits - 8;
  constexpr int kAddressEnd = kAddressDigits + 1;
  int marker = 0;
  for (std::string_view line : LineTexts(text)) {
    if (line.empty()) continue;
    const std::size_t at = line.substr(0, kMarkerSearch).find('>');
    if (at != std::string_view::npos) {
      marker = int(at) + 1;
      break;
    }
  }
  std::vector<int> boundaries{kAddressEnd};
  std::string captions = "address|";
  if (marker > kAddressEnd + 1) {
    boundaries.push_back(marker - 1);
    captions += "line|";
  }
  captions += "asm code|comments";
  page.columns = ParseCaptions(captions);

  std::string work;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ';' && text.substr(i, 4) != "; --") work += '\t';
    work += text[i];
  }
  for (std::string_view raw : LineTexts(work)) {
    std::string line = Trimmed(raw);
    for (int pos : boundaries)
      if (std::size_t(pos) <= line.size()) line[std::size_t(pos) - 1] = '\t';
    std::uint32_t colour = 0;
    if (marker > 0 && std::size_t(marker) <= line.size()) {
      const char c = line[std::size_t(marker) - 1];
      if (c == ' ' || c == '>') {
        if (c == '>') colour = kRowMarker;
        line.replace(std::size_t(marker) - 1, 1, kNoBreakSpace);
      }
    }
    const std::size_t dashes = line.find("; --");
    if (dashes != std::string::npos) line.erase(dashes + 2, 28);
    page.items.push_back(TItem{std::move(line), colour, false});
  }
  return page;
}

// --- the call-stack parser ----------------------------------------------------

struct Piece {
  std::string text;
  std::vector<int> starts;  // column boundaries (1-based)
  int module = 1, relAddress = -1, unit = -1, line = -1, relLine = -1, function = -1;
};

bool IsHeadingOrEmpty(std::string_view line) { return Trimmed(line).empty() || StartsWith(line, ">>"); }

// Column c of a line: column 0 up to the first boundary's separator, column c
// after boundary c - 1 up to boundary c's separator, the last to the end.
// Null when the line does not reach the column.
bool ColumnText(std::string_view line, const std::vector<int>& b, int c, std::string_view& out) {
  std::size_t start = c == 0 ? 0 : std::size_t(b[std::size_t(c) - 1]);
  std::size_t end = std::size_t(c) < b.size() ? std::size_t(b[std::size_t(c)]) - 1 : line.size();
  if (start >= line.size()) return false;
  end = std::min(end, line.size());
  out = line.substr(start, end > start ? end - start : 0);
  return true;
}

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsRelativeAddress(std::string_view text) {
  const std::string t = TrimmedCell(text);
  if (t.size() < 2 || t[0] != '+') return false;
  return std::all_of(t.begin() + 1, t.end(), IsHexDigit);
}

// Blanks, then digits: a frame without debug information has no line, so
// its cell is all blanks.
bool IsLineNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  std::size_t end = text.size();
  while (end > i && text[end - 1] == ' ') --end;  // the blank before the next boundary
  for (std::size_t k = i; k < end; ++k)
    if (!IsDigit(text[k])) return false;
  return true;
}

bool HasDigit(std::string_view text) { return std::any_of(text.begin(), text.end(), IsDigit); }

// A function name: an identifier, qualified with "::" or "." as C++ and
// Pascal names are, or a segment or public marker.
bool IsFunctionName(std::string_view text) {
  const std::string t = TrimmedCell(text);
  if (t.empty()) return true;
  if (StartsWithNoCase(t, "public%") || StartsWithNoCase(t, "segment%")) return true;
  const unsigned char first = static_cast<unsigned char>(t[0]);
  if (!(std::isalpha(first) || first == '_' || first == '~')) return false;
  return std::all_of(t.begin(), t.end(), [](char ch) {
    const unsigned char u = static_cast<unsigned char>(ch);
    return std::isalnum(u) || u == '_' || u == ':' || u == '.' || u == '~';
  });
}

template <typename Test>
bool EveryRegularLine(const std::vector<std::string_view>& lines, const std::vector<int>& b, int c, Test test) {
  bool any = false;
  for (std::string_view line : lines) {
    if (IsHeadingOrEmpty(line)) continue;
    std::string_view cell;
    if (!ColumnText(line, b, c, cell)) continue;
    any = true;
    if (!test(cell)) return false;
  }
  return any;
}

void FindRoles(Piece& piece) {
  const std::vector<std::string_view> lines = LineTexts(piece.text);
  const std::vector<int>& b = piece.starts;
  const int columns = int(b.size()) + 1;
  if (b.size() >= 2 && EveryRegularLine(lines, b, 1, IsRelativeAddress)) {
    piece.relAddress = 1;
    piece.module = 2;
  }
  if (int(b.size()) < piece.module) piece.module = -1;
  for (int c = piece.relAddress >= 0 ? 4 : 3; c < columns; ++c) {
    if (!EveryRegularLine(lines, b, c, IsLineNumber)) continue;
    bool digits = false;
    for (std::string_view line : lines) {
      std::string_view cell;
      if (!IsHeadingOrEmpty(line) && ColumnText(line, b, c, cell) && HasDigit(cell)) digits = true;
    }
    if (!digits) continue;
    piece.line = c;
    piece.unit = c - 1;
    const int follow = columns - 1 - c;
    if (follow >= 2) {
      piece.relLine = c + 1;
      piece.function = c + 2;
    } else if (follow == 1) {
      piece.function = c + 1;
    }
    return;
  }
  for (int c = piece.relAddress >= 0 ? 3 : 2; c < columns; ++c) {
    if (!EveryRegularLine(lines, b, c, IsFunctionName)) continue;
    if (columns - 1 - c == 1) {
      piece.unit = c;
      piece.function = c + 1;
    } else {
      piece.function = c;
    }
    return;
  }
}

DetailPage CallStackPage(std::string_view text) {
  const std::vector<std::string_view> all = LineTexts(text);
  std::vector<Piece> pieces;
  std::string current;
  bool first = true;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const bool split = i > 0 && IsHeadingOrEmpty(all[i]) && !IsHeadingOrEmpty(all[i - 1]) &&
                       !StartsWith(all[i], ">> created");
    if (split) {
      pieces.emplace_back();
      pieces.back().text = std::move(current);
      current.clear();
      first = true;
    }
    if (!first) current += "\r\n";
    current += all[i];
    first = false;
  }
  pieces.emplace_back();
  pieces.back().text = std::move(current);

  bool anyRel = false, anyModule = false, anyUnit = false, anyLine = false, anyRelLine = false, anyFunction = false;
  for (Piece& piece : pieces) {
    piece.starts = DetectColumns(piece.text, false);
    FindRoles(piece);
    anyRel |= piece.relAddress >= 0;
    anyModule |= piece.module >= 0;
    anyUnit |= piece.unit >= 0;
    anyLine |= piece.line >= 0;
    anyRelLine |= piece.relLine >= 0;
    anyFunction |= piece.function >= 0;
  }
  std::string captions = "^address";
  if (anyRel) captions += "|^ rel.";
  if (anyModule) captions += "|module";
  if (anyUnit) captions += "|unit";
  if (anyLine) captions += "| line";
  if (anyRelLine) captions += "| rel.";
  if (anyFunction) captions += "|function";

  DetailPage page;
  page.columns = ParseCaptions(captions);
  const bool internalFirst = StartsWith(pieces.front().text, ">> internal error");
  bool previousEmpty = false;
  for (const Piece& piece : pieces) {
    const std::vector<int>& b = piece.starts;
    for (std::string_view raw : LineTexts(piece.text)) {
      const std::string trimmed = Trimmed(raw);
      if (trimmed.empty() || StartsWith(trimmed, ">>")) {
        const bool groupStart = page.items.empty() ? !internalFirst : previousEmpty;
        page.items.push_back(TItem{trimmed, kRowWhite, groupStart});
        previousEmpty = trimmed.empty();
        continue;
      }
      auto cell = [&](int c, int endColumn = -1) {
        std::string_view out;
        if (c < 0 || !ColumnText(raw, b, c, out)) return std::string();
        if (endColumn > c) {
          std::size_t start = std::size_t(b[std::size_t(c) - 1]);
          std::size_t end = std::min(raw.size(), std::size_t(b[std::size_t(endColumn) - 1]) - 1);
          out = raw.substr(start, end > start ? end - start : 0);
        }
        return TrimmedCell(out);
      };
      std::string row = cell(0);
      if (anyRel) row += "\t" + cell(piece.relAddress);
      if (anyModule) row += "\t" + cell(piece.module, piece.module > 0 && piece.unit > piece.module ? piece.unit : -1);
      if (anyUnit) row += "\t" + cell(piece.unit);
      if (anyLine) row += "\t" + cell(piece.line);
      if (anyRelLine) row += "\t" + cell(piece.relLine);
      // The function is the last column and keeps its blanks
      // ("(anonymous namespace)::Run(int, char**)").
      if (anyFunction) {
        std::string_view out;
        std::string function;
        if (piece.function >= 0 && ColumnText(raw, b, piece.function, out))
          function = TrimmedCell(raw.substr(piece.function == 0 ? 0 : std::size_t(b[std::size_t(piece.function) - 1])));
        row += "\t" + function;
      }
      page.items.push_back(TItem{std::move(row), 0, false});
      previousEmpty = false;
    }
  }
  return page;
}

// --- the generic parser -------------------------------------------------------

DetailPage GenericPage(std::string_view text) {
  DetailPage page;
  const std::vector<std::string_view> lines = LineTexts(text);
  std::size_t shortLines = 0, longLines = 0;
  bool fixedPitch = true;
  bool firstLine = true;
  for (std::string_view line : lines) {
    (line.size() <= 80 ? shortLines : longLines) += 1;
    const std::size_t at = line.find_first_not_of(' ');
    if (at != std::string_view::npos) {
      const char c = line[at];
      const bool bang = c == '!' && firstLine && at == 0;
      if (c != '+' && c != '-' && !bang) fixedPitch = false;
    }
    firstLine = false;
  }
  const bool headers = StartsWith(text, "^");
  if (!((lines.size() >= 2 && 5 * longLines < shortLines) || headers)) return page;
  page.columnHeaders = headers;
  page.fixedPitch = fixedPitch;

  std::size_t columns = 1;
  if (fixedPitch) {
    std::string work;
    for (std::size_t k = 0; k < lines.size(); ++k) {
      const std::string_view line = lines[k];
      if (k > 0) work += "\r\n";
      if (StartsWith(line, " ")) {
        work += kNoBreakSpace;
        work += line.substr(1);
      } else {
        work += line;
      }
    }
    page.items = ItemsFromLines(work, {}, 1);
  } else if (text.find('\t') == std::string_view::npos) {
    std::string work(text);
    const std::vector<int> boundaries = DetectColumns(work, true);
    columns = boundaries.size() + 1;
    page.items = ItemsFromLines(work, boundaries, columns);
  } else {
    std::size_t most = 0;
    for (std::string_view line : lines) most = std::max<std::size_t>(most, std::count(line.begin(), line.end(), '\t'));
    columns = most + 1;
    page.items = ItemsFromLines(text, {}, columns);
  }
  page.columns.assign(columns, TColumn{});
  if (headers && !page.items.empty()) {
    std::string_view head = page.items.front().text;
    if (StartsWith(head, "^")) head.remove_prefix(1);
    std::string list(head);
    std::replace(list.begin(), list.end(), '\t', '|');
    std::vector<TColumn> captions = ParseCaptions(list);
    if (captions.size() > page.columns.size()) page.columns.resize(captions.size());
    std::copy(captions.begin(), captions.end(), page.columns.begin());
    page.items.erase(page.items.begin());
  }
  if (fixedPitch) {
    for (TItem& item : page.items) {
      if (StartsWith(item.text, "+")) item.colour = kRowPlus;
      if (StartsWith(item.text, "!")) item.colour = kRowBang;
    }
    if (!page.items.empty() && !headers && StartsWith(page.items.front().text, "!"))
      page.items.front().text.erase(0, 1);
  }
  return page;
}

int ThreadSectionCount(const ReportFieldList& sections) {
  if (sections.empty()) return 0;
  int count = 1;
  while (std::size_t(count) < sections.size() && sections[std::size_t(count)].first.find('$') != std::string::npos)
    ++count;
  return count;
}

}  // namespace

std::vector<int> DetectColumns(std::string& text, bool ignoreSingleLines) {
  std::vector<int> boundaries;
  const std::vector<Line> lines = SplitLines(text);
  std::size_t longest = 0;
  std::size_t nonEmpty = 0;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (lines[k].length > 0) ++nonEmpty;
    if (lines[k].length > lines[longest].length) longest = k;
  }
  if (lines.empty() || lines[longest].length <= 0) return boundaries;
  const Line& top = lines[longest];
  auto at = [&](const Line& line, std::ptrdiff_t i) { return text[line.start + std::size_t(i)]; };
  for (std::ptrdiff_t i = 1; i <= top.length - 2; ++i) {
    const char c = at(top, i);
    const bool candidate = c == ' ' || c == '=' || c == '|' || (c == ':' && at(top, i + 1) == ' ');
    if (!candidate) continue;
    bool accepted = true;
    std::size_t real = 0;
    for (std::size_t k = 0; k < lines.size() && accepted; ++k) {
      if (k == longest || lines[k].length <= i) continue;
      if (at(lines[k], i) != c) accepted = false;
      else if (c != ' ' || i + 1 >= lines[k].length || at(lines[k], i + 1) != ' ') ++real;
    }
    if (accepted && ignoreSingleLines && !(nonEmpty == 1 || real >= 2)) accepted = false;
    if (!accepted) continue;
    for (const Line& line : lines)
      if (line.length > i) text[line.start + std::size_t(i)] = ' ';
    if (!boundaries.empty() && boundaries.back() == int(i)) boundaries.back() = int(i) + 1;
    else boundaries.push_back(int(i) + 1);
  }
  return boundaries;
}

std::vector<std::string> WantedDetailTabs(const ReportFieldList& sections) {
  std::vector<std::string> tabs{"general", "call stack"};
  if (sections.size() > 1 && sections[1].first.find('$') != std::string::npos) tabs[1] = "call stacks";
  for (std::size_t k = std::size_t(std::max(ThreadSectionCount(sections), 1)); k < sections.size(); ++k) {
    const std::string& name = sections[k].first;
    if (name == "cpu registers") tabs.push_back("cpu regs");
    else if (name == "disassembling") tabs.push_back("disasm");
    else tabs.push_back(name);
  }
  return tabs;
}

DetailTabText DetailTabTextOf(int tab, const CrashUiReport& report) {
  DetailTabText out;
  if (tab == 0) {
    for (const auto& [name, content] : report.header) {
      if (!out.text.empty()) out.text += "\r\n";
      out.text += name + "\t" + content;
    }
  } else if (tab == 1) {
    const int threads = ThreadSectionCount(report.sections);
    for (int k = 0; k < threads; ++k) {
      if (k > 0) out.text += "\r\n\r\n";
      out.text += ">> " + report.sections[std::size_t(k)].first + "\r\n" + report.sections[std::size_t(k)].second;
    }
  } else if (tab >= 2) {
    const std::size_t index = std::size_t(tab) + std::size_t(ThreadSectionCount(report.sections)) - 2;
    if (ThreadSectionCount(report.sections) > 0 && index < report.sections.size()) {
      out.text = report.sections[index].second;
      out.sectionName = report.sections[index].first;
    }
  }
  return out;
}

DetailPage ParseDetailPage(int tab, std::string_view sectionName, std::string_view text) {
  if (StartsWithNoCase(text, ">> will be")) return GenericPage(text);
  if (StartsWith(text, ">> internal")) return CallStackPage(text);
  if (tab == 0) return HeaderPage(text);
  if (tab == 1) return CallStackPage(text);
  if (sectionName == "modules") return DetectedPage(text, "^handle|file name| version|path", false);
  if (sectionName == "cpu registers") return DetectedPage(text, "reg.|content", true);
  if (sectionName == "stack dump") return StackDumpPage(text);
  if (sectionName == "processes") return ProcessesPage(text);
  if (sectionName == "disassembling") return DisassemblyPage(text);
  return GenericPage(text);
}

std::vector<std::string> RowCells(const DetailPage& page, const TItem& item) {
  std::vector<std::string> cells(std::max<std::size_t>(page.columns.size(), 1));
  if (StartsWith(item.text, ">>")) {
    cells[0] = ">>";
    return cells;
  }
  std::string_view rest = item.text;
  for (std::size_t c = 0; c < cells.size(); ++c) {
    std::string_view cell = rest;
    if (c + 1 < cells.size()) {
      const std::size_t tab = rest.find('\t');
      cell = rest.substr(0, tab);
      rest = tab == std::string_view::npos ? std::string_view() : rest.substr(tab + 1);
    }
    cells[c] = TrimmedCell(cell);
    if (c < page.columns.size() && page.columns[c].upperCase)
      for (char& ch : cells[c]) ch = char(std::toupper(static_cast<unsigned char>(ch)));
  }
  return cells;
}

}  // namespace zeb
