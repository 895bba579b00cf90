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
// The same for the function the debug information names at address; an
// address in no known function stays.
std::uint64_t CorrectExceptionAddress(std::uint64_t address);

}  // namespace zeb

// ---- Candidate chain ------------------------------------------------------------

namespace zeb {

// Where the chain search starts: the youngest frame the unwind tables could
// not go beyond.
struct TScanAnchor {
  std::uint64_t pc = 0;
  bool exact = false;            // pc is the interrupted instruction, not a return address
  std::uint64_t stackPointer = 0;  // the frame's stack pointer: its callers' slots lie above
  std::uint64_t framePointer = 0;
};

// The function extent for an entry point (0 when unknown: the analysis then
// follows the code as far as it goes).
using TExtentOf = std::uint64_t (*)(std::uint64_t entry);

// Above the anchor, every stack slot below stackTop whose value follows a call
// is a candidate. An older candidate links to a younger one (or the anchor)
// when the younger one's call site (or the anchor's instruction) lies in the
// function the older one's call leads to; a call with an unknown target links
// too, but weaker. The chain with the most known links wins, so a value that
// only looks like a return address and that no call leads into is left out.
// Returns the chain's return addresses, youngest first. When a link of the
// chain reaches one of the return addresses in knownOlder (frames found
// otherwise, youngest first), the chain ends there and *joined receives its
// index in knownOlder (else knownOlder.size()).
std::vector<std::uint64_t> ScanCallChain(const TScanAnchor& anchor, std::uint64_t stackTop, const TDATryRead& guard,
                                         TExtentOf extentOf, const std::vector<std::uint64_t>& knownOlder = {},
                                         std::size_t* joined = nullptr, std::size_t maxCandidates = 2048);

// The end of the mapping that holds address (a thread's stack top for its
// stack pointer); 0 when no mapping holds it.
std::uint64_t MappingEnd(std::uint64_t address);

}  // namespace zeb

// ---- The walker's fallback ------------------------------------------------------

#include "crashreport/zebStackTrace.h"

typedef struct Dwfl Dwfl;

namespace zeb {

// Frames the unwind tables gave (youngest first) end or go wrong at the first
// frame whose code has no unwind entry (hand-written assembly, generated
// code): the walk past it guessed from the frame pointer. From that frame on
// the candidate chain replaces the guessed frames, up to where it meets one
// of them again. Frames with unwind entries throughout stay as they are.
void ExtendByStackScan(Dwfl* dwfl, std::vector<TRawFrame>& frames, const TThreadRegisters& registers,
                       std::size_t maxFrames);

}  // namespace zeb
