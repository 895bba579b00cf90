// The x86-64 decoder: single encodings whose lengths and branch kinds are easy
// to get wrong, reads that must fail instead of faulting, and a sweep over
// whole system libraries checked against a second decoder.

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crashreport/zebDisAsm.h"
#include "crashreport/zebElfCode.h"

#ifdef HIVESCOPE_HAVE_ZYDIS
#include <Zydis/Zydis.h>
#endif

using namespace zeb;

namespace {

std::vector<std::uint8_t> Hex(const char* text) {
  std::vector<std::uint8_t> out;
  unsigned v = 0;
  int n = 0;
  while (std::sscanf(text, " %2x%n", &v, &n) == 1) {
    out.push_back(std::uint8_t(v));
    text += n;
  }
  return out;
}

std::string HexOf(const std::uint8_t* p, std::size_t n) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02x ", p[i]);
    s += buf;
  }
  return s;
}

}  // namespace

TEST(zebDisAsm, SingleEncodings) {
  constexpr std::uint64_t at = 0x401000;
  struct Case {
    const char* bytes;
    bool valid;
    unsigned length;
    bool call, jump;
    std::uint64_t target;  // 0 = none
  } cases[] = {
      {"E8 00 00 00 00", true, 5, false, false, 0},            // call $+5 only reads RIP
      {"E8 10 00 00 00", true, 5, true, false, at + 0x15},
      {"E9 FB FF FF FF", true, 5, false, true, at},            // backwards
      {"EB FE", true, 2, false, true, at},
      {"0F 84 00 01 00 00", true, 6, false, true, at + 0x106},
      {"66 E8 00 01 00 00", true, 6, true, false, at + 0x106},  // 66 keeps rel32 in long mode
      {"E3 02", true, 2, false, true, at + 4},                 // jrcxz
      {"48 B8 88 77 66 55 44 33 22 11", true, 10, false, false, 0},
      {"B8 44 33 22 11", true, 5, false, false, 0},
      {"66 B8 22 11", true, 4, false, false, 0},
      {"A1 88 77 66 55 44 33 22 11", true, 9, false, false, 0},  // moffs64
      {"67 A1 44 33 22 11", true, 6, false, false, 0},
      {"48 8D 05 00 10 00 00", true, 7, false, false, 0},      // lea rax, [rip+...]
      {"42 8B 04 85 00 00 00 00", true, 8, false, false, 0},   // mov eax, [r8*4+0]
      {"C8 10 00 01", true, 4, false, false, 0},               // enter
      {"F7 C0 01 00 00 00", true, 6, false, false, 0},         // test eax, imm32
      {"F7 D8", true, 2, false, false, 0},                     // neg eax: no immediate
      {"66 0F 3A 0F C1 08", true, 6, false, false, 0},         // palignr
      {"C5 FD 6F 06", true, 4, false, false, 0},               // vmovdqa ymm0, [rsi]
      {"C4 E3 7D 38 C1 01", true, 6, false, false, 0},         // vinserti128
      {"C5 F8 77", true, 3, false, false, 0},                  // vzeroupper
      {"62 F1 7C 48 10 44 24 01", true, 8, false, false, 0},   // vmovups zmm0, [rsp+0x40]
      {"F3 0F 1E FA", true, 4, false, false, 0},               // endbr64
      {"0F 0F C1 B4", true, 4, false, false, 0},               // pfmul mm0, mm1
      {"06", false, 0, false, false, 0},
      {"60", false, 0, false, false, 0},
      {"9A 00 00 00 00 00 00", false, 0, false, false, 0},
      {"FF 38", false, 0, false, false, 0},                    // FF /7
      {"48 B8 88 77", false, 0, false, false, 0},              // truncated
      {"66 66 66 66 66 66 66 66 66 66 66 66 66 66 90", true, 15, false, false, 0},
      {"66 66 66 66 66 66 66 66 66 66 66 66 66 66 66 90", false, 0, false, false, 0},  // longer than 15
  };
  for (const auto& c : cases) {
    auto bytes = Hex(c.bytes);
    CodeInfo info = DecodeBytes(bytes, at);
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(info.valid, c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(info.next - info.address, c.length);
    EXPECT_EQ(info.call, c.call);
    EXPECT_EQ(info.jump, c.jump);
    EXPECT_EQ(info.target, c.target);
    if (c.target) {
      EXPECT_TRUE(info.relativeTarget);
      EXPECT_EQ(info.targetPointer, at + c.length - info.targetSize);
    }
  }
}

// call/jmp [rip+x]: the cell is next + displacement, and with a guard the
// target is the pointer stored there (as a PLT stub leads to its import).
TEST(zebDisAsm, IndirectThroughRipRelativeCell) {
  static std::uint64_t cell = 0x1234567890ULL;
  static std::uint8_t code[6] = {0xFF, 0x15, 0, 0, 0, 0};
  std::uint64_t at = reinterpret_cast<std::uint64_t>(code);
  std::int64_t rel = std::int64_t(reinterpret_cast<std::uint64_t>(&cell)) - std::int64_t(at + 6);
  ASSERT_TRUE(rel == std::int32_t(rel)) << "the cell is out of rel32 reach";
  std::int32_t rel32 = std::int32_t(rel);
  std::memcpy(code + 2, &rel32, 4);

  CodeInfo bare = DecodeBytes(code, at);
  EXPECT_TRUE(bare.call);
  EXPECT_EQ(bare.targetPointer, reinterpret_cast<std::uint64_t>(&cell));
  EXPECT_EQ(bare.targetPointerPointer, at + 2);
  EXPECT_EQ(bare.target, 0u);  // nothing read without a guard

  TDATryRead guard = ReadGuardStart();
  CodeInfo read = DecodeInstruction(at, &guard);
  EXPECT_TRUE(read.call);
  EXPECT_EQ(read.target, cell);

  code[1] = 0x25;  // jmp [rip+x]
  CodeInfo jump = DecodeInstruction(at, &guard);
  EXPECT_TRUE(jump.jump);
  EXPECT_FALSE(jump.call);
  EXPECT_EQ(jump.target, cell);
}

// Bytes in a page that is not mapped, or at the end of a mapping, make the
// instruction invalid; nothing faults.
TEST(zebDisAsm, UnreadableCodeIsInvalid) {
  long page = sysconf(_SC_PAGESIZE);
  auto* two = static_cast<std::uint8_t*>(
      mmap(nullptr, std::size_t(page) * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(two, MAP_FAILED);
  ASSERT_EQ(munmap(two + page, std::size_t(page)), 0);
  std::uint8_t* last = two + page - 3;  // mov eax, imm32 cut by the page end
  last[0] = 0xB8;
  last[1] = 0x01;
  last[2] = 0x02;
  TDATryRead guard = ReadGuardStart();
  const std::uint64_t gone = reinterpret_cast<std::uint64_t>(two + page);
  EXPECT_EQ(guard.ReadableFrom(gone, 8), 0u);
  EXPECT_EQ(guard.ReadableFrom(reinterpret_cast<std::uint64_t>(last), 8), 3u);
  EXPECT_FALSE(DecodeInstruction(gone, &guard).valid);
  EXPECT_FALSE(DecodeInstruction(gone).valid);
  EXPECT_FALSE(DecodeInstruction(reinterpret_cast<std::uint64_t>(last), &guard).valid);
  EXPECT_FALSE(DecodeInstruction(reinterpret_cast<std::uint64_t>(last)).valid);
  std::uint64_t value = 0;
  EXPECT_FALSE(SafeRead(gone, &value, 8, nullptr));
  EXPECT_FALSE(SafeRead(0, &value, 1, &guard));

  TFunctionInfo fn = AnalyseFunction(gone, gone + 64, guard);
  EXPECT_FALSE(fn.valid);
  EXPECT_EQ(fn.errorNumber, kErrorInvalidParameter);
  munmap(two, std::size_t(page));
}

TEST(zebDisAsm, ReadGuardFromMapsMergesAndOrders) {
  TDATryRead g = ReadGuardFromMaps(
      "1000-2000 r-xp 00000000 00:00 0 /x\n"
      "2000-3000 r--p 00000000 00:00 0 /x\n"
      "5000-6000 ---p 00000000 00:00 0\n"
      "garbage line\n"
      "7000-8000 rw-p 00000000 00:00 0\n");
  EXPECT_EQ(g.ReadableFrom(0x1000, 0x4000), 0x2000u);
  EXPECT_EQ(g.ReadableFrom(0x2FFF, 16), 1u);
  EXPECT_EQ(g.ReadableFrom(0x3000, 16), 0u);
  EXPECT_EQ(g.ReadableFrom(0x5800, 16), 0u);
  EXPECT_EQ(g.ReadableFrom(0x7FF0, 64), 16u);
  EXPECT_EQ(g.ReadableFrom(~std::uint64_t(0) - 1, 1), 0u);
  ASSERT_FALSE(g.ranges.empty());
  EXPECT_EQ(g.ranges.front().start, 0u);
}

#ifdef HIVESCOPE_HAVE_ZYDIS

namespace {

// The reference names some conditions and far returns differently.
bool SameMnemonic(const std::string& ours, const std::string& theirs) {
  if (ours == theirs) return true;
  static const char* const kAliases[][2] = {{"a", "nbe"}, {"ge", "nl"}, {"g", "nle"}};
  for (const char* head : {"j", "set", "cmov"}) {
    for (const auto& alias : kAliases)
      if (ours == std::string(head) + alias[0] && theirs == std::string(head) + alias[1]) return true;
  }
  return (ours == "retf" && theirs == "ret") || (ours == "sal" && theirs == "shl");
}

struct SweepResult {
  std::size_t instructions = 0;
  std::vector<std::string> mismatches;
};

// Sweeps [offset, offset + size) of the file, placed at address, with both
// decoders; each instruction the reference decodes must decode to the same
// length and, for branches, the same target.
void Sweep(const ZydisDecoder& zydis, const std::vector<std::uint8_t>& file, std::uint64_t offset,
           std::uint64_t size, std::uint64_t address, SweepResult& result) {
  std::uint64_t i = 0;
  while (i < size && result.mismatches.size() < 20) {
    const std::uint8_t* p = file.data() + offset + i;
    std::size_t left = std::size_t(std::min<std::uint64_t>(size - i, 15));
    ZydisDecodedInstruction ref;
    ZydisDecodedOperand ops[ZYDIS_MAX_OPERAND_COUNT];
    const std::uint64_t here = address + i;
    TDisAsmParts parts;
    CodeInfo ours = DecodeBytes(std::span<const std::uint8_t>(p, left), here, nullptr, nullptr, &parts);
    if (!ZYAN_SUCCESS(ZydisDecoderDecodeFull(&zydis, p, left, &ref, ops))) {
      i += 1;
      continue;
    }
    ++result.instructions;
    auto fail = [&](const std::string& what) {
      char head[64];
      std::snprintf(head, sizeof head, "%#llx: ", static_cast<unsigned long long>(here));
      result.mismatches.push_back(head + what + " [" + HexOf(p, ref.length) + "]");
    };
    if (!ours.valid || ours.next - here != ref.length) {
      fail("length " + std::to_string(ours.valid ? ours.next - here : 0) + " vs " + std::to_string(ref.length));
      i += ref.length;
      continue;
    }
    const bool evex = ref.encoding == ZYDIS_INSTRUCTION_ENCODING_EVEX;
    if (!evex) {
      const std::string theirs = ZydisMnemonicGetString(ref.mnemonic);
      const std::string ours = Mnemonic(parts);
      if (SameMnemonic(ours, theirs) == false) fail("mnemonic " + ours + " vs " + theirs);
    }
    const bool branch = ref.meta.category == ZYDIS_CATEGORY_CALL || ref.meta.category == ZYDIS_CATEGORY_COND_BR ||
                        ref.meta.category == ZYDIS_CATEGORY_UNCOND_BR;
    if (!evex && branch && ref.mnemonic != ZYDIS_MNEMONIC_XBEGIN) {
      ZyanU64 target = 0;
      const ZydisDecodedOperand& op = ops[0];
      bool relative = op.type == ZYDIS_OPERAND_TYPE_IMMEDIATE && op.imm.is_relative;
      bool ripCell = op.type == ZYDIS_OPERAND_TYPE_MEMORY && op.mem.base == ZYDIS_REGISTER_RIP &&
                     op.mem.index == ZYDIS_REGISTER_NONE;
      if ((relative || ripCell) && ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&ref, &op, here, &target))) {
        if (relative && target != ours.next) {
          if (ours.target != target || !ours.relativeTarget) fail("branch target");
          if ((ref.meta.category == ZYDIS_CATEGORY_CALL) != ours.call) fail("call kind");
        }
        if (ripCell && ref.mnemonic != ZYDIS_MNEMONIC_CALL && ref.mnemonic != ZYDIS_MNEMONIC_JMP) {
        } else if (ripCell && op.size == 64 && ours.targetPointer != target) {
          fail("indirect cell");
        }
      }
    }
    i += ref.length;
  }
}

}  // namespace

TEST(zebDisAsm, AgreesWithReferenceDecoderOnSystemLibraries) {
  ZydisDecoder zydis;
  ASSERT_TRUE(ZYAN_SUCCESS(ZydisDecoderInit(&zydis, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64)));
  const char* files[] = {"/usr/bin/ls", "/usr/lib/x86_64-linux-gnu/libz.so.1",
                         "/usr/lib/x86_64-linux-gnu/libQt6Core.so.6"};
  for (const char* path : files) {
    SCOPED_TRACE(path);
    TElfCode code = ReadElfCode(path);
    if (!code.valid) {
      GTEST_SKIP() << path << " is not there to compare with";
    }
    SweepResult result;
    std::uint64_t covered = 0;
    for (const auto& f : code.functions) {
      Sweep(zydis, code.bytes, f.fileOffset, f.size, f.address, result);
      covered += f.size;
    }
    // A stripped program names few of its functions: its whole .text too.
    if (covered < code.textSize / 2) Sweep(zydis, code.bytes, code.textOffset, code.textSize, code.textAddress, result);
    EXPECT_GT(result.instructions, 1000u);
    for (const auto& m : result.mismatches) ADD_FAILURE() << m;
  }
}

#endif
