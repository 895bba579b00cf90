#include "crashreport/zebStackScan.h"

#include <algorithm>

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

}  // namespace zeb
