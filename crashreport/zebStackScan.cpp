#include "crashreport/zebStackScan.h"

#include "crashreport/zebMapFile.h"

#include <elfutils/libdwfl.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <unordered_set>

namespace zeb {

bool FollowsCall(std::uint64_t returnAddress, const TDATryRead& guard, CodeInfo* call) {
  // The longest call form: REX, FF, ModRM, SIB, disp32 (8 bytes), with
  // segment or 67 prefixes a few more.
  constexpr std::size_t kBack = 12;
  if (returnAddress <= kBack) return false;
  std::uint8_t bytes[kBack];
  std::size_t have = kBack;
  while (have >= 2 && !SafeRead(returnAddress - have, bytes + (kBack - have), have, &guard)) --have;
  if (have < 2) return false;
  for (std::size_t k = 2; k <= have; ++k) {
    const std::uint8_t* p = bytes + (kBack - k);
    const std::uint8_t lead = p[0];
    // Only starts that can begin a call: E8, FF, a REX or a prefix before FF.
    if (lead != 0xE8 && lead != 0xFF && (lead & 0xF0) != 0x40 && lead != 0x67 && lead != 0x2E && lead != 0x3E &&
        lead != 0x64 && lead != 0x65)
      continue;
    CodeInfo info = DecodeBytes(std::span<const std::uint8_t>(p, k), returnAddress - k);
    if (!info.valid || info.next != returnAddress || !info.call) continue;
    if (call) *call = info;
    return true;
  }
  return false;
}

std::vector<TPrescanItem> PrescanStack(std::uint64_t framePointer, std::uint64_t stackTop, std::uint64_t stackBottom,
                                       const TDATryRead& guard, std::uint64_t stopValue, std::size_t maxItems) {
  std::vector<TPrescanItem> items;
  stackBottom = (stackBottom + 7) & ~std::uint64_t(7);
  stackTop &= ~std::uint64_t(7);
  if (stackTop <= stackBottom || guard.ReadableFrom(stackBottom, stackTop - stackBottom) < stackTop - stackBottom)
    return items;
  // The frame-pointer chain: each frame's return-address slot is frame + 8.
  std::vector<std::uint64_t> chain;
  for (std::uint64_t frame = framePointer; frame >= stackBottom && frame + 16 <= stackTop && chain.size() < maxItems;) {
    chain.push_back(frame + 8);
    std::uint64_t next = 0;
    if (!SafeRead(frame, &next, 8, &guard) || next <= frame) break;
    frame = next;
  }
  std::sort(chain.begin(), chain.end());
  // From the top (oldest frame) down.
  for (std::uint64_t slot = stackTop - 8; slot >= stackBottom && items.size() < maxItems; slot -= 8) {
    std::uint64_t value = 0;
    if (!SafeRead(slot, &value, 8, &guard)) break;
    if (stopValue && value == stopValue) break;
    if (FollowsCall(value, guard)) {
      const bool anchor = std::binary_search(chain.begin(), chain.end(), slot);
      items.push_back({anchor, slot, value});
      if (anchor) {
        if (slot < stackBottom + 8) break;
        slot -= 8;  // the saved frame pointer
      }
    }
    if (slot < stackBottom + 8) break;
  }
  return items;
}

std::uint64_t CorrectExceptionAddress(std::uint64_t address, std::uint64_t entry, std::uint64_t extentEnd,
                                      const TDATryRead& guard) {
  TFunctionInfo fn = AnalyseFunction(entry, extentEnd, guard);
  if (!fn.valid) return address;
  auto valid = [&](std::uint64_t a) {
    for (const auto& f : fn.farCalls)
      if (f.next == a) return true;
    for (const auto& u : fn.unknownTargets)
      if (u.next == a) return true;
    for (const auto& area : fn.codeAreas) {
      if (area.caseTable || a < area.begin || a >= area.end) continue;
      for (std::uint64_t pc = area.begin; pc < area.end && pc <= a;) {
        if (pc == a) return true;
        CodeInfo info = DecodeInstruction(pc, &guard);
        if (!info.valid) break;
        pc = info.next;
      }
    }
    return false;
  };
  if (!valid(address) && valid(address + 4)) return address + 4;
  return address;
}

namespace {

// The function a call leads to, behind the stubs that only jump on (the
// procedure linkage table's "endbr64; jmp [rip+slot]").
std::uint64_t BehindThunks(std::uint64_t target, const TDATryRead& guard) {
  for (int depth = 0; depth < 4 && target; ++depth) {
    std::uint64_t pc = target;
    std::uint8_t head[4] = {};
    if (SafeRead(pc, head, 4, &guard) && head[0] == 0xF3 && head[1] == 0x0F && head[2] == 0x1E && head[3] == 0xFA)
      pc += 4;  // endbr64
    const CodeInfo info = DecodeInstruction(pc, &guard);
    if (!info.valid || !info.jump || info.call || info.target == 0) break;
    // Only an unconditional jump makes a stub; a conditional one starts real code.
    TDisAsmParts parts;
    DecodeInstruction(pc, &guard, nullptr, &parts);
    const bool unconditional = parts.map == OpMap::OneByte && (parts.opcode == 0xE9 || parts.opcode == 0xEB ||
                                                                 parts.opcode == 0xFF);
    if (!unconditional) break;
    target = info.target;
  }
  return target;
}

// What the scan knows of a function a call leads to: where its calls return
// to and which code it covers.
struct TCallee {
  bool valid = false;
  std::unordered_set<std::uint64_t> returnPoints;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> code;  // areas, without case tables
};

class ChainScan {
public:
  ChainScan(const TDATryRead& guard, TExtentOf extentOf) : guard_(guard), extentOf_(extentOf) {}

  // The function a call leads to and the ones it tail-jumps to, merged.
  const TCallee& Callee(std::uint64_t target) {
    auto found = cache_.find(target);
    if (found != cache_.end()) return found->second;
    TCallee& callee = cache_[target];
    std::vector<std::uint64_t> pending{target};
    for (std::size_t i = 0; i < pending.size() && i < 4; ++i) {
      const std::uint64_t entry = pending[i];
      const TFunctionInfo fn = AnalyseFunction(entry, extentOf_ ? extentOf_(entry) : 0, guard_, Limits());
      if (!fn.valid) continue;
      callee.valid = true;
      for (const TFarCall& f : fn.farCalls) {
        if (f.call) callee.returnPoints.insert(f.next);
        else if (f.target && std::find(pending.begin(), pending.end(), f.target) == pending.end())
          pending.push_back(BehindThunks(f.target, guard_));
      }
      for (const TUnknownTargetCall& u : fn.unknownTargets)
        if (u.call) callee.returnPoints.insert(u.next);
      for (const TCodeArea& a : fn.codeAreas)
        if (!a.caseTable) callee.code.emplace_back(a.begin, a.end);
    }
    return callee;
  }

  static TAnalyseLimits Limits() {
    TAnalyseLimits limits;
    limits.instructions = 20000;  // a scan may analyse many functions
    return limits;
  }

private:
  const TDATryRead& guard_;
  TExtentOf extentOf_;
  std::map<std::uint64_t, TCallee> cache_;
};

}  // namespace

std::vector<std::uint64_t> ScanCallChain(const TScanAnchor& anchor, std::uint64_t stackTop, const TDATryRead& guard,
                                         TExtentOf extentOf, const std::vector<std::uint64_t>& knownOlder,
                                         std::size_t* joined, std::size_t maxCandidates) {
  if (joined) *joined = knownOlder.size();
  std::vector<std::uint64_t> chain;
  if (stackTop <= anchor.stackPointer) return chain;
  // A bounded stretch of stack: the youngest frames matter most.
  stackTop = std::min(stackTop, anchor.stackPointer + 512 * 1024);
  std::vector<TPrescanItem> items = PrescanStack(anchor.framePointer, stackTop, anchor.stackPointer, guard);
  std::reverse(items.begin(), items.end());  // youngest first
  if (items.size() > maxCandidates) items.resize(maxCandidates);
  const std::size_t n = items.size();

  // The call before each candidate and where it leads (0 when unknown).
  struct Candidate {
    std::uint64_t value = 0;
    std::uint64_t target = 0;
  };
  std::vector<Candidate> candidates(n);
  for (std::size_t i = 0; i < n; ++i) {
    candidates[i].value = items[i].value;
    CodeInfo call;
    if (!FollowsCall(items[i].value, guard, &call)) continue;
    const CodeInfo withMemory = DecodeInstruction(call.address, &guard);
    const std::uint64_t target = withMemory.valid && withMemory.next == items[i].value ? withMemory.target : call.target;
    candidates[i].target = BehindThunks(target, guard);
  }

  ChainScan scan(guard, extentOf);
  // Whether the call before candidate c leads into the function that holds
  // the younger position (its return address, or the anchor's instruction).
  auto leadsTo = [&](std::size_t c, std::uint64_t position, bool exact) {
    const TCallee& callee = scan.Callee(candidates[c].target);
    if (!callee.valid) return false;
    if (!exact) return callee.returnPoints.count(position) != 0;
    for (const auto& [begin, end] : callee.code)
      if (position >= begin && position < end) return true;
    return false;
  };

  // Score of the best chain from the anchor to each candidate: a link through
  // a known call target counts much, one through an unknown target costs a
  // little, so such links only bridge to further known ones.
  constexpr std::int64_t kKnown = std::int64_t(1) << 20;
  constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::min();
  std::vector<std::int64_t> score(n, kNone);
  std::vector<std::ptrdiff_t> previous(n, -1);  // -1: the anchor
  for (std::size_t c = 0; c < n; ++c) {
    const bool known = candidates[c].target != 0;
    auto consider = [&](std::int64_t base, std::ptrdiff_t from, std::uint64_t position, bool exact) {
      if (base == kNone) return;
      std::int64_t s = base;
      if (known) {
        if (!leadsTo(c, position, exact)) return;
        s += kKnown;
      } else {
        s -= 1;
      }
      if (s > score[c]) {
        score[c] = s;
        previous[c] = from;
      }
    };
    consider(0, -1, anchor.pc, anchor.exact);
    for (std::size_t d = 0; d < c; ++d) consider(score[d], std::ptrdiff_t(d), candidates[d].value, false);
  }

  // The end of the chain: the youngest frame found otherwise that the chain
  // reaches (on its best path), else the best score.
  std::ptrdiff_t end = -1;
  std::size_t joinIndex = knownOlder.size();
  for (std::size_t c = 0; c < n; ++c) {
    if (score[c] == kNone) continue;
    const auto k = std::find(knownOlder.begin(), knownOlder.end(), candidates[c].value);
    if (k == knownOlder.end()) continue;
    const std::size_t index = std::size_t(k - knownOlder.begin());
    if (end < 0 || index < joinIndex || (index == joinIndex && score[c] > score[std::size_t(end)])) {
      end = std::ptrdiff_t(c);
      joinIndex = index;
    }
  }
  if (end < 0) {
    std::int64_t best = 0;
    for (std::size_t c = 0; c < n; ++c)
      if (score[c] != kNone && score[c] > best) {
        best = score[c];
        end = std::ptrdiff_t(c);
      }
  }
  for (std::ptrdiff_t c = end; c >= 0; c = previous[std::size_t(c)]) chain.push_back(candidates[std::size_t(c)].value);
  std::reverse(chain.begin(), chain.end());
  if (joined) *joined = joinIndex;
  return chain;
}

std::uint64_t MappingEnd(std::uint64_t address) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    char* rest = nullptr;
    const std::uint64_t start = std::strtoull(line.c_str(), &rest, 16);
    if (!rest || *rest != '-') continue;
    const std::uint64_t end = std::strtoull(rest + 1, nullptr, 16);
    if (address >= start && address < end) return end;
  }
  return 0;
}

namespace {

bool HasUnwindEntry(Dwfl* dwfl, std::uint64_t pc) {
  Dwfl_Module* module = dwfl ? dwfl_addrmodule(dwfl, pc) : nullptr;
  if (!module) return false;
  for (int kind = 0; kind < 2; ++kind) {
    Dwarf_Addr bias = 0;
    Dwarf_CFI* cfi = kind == 0 ? dwfl_module_eh_cfi(module, &bias) : dwfl_module_dwarf_cfi(module, &bias);
    Dwarf_Frame* frame = nullptr;
    if (cfi && dwarf_cfi_addrframe(cfi, pc - bias, &frame) == 0) {
      std::free(frame);
      return true;
    }
  }
  return false;
}

// The end of the symbol that starts at entry; 0 when no symbol starts there.
std::uint64_t ExtentFromSymbol(std::uint64_t entry) {
  if (TMapFilePtr reader = LoadDebugInfo(entry)) {
    const TMfPublic p = reader->PublicAt(entry);
    if (p.valid && p.address == entry && p.size) return entry + p.size;
  }
  return 0;
}

}  // namespace

std::uint64_t CorrectExceptionAddress(std::uint64_t address) {
  if (!address) return address;
  TMapFilePtr reader = LoadDebugInfo(address);
  if (!reader) return address;
  const TMfPublic p = reader->PublicAt(address);
  if (!p.valid || !p.code || !p.size || address < p.address || address >= p.address + p.size) return address;
  return CorrectExceptionAddress(address, p.address, p.address + p.size, ReadGuardStart());
}

void ExtendByStackScan(Dwfl* dwfl, std::vector<TRawFrame>& frames, const TThreadRegisters& registers,
                       std::size_t maxFrames) {
  if (frames.empty() || registers.Rsp() == 0) return;
  // The first frame without an unwind entry; a return address is looked up
  // at its call.
  std::size_t first = 0;
  while (first < frames.size() &&
         HasUnwindEntry(dwfl, frames[first].exact ? frames[first].pc : frames[first].pc - 1))
    ++first;
  if (first == frames.size()) return;
  const TDATryRead guard = ReadGuardStart();
  TScanAnchor anchor;
  anchor.pc = frames[first].pc;
  anchor.exact = frames[first].exact;
  anchor.stackPointer = registers.Rsp();
  anchor.framePointer = registers.Rbp();
  // A younger anchor's stack pointer lies just above the slot of its return
  // address: the slots of the frames before it are found in order.
  for (std::size_t i = 1; i <= first; ++i) {
    std::uint64_t slot = anchor.stackPointer & ~std::uint64_t(7), value = 0;
    const std::uint64_t limit = slot + 64 * 1024;
    while (slot < limit && SafeRead(slot, &value, 8, &guard) && value != frames[i].pc) slot += 8;
    if (value != frames[i].pc) return;  // the stack does not hold the walked frames
    anchor.stackPointer = slot + 8;
    anchor.framePointer = 0;
  }
  std::vector<std::uint64_t> guessed;
  for (std::size_t i = first + 1; i < frames.size(); ++i) guessed.push_back(frames[i].pc);
  std::size_t joined = guessed.size();
  const std::vector<std::uint64_t> chain =
      ScanCallChain(anchor, MappingEnd(anchor.stackPointer), guard, &ExtentFromSymbol, guessed, &joined);
  std::vector<TRawFrame> result(frames.begin(), frames.begin() + std::ptrdiff_t(first) + 1);
  for (std::uint64_t a : chain) result.push_back({a, false});
  for (std::size_t i = joined + 1; i < guessed.size(); ++i) result.push_back({guessed[i], false});
  if (result.size() > maxFrames) result.resize(maxFrames);
  frames = std::move(result);
}

}  // namespace zeb
