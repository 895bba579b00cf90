// The stack scanner's call test and prescan over a hand-made stack, and the
// exception-address correction.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crashreport/zebStackScan.h"
#include "crashreport/zebMapFile.h"
#include "crashreport/zebReport.h"
#include "tests/crashreport/CodeFixture.h"
#include "tests/crashreport/FaultReport.h"

using namespace zeb;

TEST(zebStackScan, FollowsCallKnowsTheLongModeForms) {
  Page page;
  ASSERT_TRUE(page.p);
  struct Case {
    std::vector<std::uint8_t> code;
    bool call;
  } cases[] = {
      {{0xE8, 0x10, 0x00, 0x00, 0x00}, true},
      {{0xE8, 0x00, 0x00, 0x00, 0x00}, false},                    // call $+5
      {{0xFF, 0xD0}, true},                                       // call rax
      {{0x41, 0xFF, 0xD3}, true},                                 // call r11
      {{0xFF, 0x15, 0x10, 0x20, 0x00, 0x00}, true},               // call [rip+x]
      {{0xFF, 0x54, 0x24, 0x08}, true},                           // call [rsp+8]
      {{0x41, 0xFF, 0x94, 0xC4, 0x00, 0x01, 0x00, 0x00}, true},   // call [r12+rax*8+$100]
      {{0x3E, 0xFF, 0xD0}, true},                                 // notrack call rax
      {{0xFF, 0xE0}, false},                                      // jmp rax
      {{0x48, 0x89, 0xC7}, false},                                // mov rdi, rax
      {{0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90}, false},  // looks like nothing
  };
  TDATryRead guard = ReadGuardStart();
  for (const auto& c : cases) {
    std::memset(page.p, 0x90, 64);
    std::memcpy(page.p + 32 - c.code.size(), c.code.data(), c.code.size());
    CodeInfo info;
    EXPECT_EQ(FollowsCall(page.Address(32), guard, &info), c.call) << int(c.code[0]) << " " << c.code.size();
  }
  // At the start of a mapping there is nothing before to read.
  EXPECT_FALSE(FollowsCall(page.Address(0), ReadGuardFromMaps(""), nullptr));
}

// A stack of 32 slots: two frame-pointer frames whose return addresses follow
// calls, one planted value that only points into code but behind no call,
// and an unanchored return address between.
TEST(zebStackScan, PrescanFindsReturnAddressesAndAnchors) {
  Page code;
  ASSERT_TRUE(code.p);
  std::memset(code.p, 0x90, 256);
  code.p[16] = 0xE8;  // call ... ; returns to 21
  std::memset(code.p + 17, 0x11, 4);
  code.p[40] = 0xFF;  // call rax; returns to 42
  code.p[41] = 0xD0;
  const std::uint64_t ret1 = code.Address(21), ret2 = code.Address(42), planted = code.Address(64);

  std::vector<std::uint64_t> stack(32, 0);
  auto slot = [&](std::size_t i) { return reinterpret_cast<std::uint64_t>(&stack[i]); };
  // Frame at 4: saved rbp -> frame at 20; return address at 5.
  stack[4] = slot(20);
  stack[5] = ret1;
  stack[10] = planted;
  stack[14] = ret2;  // no frame: found by the scan alone
  stack[20] = 0;     // outermost frame
  stack[21] = ret2;
  TDATryRead guard = ReadGuardStart();
  std::vector<TPrescanItem> items = PrescanStack(slot(4), slot(32), slot(0), guard);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].slot, slot(21));
  EXPECT_TRUE(items[0].framePointerSlot);
  EXPECT_EQ(items[1].slot, slot(14));
  EXPECT_FALSE(items[1].framePointerSlot);
  EXPECT_EQ(items[2].slot, slot(5));
  EXPECT_TRUE(items[2].framePointerSlot);
  EXPECT_EQ(items[2].value, ret1);

  // The stop value ends the scan; an unreadable range gives nothing.
  EXPECT_EQ(PrescanStack(slot(4), slot(32), slot(0), guard, ret2).size(), 0u);
  EXPECT_TRUE(PrescanStack(0, 0x2000, 0x1000, ReadGuardFromMaps("")).empty());
}

// An address 4 bytes short of an instruction start (inside an instruction)
// moves to that start; an address that is already one stays.
TEST(zebStackScan, CorrectExceptionAddress) {
  Page page;
  ASSERT_TRUE(page.p);
  Emitter e{page.p};
  const std::uint64_t entry = e.Here();
  e.Bytes({0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8});  // mov rax, imm64 (10 bytes)
  e.Bytes({0x90, 0xC3});
  TDATryRead guard = ReadGuardStart();
  EXPECT_EQ(CorrectExceptionAddress(entry + 6, entry, e.Here(), guard), entry + 10);
  EXPECT_EQ(CorrectExceptionAddress(entry + 10, entry, e.Here(), guard), entry + 10);
  EXPECT_EQ(CorrectExceptionAddress(entry + 3, entry, e.Here(), guard), entry + 3);  // +4 is no start either
}

extern "C" void crashprobe_asm_fault(std::uint64_t planted);

// With the function the debug information names: push rbx; push rdi; sub
// rsp, 8 (4 bytes at +2); xor eax, eax (+6); mov dword ptr [rax], 1 (+8).
TEST(zebStackScan, CorrectExceptionAddressOfASymbol) {
  const auto f = reinterpret_cast<std::uint64_t>(&crashprobe_asm_fault);
  EXPECT_EQ(CorrectExceptionAddress(f + 4), f + 8);
  EXPECT_EQ(CorrectExceptionAddress(f + 8), f + 8);
  EXPECT_EQ(CorrectExceptionAddress(f + 3), f + 3);
  EXPECT_EQ(CorrectExceptionAddress(0), 0u);
}

// Hand-made code and stack: the chain goes from the anchor through the calls
// that lead into each other; a call with an unknown target bridges to the
// next known one; values behind calls that lead nowhere on the chain are left
// out; a frame found otherwise ends the chain.
TEST(zebStackScan, ScanCallChainFollowsTheCallsThatLeadIntoEachOther) {
  Page code;
  ASSERT_TRUE(code.p);
  Emitter e{code.p};
  auto at = [&](std::size_t offset) {
    e.at = offset;
    return e.Here();
  };
  const std::uint64_t f0 = at(0x000);
  e.Bytes({0x90, 0x90, 0xC3});
  const std::uint64_t f1 = at(0x100);
  e.Bytes({0xE8});
  e.Rel32To(f0);
  const std::uint64_t ret1 = e.Here();
  e.Bytes({0xC3});
  const std::uint64_t f2 = at(0x200);
  e.Bytes({0xE8});
  e.Rel32To(f1);
  const std::uint64_t ret2 = e.Here();
  e.Bytes({0xC3});
  const std::uint64_t decoyTarget = at(0x380);
  e.Bytes({0xC3});
  at(0x300);
  e.Bytes({0xE8});
  e.Rel32To(decoyTarget);
  const std::uint64_t decoy = e.Here();
  e.Bytes({0xC3});
  const std::uint64_t f3 = at(0x400);
  e.Bytes({0xFF, 0xD0});  // call rax
  const std::uint64_t ret3 = e.Here();
  e.Bytes({0xC3});
  at(0x500);
  e.Bytes({0xE8});
  e.Rel32To(f3);
  const std::uint64_t ret4 = e.Here();
  e.Bytes({0xC3});

  std::vector<std::uint64_t> stack{0x1234, decoy, ret1, 0, decoy, ret2, ret3, ret4, 0, 0};
  TScanAnchor anchor;
  anchor.pc = f0 + 1;
  anchor.exact = true;
  anchor.stackPointer = reinterpret_cast<std::uint64_t>(stack.data());
  const std::uint64_t top = reinterpret_cast<std::uint64_t>(stack.data() + stack.size());
  const TDATryRead guard = ReadGuardStart();

  std::size_t joined = 99;
  EXPECT_EQ(ScanCallChain(anchor, top, guard, nullptr, {}, &joined), (std::vector<std::uint64_t>{ret1, ret2, ret3, ret4}));
  EXPECT_EQ(joined, 0u);
  // Frames found otherwise: the chain stops where it meets one.
  EXPECT_EQ(ScanCallChain(anchor, top, guard, nullptr, {0x5678, ret3, ret4}, &joined),
            (std::vector<std::uint64_t>{ret1, ret2, ret3}));
  EXPECT_EQ(joined, 1u);
  // An anchor no known call leads into: only the call with an unknown target
  // can have led there.
  anchor.pc = at(0x600);
  e.Bytes({0x90, 0xC3});
  EXPECT_EQ(ScanCallChain(anchor, top, guard, nullptr), (std::vector<std::uint64_t>{ret3, ret4}));
  // An anchor that is a return address is found as a return point.
  anchor.pc = ret1;
  anchor.exact = false;
  anchor.stackPointer = reinterpret_cast<std::uint64_t>(stack.data() + 3);
  EXPECT_EQ(ScanCallChain(anchor, top, guard, nullptr), (std::vector<std::uint64_t>{ret2, ret3, ret4}));
}

// ---- The walker's fallback over real frames -------------------------------------

extern "C" void crashprobe_asm_call(void (*callback)(), std::uint64_t planted);
extern "C" char crashprobe_decoy_return[];

namespace {

std::vector<TRawFrame> walked;

__attribute__((noinline)) void WalkHere() {
  walked = UnwindFrames(CurrentThreadRegisters(), 64);
  asm volatile("" ::: "memory");
}

// The address a frame stands for: its instruction or its call.
std::uint64_t CallOf(const TRawFrame& f) { return f.exact ? f.pc : f.pc - 1; }

__attribute__((noinline)) void CallThroughAssembly() {
  crashprobe_asm_call(&WalkHere, reinterpret_cast<std::uint64_t>(crashprobe_decoy_return));
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void OuterCaller() {
  CallThroughAssembly();
  asm volatile("" ::: "memory");
}

}  // namespace

// The walk goes from C++ code with unwind entries through an assembly
// function without any: the callers above it still come in order, and the
// value the assembly function keeps on its stack, which points just behind a
// call nobody is in, is no frame.
TEST(zebStackScan, TheWalkGoesOnAboveCodeWithoutUnwindEntries) {
  OuterCaller();
  auto at = [&](void* function, std::size_t from) {
    const std::uint64_t f = reinterpret_cast<std::uint64_t>(function);
    for (std::size_t i = from; i < walked.size(); ++i) {
      const TMapFilePtr reader = LoadDebugInfo(CallOf(walked[i]));
      if (reader && reader->PublicAt(CallOf(walked[i])).address == f) return i;
    }
    return walked.size();
  };
  const std::size_t walk = at(reinterpret_cast<void*>(&WalkHere), 0);
  const std::size_t assembly = at(reinterpret_cast<void*>(&crashprobe_asm_call), walk);
  const std::size_t caller = at(reinterpret_cast<void*>(&CallThroughAssembly), assembly);
  const std::size_t outer = at(reinterpret_cast<void*>(&OuterCaller), caller);
  ASSERT_LT(walk, walked.size());
  EXPECT_EQ(assembly, walk + 1);
  EXPECT_EQ(caller, assembly + 1);
  EXPECT_EQ(outer, caller + 1);
  // The test body and gtest's frames go on above.
  EXPECT_GT(walked.size(), outer + 2);
  for (const TRawFrame& f : walked) EXPECT_NE(f.pc, reinterpret_cast<std::uint64_t>(crashprobe_decoy_return));
}

namespace {

__attribute__((noinline)) void FaultInAssembly() {
  crashprobe_asm_fault(reinterpret_cast<std::uint64_t>(crashprobe_decoy_return));
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void OuterFaultCaller() {
  FaultInAssembly();
  asm volatile("" ::: "memory");
}

}  // namespace

// A fault inside the assembly function: the report's call stack names it
// first, then its C++ callers in order, and never the decoy.
TEST(zebStackScan, TheReportOfAFaultInCodeWithoutUnwindEntriesListsItsCallers) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer owns SIGSEGV";
#endif
  const std::string report = faultreport::ReportOfFault([] { OuterFaultCaller(); });
  SCOPED_TRACE(report);
  const std::string stack = faultreport::Section(report, DefaultThreadTitle(gettid(), true));
  ASSERT_FALSE(stack.empty());
  std::vector<std::string> lines;
  for (std::size_t pos = 0; pos < stack.size();) {
    std::size_t end = stack.find("\r\n", pos);
    if (end == std::string::npos) end = stack.size();
    lines.push_back(stack.substr(pos, end - pos));
    pos = end + 2;
  }
  ASSERT_GE(lines.size(), 4u);
  EXPECT_NE(lines[0].find("crashprobe_asm_fault"), std::string::npos);
  EXPECT_NE(lines[1].find("FaultInAssembly"), std::string::npos);
  EXPECT_NE(lines[2].find("OuterFaultCaller"), std::string::npos);
  EXPECT_NE(lines[3].find("TheReportOfAFaultInCodeWithoutUnwindEntriesListsItsCallers"), std::string::npos);
  EXPECT_EQ(stack.find("decoy"), std::string::npos);
}
