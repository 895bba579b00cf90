// The stack scanner's call test and prescan over a hand-made stack, and the
// exception-address correction.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crashreport/zebStackScan.h"
#include "tests/crashreport/CodeFixture.h"

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
