#pragma once

// The crash reporter's x86-64 decoder and function analyser. The code it looks
// at may belong to any module or be garbage, so no byte is touched directly:
// every read goes through a read guard (a snapshot of the process's mappings)
// and process_vm_readv, and an unreadable byte makes an instruction invalid or
// an analysis fail, never a fault. Everything is bounded: an instruction is at
// most 15 bytes, an analysis has limits on instructions, areas and far calls.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zeb {

// ---- Read guard ---------------------------------------------------------------

struct TDATryRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;  // exclusive
  bool readable = false;
};

// Ranges covering the address space in order, neighbours of equal readability
// merged. Built from /proc/self/maps; a mapping counts as readable when it has
// the "r" permission.
struct TDATryRead {
  std::vector<TDATryRange> ranges;
  // Bytes readable from address on, up to max (0 when address is unreadable).
  std::size_t ReadableFrom(std::uint64_t address, std::size_t max) const;
};

// Builds the guard from a maps text (one "start-end perms ..." line each).
TDATryRead ReadGuardFromMaps(const std::string& mapsText);
TDATryRead ReadGuardStart();
inline void ReadGuardEnd(TDATryRead& guard) { guard.ranges.clear(); }

// Copies count bytes from this process's address source. Without a guard the
// kernel alone decides; a source of 0 always fails.
bool SafeRead(std::uint64_t source, void* destination, std::size_t count, const TDATryRead* guard);

// ---- Instructions -------------------------------------------------------------

enum : std::uint16_t {
  kPrefixLock = 1,
  kPrefixRepne = 2,
  kPrefixRep = 4,
  kPrefixOpSize = 8,     // 66
  kPrefixAddrSize = 16,  // 67
  kPrefixSegment = 32,
};

// Opcode maps: the one-byte map, 0F, 0F 38, 0F 3A (also the VEX/EVEX maps 1-3),
// and the EVEX-only maps 5 and 6 as 5 and 6.
enum class OpMap : std::uint8_t { OneByte = 0, Map0F = 1, Map0F38 = 2, Map0F3A = 3, Map5 = 5, Map6 = 6, Map3DNow = 7 };

enum class Encoding : std::uint8_t { Legacy, Vex, Evex };

// The parts of one decoded instruction, as the listing needs them.
struct TDisAsmParts {
  std::uint8_t length = 0;
  std::uint16_t prefixes = 0;
  std::uint8_t segment = 0;  // the override byte (26, 2E, 36, 3E, 64, 65), 0 = none
  std::uint8_t lastRepPrefix = 0;  // F2 or F3 as the mandatory-prefix choice, 0 = none
  std::uint8_t rex = 0;            // 40..4F, 0 = none
  Encoding encoding = Encoding::Legacy;
  OpMap map = OpMap::OneByte;
  std::uint8_t opcode = 0;
  // VEX/EVEX fields (R, X, B, W already folded into rex's bits 2..0 and 3).
  std::uint8_t vexL = 0;  // vector length: 0 = 128, 1 = 256, 2 = 512
  std::uint8_t vexPP = 0; // implied prefix: 0 none, 1 66, 2 F3, 3 F2
  std::uint8_t vvvv = 0;  // the extra source register (already inverted)
  bool hasModRM = false;
  std::uint8_t modrm = 0;
  std::uint8_t mod = 0, reg = 0, rm = 0;  // reg and rm extended by REX.R/REX.B
  bool hasSib = false;
  std::uint8_t scale = 0, index = 0, base = 0;  // index/base extended; index 4 = none
  bool ripRelative = false;
  std::uint8_t dispSize = 0;
  std::uint8_t dispOffset = 0;
  std::int64_t disp = 0;
  std::uint8_t immSize = 0;  // bytes of the (first) immediate
  std::uint8_t immOffset = 0;
  std::int64_t imm = 0;      // sign-extended
  std::uint8_t imm2Size = 0; // enter's level, extrq/insertq's second byte
  std::int64_t imm2 = 0;
  std::uint8_t operandSize = 4;  // 2, 4 or 8: the general-purpose operand size
  bool addressSize32 = false;    // 67 prefix
};

// One instruction's description.
struct CodeInfo {
  bool valid = false;
  // The one-byte opcode, 0x0F00 + the second byte, 0x3800 / 0x3A00 + the third
  // byte of the three-byte maps, and for VEX/EVEX the map in the high byte
  // (0x0100, 0x0200, 0x0300) with 0x8000 (VEX) or 0x4000 (EVEX) added.
  std::uint16_t opcode = 0;
  std::uint8_t modRM = 0;
  bool call = false;
  bool jump = false;
  bool relativeTarget = false;  // the target is given by a displacement
  std::uint64_t target = 0;
  // A relative branch: the address of its displacement. An indirect branch
  // through memory at a known address ([rip+x] or an absolute address): the
  // address of the memory cell that holds the target. call/jmp reg with a
  // known register: 0.
  std::uint64_t targetPointer = 0;
  // An indirect branch through a known memory cell: the address in the code of
  // the displacement that names the cell.
  std::uint64_t targetPointerPointer = 0;
  std::uint8_t targetSize = 0;  // bytes of the displacement or of the cell
  bool enlargeable = false;     // a short relative jump that has a rel32 form
  std::uint64_t address = 0;    // "this"
  std::uint64_t next = 0;
};

// What is known about the 16 general-purpose registers: the value a mov of an
// immediate or a lea of a RIP-relative address left there.
struct TRegState {
  std::uint64_t value[16] = {};
  std::uint16_t known = 0;  // bit per register
  bool Known(unsigned r) const { return (known >> r) & 1u; }
  void Set(unsigned r, std::uint64_t v) { value[r] = v; known = std::uint16_t(known | (1u << r)); }
  void Forget(unsigned r) { known = std::uint16_t(known & ~(1u << r)); }
  bool operator==(const TRegState& o) const;
};

// Decodes the instruction in bytes (which start at address) without touching
// any other memory: no memory targets are read. Returns false for invalid or
// truncated bytes. This is the core every other form uses.
bool DecodeParts(std::span<const std::uint8_t> bytes, TDisAsmParts& parts);

// The description of the instruction in bytes placed at address. A guard lets
// memory-indirect targets be read through it; without one they stay unknown.
CodeInfo DecodeBytes(std::span<const std::uint8_t> bytes, std::uint64_t address, const TDATryRead* guard = nullptr,
                     TRegState* regs = nullptr, TDisAsmParts* parts = nullptr);

// The description of the instruction at address in this process.
CodeInfo DecodeInstruction(std::uint64_t address, const TDATryRead* guard, TRegState* regs = nullptr,
                           TDisAsmParts* parts = nullptr);
CodeInfo DecodeInstruction(std::uint64_t address);

// Intel mnemonic of a decoded instruction, lower case ("" when the decoder
// knows its length but has no name for it).
std::string Mnemonic(const TDisAsmParts& parts);

// ---- Function analysis --------------------------------------------------------

struct TCodeArea {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;  // 0 while not yet analysed
  bool caseTable = false; // a jump table, not code
  std::uint8_t caseEntrySize = 0;  // 4 (32-bit offsets from caseBase) or 8 (addresses)
  std::uint64_t caseBase = 0;
  std::uint64_t caller = 0;  // the jump that leads here; 0 for the entry and fall-throughs
  TRegState regs;
};

struct TFarCall {
  bool call = false;  // false for a jump
  std::uint64_t address = 0;
  std::uint64_t next = 0;
  std::uint64_t target = 0;
  bool relativeTarget = false;
  std::uint64_t targetPointer = 0;
  std::uint64_t targetPointerPointer = 0;
};

struct TUnknownTargetCall {
  bool call = false;
  std::uint64_t address = 0;
  std::uint64_t next = 0;
};

inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInvalidCode = 0x770001;

struct TFunctionInfo {
  bool valid = false;
  std::uint64_t entryPoint = 0;
  std::uint64_t codeBegin = 0;
  std::uint64_t codeLength = 0;
  std::uint64_t errorAddress = 0;
  std::uint32_t errorNumber = 0;
  std::string errorText;
  std::vector<TCodeArea> codeAreas;
  std::vector<TFarCall> farCalls;
  std::vector<TUnknownTargetCall> unknownTargets;
  bool interceptable = false;
};

// Bounds of one analysis: a hostile function cannot make it run long.
struct TAnalyseLimits {
  std::size_t instructions = 100000;
  std::size_t areas = 4096;
  std::size_t farCalls = 4096;
  std::size_t caseEntries = 1024;
  unsigned thunkDepth = 4;
};

// Analyses the function at entry whose code lies in [entry, extentEnd) (the
// extent comes from the ELF symbol's size or the unwind entry). Jumps out of
// the extent count as far calls.
TFunctionInfo AnalyseFunction(std::uint64_t entry, std::uint64_t extentEnd, const TDATryRead& guard,
                              const TAnalyseLimits& limits = {});

}  // namespace zeb
