#pragma once

// The call stack of one thread as the bug report shows it: one line per
// frame with its address, the offset into its function, module, unit, line
// and function name, plus the checksums that tell repeated reports apart.
//
// Frames come from the unwind tables (DWARF call-frame information) of the
// loaded files, walked from a thread's registers (a signal's ucontext or a
// snapshot) or taken from a list of return addresses recorded earlier (the
// stack of a thrown exception). Stack memory is read with process_vm_readv on
// the own process, so a broken stack or a wild stack pointer ends the walk
// instead of faulting the reporter.

#include <ucontext.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zeb {

// The general registers in DWARF order: rax, rdx, rcx, rbx, rsi, rdi, rbp,
// rsp, r8 to r15, and rip (the return-address column).
struct TThreadRegisters {
  std::uint64_t regs[17] = {};
  std::uint64_t Rip() const { return regs[16]; }
  std::uint64_t Rsp() const { return regs[7]; }
  std::uint64_t Rbp() const { return regs[6]; }
};

TThreadRegisters RegistersFromContext(const ucontext_t& context);
// A context holding just these registers (everything else zero).
ucontext_t ContextFromRegisters(const TThreadRegisters& registers);
// The calling thread's registers, taken inside this function: a walk from
// them starts here (leave the top item out to start at the caller).
TThreadRegisters CurrentThreadRegisters();

// One frame before resolution.
struct TRawFrame {
  std::uint64_t pc = 0;
  // pc is the instruction itself (the interrupted one); otherwise pc is a
  // return address and the frame shows the call before it.
  bool exact = false;
};

// A frame after resolution; the input of ComposeResult.
struct TResolvedFrame {
  std::uint64_t address = 0;       // shown: the instruction or the call site
  std::uint64_t functionStart = 0; // 0 when unknown
  std::string moduleName;          // without folder; "???" for no module
  std::string unitName;
  int absoluteLine = 0;            // with relative lines: the line of the address
  int line = 0;                    // the line, or its distance from the function's first line
  bool lineIsDistance = false;
  std::string functionName;
  bool final = false;              // the top item
  bool creator = false;
};

// A structured line of the result.
struct TStackItem {
  std::uint64_t address = 0;
  std::uint64_t offset = 0;
  std::string moduleName, unitName;
  int absoluteLine = 0, line = 0;
  std::string functionName;
};
using TStackTrace = std::vector<TStackItem>;

struct TTraceOptions {
  bool hideUglyItems = false;
  bool showRelAddrs = true;
  bool showRelLines = true;
  // Leave out the first frame (the walker's own when tracing the caller).
  bool leaveOutTop = false;
  // The trace is of the thread that raised the exception: a failure names the
  // exception location.
  bool exceptionThread = false;
  std::uint64_t currentAddress = 0;
  // Where the thread was created; shown last.
  std::uint64_t creatorAddress = 0;
  const std::atomic<bool>* abort = nullptr;
  std::size_t maxFrames = 256;
  bool wantItems = false;
  // The program's own file name (empty: the running program's): its first
  // frame is the exception location.
  std::string ownModule;
};

struct TTraceResult {
  std::string text;
  bool hasLineNumbers = false;
  std::uint32_t firstCrc = 0;
  std::uint32_t chainedCrc = 0;
  std::uint64_t exceptionAddress = 0;   // the youngest frame's address
  // The frame the listing shows: the first in the program's own file with a
  // function; else the faulting frame, else the first with a function and a
  // line, else the first with a function. Its function's start and the
  // address shown on its line.
  std::uint64_t exceptionFunction = 0;
  std::uint64_t exceptionLocation = 0;
  TStackTrace items;
};

// The frames the unwind tables give from the registers, youngest first.
std::vector<TRawFrame> UnwindFrames(const TThreadRegisters& registers, std::size_t maxFrames,
                                    const std::atomic<bool>* abort = nullptr);

// The walk from registers, resolved and formatted.
TTraceResult TraceStack(const TThreadRegisters& registers, const TTraceOptions& options);
// Walked frames (UnwindFrames, taken early while the thread is stopped),
// resolved and formatted later.
TTraceResult TraceFrames(std::vector<TRawFrame> frames, const TTraceOptions& options);
// A recorded stack: the exception address (exact; 0 when none) and the return
// addresses above it, youngest first.
TTraceResult TracePreparedStack(std::uint64_t exceptionAddress, const std::vector<std::uint64_t>& returnAddresses,
                                const TTraceOptions& options);

// The repeated parts of a recursion, shown once (youngest first in and out).
void RemoveRecursiveAreas(std::vector<TRawFrame>& frames);
// Names the frames from the debug information.
std::vector<TResolvedFrame> ResolveFrames(const std::vector<TRawFrame>& frames, bool showRelLines);
// The text, the checksums and the locations of resolved frames.
TTraceResult ComposeResult(const std::vector<TResolvedFrame>& frames, const TTraceOptions& options);

// One address as a line: 16 hex digits, the offset from its function, module,
// unit, line and function; " +0 ???" (or " ???") without debug information.
std::string FormatStackAddress(std::uint64_t address, bool showRelAddrs, bool showRelLines);
// ">> internal error in <routine>", with the exception location when given.
std::string InternalErrorText(std::string_view routine, bool showRelAddrs, bool showRelLines,
                              std::uint64_t exceptionAddress = 0);

// Reads count bytes of this process without faulting; false for an
// unreadable range.
bool ReadOwnMemory(std::uint64_t address, void* destination, std::size_t count);

}  // namespace zeb
