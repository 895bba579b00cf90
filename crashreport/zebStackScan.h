#pragma once

// The stack scanner's first steps, for stacks the unwind tables do not
// describe (hand-written assembly, generated code, garbage registers): which
// stack slots hold an address just behind a call, and the frame-pointer
// chain that anchors them. Choosing the chain among the candidates needs the
// function extents of the symbol reader and is done by the walker on top.

#include <cstdint>
#include <vector>

#include "crashreport/zebDisAsm.h"

namespace zeb {

// Whether returnAddress follows a call: E8 rel32, FF /2 or /3 with any REX,
// ModRM, SIB and displacement (FF 15 rel32 included). "call $+5" does not
// count, since it only reads RIP. call receives the decoded call.
bool FollowsCall(std::uint64_t returnAddress, const TDATryRead& guard, CodeInfo* call = nullptr);

struct TPrescanItem {
  bool framePointerSlot = false;  // the slot belongs to the frame-pointer chain: an anchor
  std::uint64_t slot = 0;         // address of the stack slot
  std::uint64_t value = 0;        // the return address it holds
};

// Scans the 8-byte slots of [stackBottom, stackTop) from the top down: every
// value that follows a call is an item, oldest frame first. The frame-pointer
// chain from framePointer marks its return-address slots; the saved frame
// pointer below such a slot is skipped. With a stop value the scan ends at
// the first slot holding it. An unreadable range gives no items.
std::vector<TPrescanItem> PrescanStack(std::uint64_t framePointer, std::uint64_t stackTop, std::uint64_t stackBottom,
                                       const TDATryRead& guard, std::uint64_t stopValue = 0,
                                       std::size_t maxItems = 4096);

// The exception address as reports show it: when address is no valid
// position in the function [entry, extentEnd) (not a return point of one of
// its calls, not the start of an instruction of one of its code areas) but
// address + 4 is, address + 4; else address unchanged. The function's extent
// comes from the symbol reader or the unwind entry.
std::uint64_t CorrectExceptionAddress(std::uint64_t address, std::uint64_t entry, std::uint64_t extentEnd,
                                      const TDATryRead& guard);

}  // namespace zeb
