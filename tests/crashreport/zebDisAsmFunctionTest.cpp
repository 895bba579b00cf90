// Function analysis over hand-assembled fixtures placed in memory (nothing is
// executed): switch tables of both shapes, thunks, tail calls, loops back
// into the area being analysed, and bounds that stop hostile code.

#include <gtest/gtest.h>
#include <link.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "crashreport/zebDisAsm.h"
#include "crashreport/zebElfCode.h"
#include "tests/crashreport/CodeFixture.h"

using namespace zeb;

namespace {

std::size_t CountCaseTables(const TFunctionInfo& fn) {
  return std::size_t(std::count_if(fn.codeAreas.begin(), fn.codeAreas.end(),
                                   [](const TCodeArea& a) { return a.caseTable; }));
}

bool HasArea(const TFunctionInfo& fn, std::uint64_t begin) {
  return std::any_of(fn.codeAreas.begin(), fn.codeAreas.end(),
                     [&](const TCodeArea& a) { return !a.caseTable && a.begin == begin; });
}

}  // namespace

// cmp edi, 7; ja default; lea rdx, [rip+table]; movsxd rax, [rdx+rdi*4];
// add rax, rdx; jmp rax, with eight cases and a table of 32-bit offsets that
// lies after the function's end, as in read-only data.
TEST(zebDisAsmFunction, RelativeSwitchTableGivesCaseAreas) {
  Page page;
  ASSERT_TRUE(page.p);
  const SwitchFixture fx = BuildRelativeSwitch(page);
  const std::uint64_t entry = fx.entry, end = fx.end, table = fx.table, dflt = fx.dflt;
  const auto& cases = fx.cases;
  TDATryRead guard = ReadGuardStart();
  TFunctionInfo fn = AnalyseFunction(entry, end, guard);
  ASSERT_TRUE(fn.valid) << fn.errorText << " at " << std::hex << fn.errorAddress - entry;
  ASSERT_EQ(CountCaseTables(fn), 1u);
  auto tableArea = std::find_if(fn.codeAreas.begin(), fn.codeAreas.end(), [](auto& a) { return a.caseTable; });
  EXPECT_EQ(tableArea->begin, table);
  EXPECT_EQ(tableArea->end, table + 32);
  EXPECT_EQ(tableArea->caseEntrySize, 4);
  for (std::uint64_t c : cases) EXPECT_TRUE(HasArea(fn, c)) << std::hex << c - entry;
  EXPECT_TRUE(HasArea(fn, dflt));
  EXPECT_EQ(fn.codeAreas.size(), 1u + 8u + 1u + 1u);  // entry, cases, default, table
  EXPECT_EQ(fn.codeBegin, entry);
  EXPECT_EQ(fn.codeLength, end - entry);
  EXPECT_TRUE(fn.unknownTargets.empty());
}

// jmp [table + rdi*8] with absolute addresses, bound by jae (N entries).
TEST(zebDisAsmFunction, AbsoluteSwitchTable) {
  Page page(MAP_32BIT);
  if (!page.p) GTEST_SKIP() << "no memory below 2 GB for an absolute table";
  Emitter e{page.p};
  const std::uint64_t entry = e.Here();
  const std::uint64_t table = page.Address(0x400);
  e.Bytes({0x83, 0xFF, 0x04});         // cmp edi, 4
  e.Bytes({0x0F, 0x83});               // jae default (rel32)
  const std::size_t jaeAt = e.at;
  e.U32(0);
  e.Bytes({0xFF, 0x24, 0xFD});         // jmp [table + rdi*8]
  e.U32(std::uint32_t(table));
  std::vector<std::uint64_t> cases;
  for (int k = 0; k < 4; ++k) {
    cases.push_back(e.Here());
    e.Bytes({0x6A, k, 0x58, 0xC3});    // push k; pop rax; ret
  }
  const std::uint64_t dflt = e.Here();
  std::int32_t rel = std::int32_t(dflt - page.Address(jaeAt + 4));
  std::memcpy(page.p + jaeAt, &rel, 4);
  e.Bytes({0xC3});
  const std::uint64_t end = e.Here();
  e.at = 0x400;
  for (std::uint64_t c : cases) e.U64(c);

  TDATryRead guard = ReadGuardStart();
  TFunctionInfo fn = AnalyseFunction(entry, end, guard);
  ASSERT_TRUE(fn.valid) << fn.errorText;
  ASSERT_EQ(CountCaseTables(fn), 1u);
  for (std::uint64_t c : cases) EXPECT_TRUE(HasArea(fn, c));
  EXPECT_EQ(fn.codeAreas.size(), 1u + 4u + 1u + 1u);
}

// call to a stub "endbr64; jmp [rip+cell]" records the function the cell
// names; a jmp out of the extent is a tail call; a loop back into the area
// being analysed splits it.
TEST(zebDisAsmFunction, CallsThunksTailCallsAndLoops) {
  Page page;
  ASSERT_TRUE(page.p);
  Emitter e{page.p};
  const std::uint64_t stub = page.Address(0x800);
  const std::uint64_t cell = page.Address(0x900);
  const std::uint64_t imported = 0x7f0000123450ULL;
  const std::uint64_t outside = page.Address(0xA00);
  const std::uint64_t entry = e.Here();
  e.Bytes({0x31, 0xC0});                     // xor eax, eax
  const std::uint64_t loop = e.Here();
  e.Bytes({0xE8});                           // call stub
  e.Rel32To(stub);
  e.Bytes({0xFF, 0xC0, 0x83, 0xF8, 0x03});   // inc eax; cmp eax, 3
  e.Bytes({0x75, int(loop - (e.Here() + 2)) & 0xFF});  // jne loop
  e.Bytes({0xFF, 0xD1});                     // call rcx: unknown target
  e.Bytes({0xE8, 0, 0, 0, 0});               // call $+5: no call at all
  e.Bytes({0xE9});                           // jmp outside: a tail call
  e.Rel32To(outside);
  const std::uint64_t end = e.Here();
  e.at = 0x800;
  e.Bytes({0xF3, 0x0F, 0x1E, 0xFA, 0xFF, 0x25});
  e.Rel32To(cell);
  e.at = 0x900;
  e.U64(imported);

  TDATryRead guard = ReadGuardStart();
  TFunctionInfo fn = AnalyseFunction(entry, end, guard);
  ASSERT_TRUE(fn.valid) << fn.errorText;
  ASSERT_EQ(fn.farCalls.size(), 2u);
  std::sort(fn.farCalls.begin(), fn.farCalls.end(), [](auto& a, auto& b) { return a.address < b.address; });
  EXPECT_TRUE(fn.farCalls[0].call);
  EXPECT_EQ(fn.farCalls[0].target, imported);
  EXPECT_FALSE(fn.farCalls[1].call);
  EXPECT_EQ(fn.farCalls[1].target, outside);
  ASSERT_EQ(fn.unknownTargets.size(), 1u);
  EXPECT_TRUE(fn.unknownTargets[0].call);
  // The areas tile the code without overlap: [entry, loop) and [loop, end).
  ASSERT_EQ(fn.codeAreas.size(), 2u);
  EXPECT_EQ(fn.codeAreas[0].begin, entry);
  EXPECT_EQ(fn.codeAreas[0].end, loop);
  EXPECT_EQ(fn.codeAreas[1].begin, loop);
  EXPECT_EQ(fn.codeAreas[1].end, end);
  EXPECT_EQ(fn.codeLength, end - entry);
  // The loop head is reached by a jump, so only 2 straight bytes lead from the
  // entry: too few to overwrite.
  EXPECT_FALSE(fn.interceptable);
}

// Garbage, code that runs past its end, and code longer than the budget give
// the invalid-code error; nothing faults, nothing runs long.
TEST(zebDisAsmFunction, BadCodeGivesTheError) {
  Page page(0, 4096 * 2);
  ASSERT_TRUE(page.p);
  TDATryRead guard = ReadGuardStart();
  struct Case {
    const char* what;
    std::vector<std::uint8_t> code;
    std::size_t extent;
    std::size_t instructionBudget;
  } cases[] = {
      {"invalid opcode", {0x90, 0x06}, 2, 100000},
      {"runs past the end", {0x90, 0xB8, 1, 2, 3, 4}, 3, 100000},
      {"budget", std::vector<std::uint8_t>(4000, 0x90), 4000, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::memset(page.p, 0xCC, page.size);
    std::memcpy(page.p, c.code.data(), c.code.size());
    TAnalyseLimits limits;
    limits.instructions = c.instructionBudget;
    TFunctionInfo fn = AnalyseFunction(page.Address(), page.Address(c.extent), guard, limits);
    EXPECT_FALSE(fn.valid);
    EXPECT_EQ(fn.errorNumber, kErrorInvalidCode);
    EXPECT_EQ(fn.errorText, "Invalid code!");
  }
  // Code that runs into an unmapped page.
  ASSERT_EQ(munmap(page.p + 4096, 4096), 0);
  std::memset(page.p + 4090, 0x90, 6);
  TDATryRead after = ReadGuardStart();
  TFunctionInfo fn = AnalyseFunction(page.Address(4090), page.Address(4096 + 100), after);
  EXPECT_FALSE(fn.valid);
  EXPECT_EQ(fn.errorNumber, kErrorInvalidCode);
  page.size = 4096;
}

namespace {

int FindLibrary(dl_phdr_info* info, size_t, void* data) {
  auto* out = static_cast<std::pair<std::string, std::uint64_t>*>(data);
  if (info->dlpi_name && std::strstr(info->dlpi_name, "libz.so")) {
    out->first = info->dlpi_name;
    out->second = info->dlpi_addr;
    return 1;
  }
  return 0;
}

}  // namespace

// Every function of the loaded compression library, with the extent its symbol
// gives, analyses without a fault, and nearly all of them validly.
TEST(zebDisAsmFunction, AnalysesALoadedLibrary) {
  std::pair<std::string, std::uint64_t> lib;
  dl_iterate_phdr(FindLibrary, &lib);
  if (lib.first.empty()) GTEST_SKIP() << "the compression library is linked statically";
  TElfCode code = ReadElfCode(lib.first);
  ASSERT_TRUE(code.valid);
  ASSERT_FALSE(code.functions.empty());
  TDATryRead guard = ReadGuardStart();
  std::vector<std::string> invalid;
  std::size_t cases = 0;
  for (const auto& f : code.functions) {
    TFunctionInfo fn = AnalyseFunction(lib.second + f.address, lib.second + f.address + f.size, guard);
    if (!fn.valid) invalid.push_back(f.name + ": " + fn.errorText);
    cases += CountCaseTables(fn);
  }
  for (const auto& s : invalid) ADD_FAILURE() << s;
  EXPECT_GT(cases, 0u) << "inflate's state machine is a switch";
}
