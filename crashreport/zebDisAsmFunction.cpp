// Function analysis: follows the control flow from the entry over the code
// areas it reaches, within the function's extent, and records the calls and
// jumps that leave it. Switch tables of the two compilers' usual shapes are
// followed: a 32-bit table of offsets from its own start (lea, movsxd, add,
// jmp reg) and a table of absolute addresses (jmp [table + reg*8]).
#include <algorithm>

#include "crashreport/zebDisAsm.h"

namespace zeb {

namespace {

constexpr const char* kInvalidCodeText = "Invalid code!";
constexpr const char* kInvalidParameterText = "The parameter is incorrect.";

bool IsEndbr64(const TDisAsmParts& d) {
  return d.map == OpMap::Map0F && d.opcode == 0x1E && d.modrm == 0xFA && d.lastRepPrefix == 0xF3;
}

class Analyser {
 public:
  Analyser(std::uint64_t entry, std::uint64_t extentEnd, const TDATryRead& guard, const TAnalyseLimits& limits)
      : entry_(entry), extentEnd_(extentEnd), guard_(guard), limits_(limits) {}

  TFunctionInfo Run();

 private:
  // What the last instructions of an area said about a switch.
  struct SwitchState {
    std::uint64_t bound = 0;   // entries, from cmp + ja/jae
    bool haveBound = false;
    bool pendingBound = false; // cmp seen, waiting for the conditional jump
    std::uint64_t cmpValue = 0;
    std::uint64_t table = 0;   // movsxd reg, [table + idx*4]
    unsigned tableReg = 99;
  };

  bool Fail(std::uint64_t at, std::uint32_t number, const char* text) {
    if (fn_.errorNumber == 0) {
      fn_.errorAddress = at;
      fn_.errorNumber = number;
      fn_.errorText = text;
    }
    return false;
  }
  bool InExtent(std::uint64_t a) const { return a >= entry_ && a < extentEnd_; }
  bool AddArea(std::uint64_t begin, std::uint64_t caller, const TRegState& regs);
  bool AnalyseArea(std::size_t index);
  bool AddCaseTable(std::uint64_t table, std::uint64_t count, std::uint8_t entrySize, std::uint64_t jumpAt,
                    std::uint64_t tableBase);
  void AddFarCall(const CodeInfo& info);
  std::uint64_t FollowThunks(std::uint64_t target) const;
  void ComputeInterceptable();

  std::uint64_t entry_, extentEnd_;
  const TDATryRead& guard_;
  TAnalyseLimits limits_;
  TFunctionInfo fn_;
  std::size_t instructions_ = 0;
  // The area being analysed and how far; jumps back into it split it once
  // its end is known.
  std::size_t current_ = ~std::size_t(0);
  std::uint64_t currentPc_ = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> splits_;  // begin, caller
  bool FinishArea(std::size_t index, std::uint64_t end);
};

bool Analyser::FinishArea(std::size_t index, std::uint64_t end) {
  fn_.codeAreas[index].end = end;
  current_ = ~std::size_t(0);
  if (splits_.empty()) return true;
  std::sort(splits_.begin(), splits_.end());
  std::vector<std::pair<std::uint64_t, std::uint64_t>> splits;
  splits.swap(splits_);
  fn_.codeAreas[index].end = splits.front().first;
  for (std::size_t k = 0; k < splits.size(); ++k) {
    if (fn_.codeAreas.size() >= limits_.areas) return Fail(splits[k].first, kErrorInvalidCode, kInvalidCodeText);
    TCodeArea piece;
    piece.begin = splits[k].first;
    piece.end = k + 1 < splits.size() ? splits[k + 1].first : end;
    piece.caller = splits[k].second;
    fn_.codeAreas.push_back(piece);
  }
  return true;
}

bool Analyser::AddArea(std::uint64_t begin, std::uint64_t caller, const TRegState& regs) {
  if (current_ < fn_.codeAreas.size() && begin > fn_.codeAreas[current_].begin && begin < currentPc_) {
    for (auto& s : splits_)
      if (s.first == begin) return true;
    splits_.push_back({begin, caller});
    return true;
  }
  for (auto& a : fn_.codeAreas) {
    if (a.caseTable) continue;
    if (a.begin == begin) {
      if (a.caller == 0 || (caller > a.caller && caller < begin)) a.caller = caller;
      if (a.end == 0) {
        for (unsigned r = 0; r < 16; ++r)
          if (a.regs.Known(r) && (!regs.Known(r) || regs.value[r] != a.regs.value[r])) a.regs.Forget(r);
      }
      return true;
    }
  }
  for (std::size_t i = 0; i < fn_.codeAreas.size(); ++i) {
    TCodeArea& a = fn_.codeAreas[i];
    if (!a.caseTable && a.end != 0 && begin > a.begin && begin < a.end) {
      // Split: the new area takes over the rest as analysed.
      TCodeArea rest;
      rest.begin = begin;
      rest.end = a.end;
      rest.caller = caller;
      rest.regs = TRegState{};
      a.end = begin;
      if (fn_.codeAreas.size() >= limits_.areas) return Fail(begin, kErrorInvalidCode, kInvalidCodeText);
      fn_.codeAreas.push_back(rest);
      return true;
    }
  }
  if (fn_.codeAreas.size() >= limits_.areas) return Fail(begin, kErrorInvalidCode, kInvalidCodeText);
  TCodeArea area;
  area.begin = begin;
  area.caller = caller;
  area.regs = regs;
  fn_.codeAreas.push_back(area);
  return true;
}

std::uint64_t Analyser::FollowThunks(std::uint64_t target) const {
  for (unsigned depth = 0; depth < limits_.thunkDepth; ++depth) {
    TDisAsmParts parts;
    CodeInfo info = DecodeInstruction(target, &guard_, nullptr, &parts);
    if (info.valid && IsEndbr64(parts)) info = DecodeInstruction(info.next, &guard_, nullptr, &parts);
    if (!info.valid || !info.jump || info.target == 0) return target;
    // Only unconditional jumps make a thunk.
    bool unconditional = (parts.map == OpMap::OneByte && (parts.opcode == 0xE9 || parts.opcode == 0xEB)) ||
                         (parts.map == OpMap::OneByte && parts.opcode == 0xFF);
    if (!unconditional) return target;
    target = info.target;
  }
  return target;
}

void Analyser::AddFarCall(const CodeInfo& info) {
  for (const auto& f : fn_.farCalls)
    if (f.next == info.next) return;
  if (fn_.farCalls.size() >= limits_.farCalls) return;
  TFarCall f;
  f.call = info.call;
  f.address = info.address;
  f.next = info.next;
  f.target = FollowThunks(info.target);
  f.relativeTarget = info.relativeTarget;
  f.targetPointer = info.targetPointer;
  f.targetPointerPointer = info.targetPointerPointer;
  fn_.farCalls.push_back(f);
}

bool Analyser::AddCaseTable(std::uint64_t table, std::uint64_t count, std::uint8_t entrySize, std::uint64_t jumpAt,
                            std::uint64_t tableBase) {
  if (count == 0 || count > limits_.caseEntries) return false;
  std::vector<std::uint64_t> targets;
  for (std::uint64_t k = 0; k < count; ++k) {
    std::uint64_t t = 0;
    if (entrySize == 4) {
      std::int32_t rel = 0;
      if (!SafeRead(table + k * 4, &rel, 4, &guard_)) return false;
      t = tableBase + std::uint64_t(std::int64_t(rel));
    } else if (!SafeRead(table + k * 8, &t, 8, &guard_)) {
      return false;
    }
    if (!InExtent(t)) return false;  // not a table of this function after all
    targets.push_back(t);
  }
  TCodeArea tableArea;
  tableArea.begin = table;
  tableArea.end = table + count * entrySize;
  tableArea.caseTable = true;
  tableArea.caseEntrySize = entrySize;
  tableArea.caseBase = tableBase;
  tableArea.caller = jumpAt;
  fn_.codeAreas.push_back(tableArea);
  for (std::uint64_t t : targets)
    if (!AddArea(t, jumpAt, TRegState{})) return false;
  return true;
}

bool Analyser::AnalyseArea(std::size_t index) {
  std::uint64_t pc = fn_.codeAreas[index].begin;
  TRegState regs = fn_.codeAreas[index].regs;
  current_ = index;
  splits_.clear();
  SwitchState sw;
  for (;;) {
    // The limit: the next area above, or the function's end.
    std::uint64_t limit = extentEnd_;
    for (const auto& a : fn_.codeAreas)
      if (!a.caseTable && a.begin > pc && a.begin < limit) limit = a.begin;
    if (++instructions_ > limits_.instructions) return Fail(pc, kErrorInvalidCode, kInvalidCodeText);
    TDisAsmParts d;
    TRegState before = regs;
    CodeInfo info = DecodeInstruction(pc, &guard_, &regs, &d);
    currentPc_ = info.next;
    if (!info.valid || info.next > limit) {
      fn_.codeAreas[index].end = pc;
      current_ = ~std::size_t(0);
      return Fail(pc, kErrorInvalidCode, kInvalidCodeText);
    }
    const std::uint8_t op = d.opcode;
    const bool oneByte = d.map == OpMap::OneByte && d.encoding == Encoding::Legacy;
    bool ends = false;

    // Switch bound: cmp reg, imm then ja/jae.
    bool keepPending = false;
    if (oneByte && (op == 0x83 || op == 0x81) && d.mod == 3 && ((d.modrm >> 3) & 7) == 7) {
      sw.pendingBound = true;
      sw.cmpValue = std::uint64_t(d.imm);
      keepPending = true;
    } else if (sw.pendingBound && info.jump && info.relativeTarget) {
      std::uint8_t cc = d.map == OpMap::Map0F ? std::uint8_t(op - 0x80) : std::uint8_t(op - 0x70);
      bool jccForm = (oneByte && op >= 0x70 && op <= 0x7F) || (d.map == OpMap::Map0F && op >= 0x80 && op <= 0x8F);
      if (jccForm && (cc == 7 || cc == 0xF)) { sw.bound = sw.cmpValue + 1; sw.haveBound = true; }
      if (jccForm && (cc == 3 || cc == 0xD)) { sw.bound = sw.cmpValue; sw.haveBound = true; }
    }
    if (!keepPending) sw.pendingBound = false;
    if (oneByte && op == 0x63 && d.hasSib && d.scale == 4 && d.mod == 0 && before.Known(d.base)) {
      sw.table = before.value[d.base];
      sw.tableReg = d.reg;
    }

    if (info.call) {
      if (info.target != 0) AddFarCall(info);
      else if (!(info.relativeTarget)) fn_.unknownTargets.push_back({true, info.address, info.next});
    } else if (info.jump) {
      bool unconditional = oneByte && (op == 0xE9 || op == 0xEB || op == 0xFF);
      if (oneByte && op == 0xFF) {
        bool handled = false;
        unsigned r = (d.modrm >> 3) & 7;
        if (r == 4 && d.mod == 3 && sw.haveBound && sw.table != 0 && sw.tableReg == d.rm) {
          handled = AddCaseTable(sw.table, sw.bound, 4, info.address, sw.table);
        } else if (r == 4 && d.mod == 0 && d.hasSib && d.scale == 8 && (d.base & 7) == 5 && sw.haveBound) {
          handled = AddCaseTable(std::uint64_t(std::uint32_t(d.disp)), sw.bound, 8, info.address, 0);
        }
        if (!handled) {
          if (info.target != 0) AddFarCall(info);
          else fn_.unknownTargets.push_back({false, info.address, info.next});
        }
        if (fn_.errorNumber) return false;
      } else if (info.target != 0) {
        if (InExtent(info.target)) {
          if (!AddArea(info.target, info.address, regs)) return false;
        } else {
          AddFarCall(info);  // a tail call
        }
      }
      if (unconditional) ends = true;
    }
    if (oneByte && (op == 0xC2 || op == 0xC3 || op == 0xCA || op == 0xCB || op == 0xCF || op == 0xF4)) ends = true;
    if (d.map == OpMap::Map0F && d.encoding == Encoding::Legacy && op == 0x0B) ends = true;  // ud2
    if (d.length && info.jump == false && oneByte && op == 0xCC && pc != entry_) ends = true;

    pc = info.next;
    // A call whose code ends exactly at the function's end does not return.
    if (!ends && pc >= extentEnd_) ends = true;
    if (ends) return FinishArea(index, pc);
    if (pc >= limit) return FinishArea(index, pc) && AddArea(pc, 0, regs);
  }
}

void Analyser::ComputeInterceptable() {
  // The first 6 bytes may be overwritten when they lie in straight code from
  // the entry and hold no branch that cannot be moved.
  std::uint64_t covered = entry_;
  std::uint64_t pc = entry_;
  while (pc < entry_ + 6) {
    CodeInfo info = DecodeInstruction(pc, &guard_);
    if (!info.valid) return;
    if ((info.call || info.jump) &&
        (info.target == 0 || (info.relativeTarget && info.targetSize < 4 && !info.enlargeable)))
      return;
    pc = info.next;
  }
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& a : fn_.codeAreas)
      if (!a.caseTable && a.begin <= covered && a.end > covered && (a.begin == entry_ || a.caller == 0)) {
        covered = a.end;
        grew = true;
      }
  }
  fn_.interceptable = covered > entry_ + 5;
}

TFunctionInfo Analyser::Run() {
  fn_.entryPoint = entry_;
  if (guard_.ReadableFrom(entry_, 1) == 0) {
    Fail(entry_, kErrorInvalidParameter, kInvalidParameterText);
    return fn_;
  }
  if (extentEnd_ <= entry_) {
    // No extent known: as far as the mapping goes, within 64 KB.
    extentEnd_ = entry_ + guard_.ReadableFrom(entry_, 0x10000);
  }
  AddArea(entry_, 0, TRegState{});
  for (;;) {
    std::size_t next = fn_.codeAreas.size();
    for (std::size_t i = 0; i < fn_.codeAreas.size(); ++i)
      if (!fn_.codeAreas[i].caseTable && fn_.codeAreas[i].end == 0) { next = i; break; }
    if (next == fn_.codeAreas.size()) break;
    if (!AnalyseArea(next) || fn_.errorNumber) return fn_;
  }
  std::sort(fn_.codeAreas.begin(), fn_.codeAreas.end(),
            [](const TCodeArea& a, const TCodeArea& b) { return a.begin < b.begin; });
  std::uint64_t lo = ~std::uint64_t(0), hi = 0;
  for (const auto& a : fn_.codeAreas) {
    if (a.caseTable && !InExtent(a.begin)) continue;  // tables in read-only data
    lo = std::min(lo, a.begin);
    hi = std::max(hi, a.end);
  }
  fn_.codeBegin = lo;
  fn_.codeLength = hi - lo;
  // Calls whose target stayed unknown but that a known area now explains are
  // not left in the list twice.
  std::sort(fn_.unknownTargets.begin(), fn_.unknownTargets.end(),
            [](const TUnknownTargetCall& a, const TUnknownTargetCall& b) { return a.address < b.address; });
  fn_.unknownTargets.erase(std::unique(fn_.unknownTargets.begin(), fn_.unknownTargets.end(),
                                       [](const TUnknownTargetCall& a, const TUnknownTargetCall& b) {
                                         return a.address == b.address;
                                       }),
                           fn_.unknownTargets.end());
  ComputeInterceptable();
  fn_.valid = true;
  return fn_;
}

}  // namespace

TFunctionInfo AnalyseFunction(std::uint64_t entry, std::uint64_t extentEnd, const TDATryRead& guard,
                              const TAnalyseLimits& limits) {
  return Analyser(entry, extentEnd, guard, limits).Run();
}

}  // namespace zeb
