// The listing of one function: labels, case tables, instructions with their
// comments, delimiters after returns and jumps, the marker at the location and
// the line limit around it.
#include <algorithm>
#include <cstdio>

#include "crashreport/zebDisAsmText.h"

namespace zeb {

TDisAsmHook DisAsmHook = nullptr;

TDisAsmHooks& DisAsmHooks() {
  static auto& hooks = *new TDisAsmHooks;
  return hooks;
}

namespace {

constexpr std::size_t kAddressWidth = 16;
// Columns of the instruction lines: the marker, the operands and the comments.
constexpr std::size_t kMarkerColumn = kAddressWidth + 1;
constexpr std::size_t kOperandColumn = kAddressWidth + 11;
constexpr std::size_t kCommentColumn = kAddressWidth + 32;
constexpr std::size_t kLabelWidth = 31;
constexpr const char* kSeparator = "; ---------------------------------------------------------";

void PadTo(std::string& s, std::size_t width, bool atLeastOne) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  else if (atLeastOne) s += ' ';
}

}  // namespace

std::string Address(std::uint64_t a) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(a));
  return buf;
}

std::string ShortHex(std::uint64_t a) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(a));
  return buf;
}

bool LooksLikeText(std::uint64_t address, const TDATryRead& guard, std::string& text) {
  text.clear();
  std::size_t a = 0, b = 0, p = 0, d = 0;
  for (std::size_t i = 0; i < 100; ++i) {
    std::uint8_t c = 0;
    if (!SafeRead(address + i, &c, 1, &guard)) break;
    if (c == 0 || c == 10 || c == 12) break;
    if (c < 32) return false;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ') ++a;
    else if (c == ',' || c == '.' || c == ':' || c == '\\') ++b;
    else if (c >= '!' && c <= ']') ++p;
    else ++d;
    text += char(c);
  }
  if (text.size() < 4 || 5 * b >= 2 * a) return false;
  const std::size_t s = b / 2 + a;
  return 8 * p < s && 10 * d < s + p / 4;
}

namespace {

class Lister {
 public:
  Lister(const TDATryRead& guard, const TDisAsmHooks& hooks, const TFunctionInfo& fn, std::uint64_t location,
         bool autoDelimiters)
      : guard_(guard), hooks_(hooks), fn_(fn), location_(location), auto_(autoDelimiters) {}

  std::vector<std::string> lines;
  std::size_t locationLine = std::string::npos;

  void Run();

 private:
  std::string Name(std::uint64_t address) const {
    if (hooks_.nameOf) return hooks_.nameOf(address);
    return {};
  }
  std::string LabelOf(std::uint64_t address) const {
    return address == fn_.entryPoint ? header_ : "loc_" + ShortHex(address);
  }
  bool IsArea(std::uint64_t address) const {
    return std::any_of(fn_.codeAreas.begin(), fn_.codeAreas.end(),
                       [&](const TCodeArea& a) { return !a.caseTable && a.begin == address; });
  }
  std::string TargetComment(std::uint64_t target) const;
  void Line(std::uint64_t address, const std::string& text) { lines.push_back(Address(address) + " " + text); }
  void Instruction(std::uint64_t at);

  const TDATryRead& guard_;
  const TDisAsmHooks& hooks_;
  const TFunctionInfo& fn_;
  std::uint64_t location_;
  bool auto_;
  std::string header_;
  unsigned lineWidth_ = 0;
  unsigned lastLine_ = 0;
};

std::string Lister::TargetComment(std::uint64_t target) const {
  std::string name = Name(target);
  std::uint64_t named = target;
  if (name.empty()) {
    // A thunk is named after the function it jumps to.
    TDisAsmParts parts;
    CodeInfo jump = DecodeInstruction(target, &guard_, nullptr, &parts);
    if (jump.valid && jump.jump && jump.target) {
      name = Name(jump.target);
      named = jump.target;
    }
  }
  if (name.empty()) return {};
  std::string module = hooks_.moduleOf ? hooks_.moduleOf(named) : std::string();
  if (!module.empty() && name.find('(') == std::string::npos) name += " (" + module + ")";
  return "  ; " + name;
}

void Lister::Instruction(std::uint64_t at) {
  TDisAsmParts d;
  CodeInfo info = DecodeInstruction(at, &guard_, nullptr, &d);
  const bool marked = at == location_;
  std::string line = Address(at) + "   ";
  if (!info.valid) {
    std::uint8_t byte = 0;
    SafeRead(at, &byte, 1, &guard_);
    char buf[8];
    std::snprintf(buf, sizeof buf, "db %02x", byte);
    line += buf;
  } else {
    if (d.prefixes & kPrefixLock) line += "lock ";
    if (d.map == OpMap::OneByte && d.encoding == Encoding::Legacy) {
      const std::uint8_t op = d.opcode;
      const bool stringOp = (op >= 0xA4 && op <= 0xA7) || (op >= 0xAA && op <= 0xAF) || op == 0x6C ||
                            op == 0x6D || op == 0x6E || op == 0x6F;
      if (stringOp && d.lastRepPrefix == 0xF2) line += "repne ";
      if (stringOp && d.lastRepPrefix == 0xF3) line += (op == 0xA6 || op == 0xA7 || op == 0xAE || op == 0xAF) ? "repe " : "rep ";
    }
    const std::string mnemonic = Mnemonic(d);
    line += mnemonic.empty() ? "(bad)" : mnemonic;
    std::uint64_t ripTarget = 0;
    std::vector<std::string> ops = FormatOperands(d, info, mnemonic, &ripTarget);
    if (info.relativeTarget && (info.call || info.jump) && IsArea(info.target) && !ops.empty())
      ops.back() = LabelOf(info.target);
    if (!ops.empty()) {
      PadTo(line, kOperandColumn, true);
      for (std::size_t i = 0; i < ops.size(); ++i) line += (i ? ", " : "") + ops[i];
    }
    std::string comment;
    if ((info.call || info.jump) && info.target != 0 && !IsArea(info.target)) comment = TargetComment(info.target);
    if (comment.empty() && ripTarget != 0) {
      comment = TargetComment(ripTarget);
      std::string text;
      if (comment.empty() && LooksLikeText(ripTarget, guard_, text)) comment = "  ; '" + text + "'";
    }
    if (!comment.empty()) {
      PadTo(line, kCommentColumn, false);
      line += comment;
    }
  }
  if (marked) {
    line[kMarkerColumn] = '>';
    locationLine = lines.size();
  }
  if (lineWidth_) {
    unsigned number = hooks_.lineOf(at);
    std::string column(lineWidth_ + 1, ' ');
    if (number && number != lastLine_) {
      char buf[24];
      std::snprintf(buf, sizeof buf, "%0*u ", int(lineWidth_), number);
      column = buf;
      lastLine_ = number;
    }
    line.insert(kMarkerColumn, column);
    if (marked) {
      line[kMarkerColumn + column.size()] = '>';
      line[kMarkerColumn] = column[0];
    }
  }
  lines.push_back(line);

  const bool ends = info.valid && d.encoding == Encoding::Legacy && d.map == OpMap::OneByte &&
                    (d.opcode == 0xC2 || d.opcode == 0xC3 || d.opcode == 0xCA || d.opcode == 0xCB ||
                     d.opcode == 0xCF || d.opcode == 0xE9 || d.opcode == 0xEB ||
                     (d.opcode == 0xFF && (((d.modrm >> 3) & 7) == 4 || ((d.modrm >> 3) & 7) == 5)));
  if (auto_ && ends) {
    Line(info.next, "");
    Line(info.next, kSeparator);
    Line(info.next, "");
  }
}

void Lister::Run() {
  std::string name = Name(fn_.entryPoint);
  header_ = name.empty() ? "sub_" + ShortHex(fn_.entryPoint) : name;
  if (hooks_.lineOf) {
    unsigned last = hooks_.lineOf(fn_.codeBegin + fn_.codeLength - 1);
    if (last == 0) last = hooks_.lineOf(location_) * 10;
    lineWidth_ = last ? unsigned(std::to_string(last).size()) : 0;
  }
  bool afterCode = false;
  for (const TCodeArea& area : fn_.codeAreas) {
    if (area.caseTable) {
      if (auto_) {
        Line(area.begin, "");
        Line(area.begin, kSeparator);
      }
      const std::uint64_t count = (area.end - area.begin) / area.caseEntrySize;
      for (std::uint64_t k = 0; k < count; ++k) {
        std::uint64_t cell = area.begin + k * area.caseEntrySize, target = 0;
        if (area.caseEntrySize == 4) {
          std::int32_t rel = 0;
          SafeRead(cell, &rel, 4, &guard_);
          target = area.caseBase + std::uint64_t(std::int64_t(rel));
        } else {
          SafeRead(cell, &target, 8, &guard_);
        }
        std::string text = "  dd " + LabelOf(target);
        if (k == 0) {
          PadTo(text, kLabelWidth, false);
          text += "  ; case jump table";
        }
        Line(cell, text);
      }
      afterCode = false;
      continue;
    }
    if (area.begin == fn_.entryPoint) {
      std::string text = "public " + header_ + ":";
      PadTo(text, kLabelWidth, false);
      Line(area.begin, text + "  ; function entry point");
    } else if (auto_ && area.caller != 0) {
      if (afterCode && !(lines.size() && lines.back().size() == kAddressWidth + 1)) Line(area.begin, "");
      Line(area.begin, "loc_" + ShortHex(area.begin) + ":");
    }
    for (std::uint64_t at = area.begin; at < area.end;) {
      CodeInfo info = DecodeInstruction(at, &guard_);
      Instruction(at);
      at = info.valid ? info.next : at + 1;
    }
    afterCode = true;
  }
  // Delimiter lines at the very end say nothing.
  while (!lines.empty() && (lines.back().size() == kAddressWidth + 1 ||
                            lines.back().compare(kAddressWidth + 1, std::string::npos, kSeparator) == 0))
    lines.pop_back();
}

}  // namespace

std::string ListFunction(std::uint64_t entry, std::uint64_t extentEnd, const TDATryRead& guard,
                         std::uint64_t location, TFunctionInfo& info, bool autoDelimiters, unsigned lineLimit,
                         const TDisAsmHooks& hooks) {
  info = AnalyseFunction(entry, extentEnd, guard);
  if (!info.valid) return {};
  Lister lister(guard, hooks, info, location, autoDelimiters);
  lister.Run();
  const auto& lines = lister.lines;
  std::size_t first = 0, last = lines.size();
  bool cutBefore = false, cutAfter = false;
  if (lineLimit > 0 && lister.locationLine != std::string::npos) {
    const std::size_t at = lister.locationLine;
    if (at > std::size_t(lineLimit) * 12 / 10) {
      first = at - lineLimit;
      cutBefore = true;
    }
    if (at + 1 + lineLimit < lines.size()) {
      last = at + 1 + lineLimit;
      cutAfter = true;
    }
  }
  std::string out;
  if (cutBefore) out += "[...]\r\n";
  for (std::size_t i = first; i < last; ++i) {
    out += lines[i];
    out += "\r\n";
  }
  if (cutAfter) out += "[...]\r\n";
  if (out.size() >= 2) out.resize(out.size() - 2);
  return out;
}

}  // namespace zeb
