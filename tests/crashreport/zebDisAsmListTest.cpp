// The function listing: the golden text of a small function (entry label,
// loc_ labels, the marker, call and string comments), case tables, the line
// limit around the location, and the text test for string comments.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crashreport/zebDisAsmText.h"
#include "tests/crashreport/CodeFixture.h"

using namespace zeb;

namespace {

std::string A(std::uint64_t a) { return Address(a); }
std::string H(std::uint64_t a) { return ShortHex(a); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  for (;;) {
    std::size_t end = text.find("\r\n", at);
    out.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return out;
    at = end + 2;
  }
}

}  // namespace

// push rbp; lea rdi, [rip+hello]; call puts; test eax, eax; jz skip;
// mov dword ptr [rax], 1 (the faulting store); skip: pop rbp; ret.
TEST(zebDisAsmList, GoldenListing) {
  Page page;
  ASSERT_TRUE(page.p);
  Emitter e{page.p};
  const std::uint64_t hello = page.Address(0x300);
  const std::uint64_t puts = page.Address(0x200);
  std::memcpy(page.p + 0x300, "Hello world", 12);
  const std::uint64_t entry = e.Here();
  e.Bytes({0x55});
  const std::uint64_t lea = e.Here();
  e.Bytes({0x48, 0x8D, 0x3D});
  e.Rel32To(hello);
  const std::uint64_t call = e.Here();
  e.Bytes({0xE8});
  e.Rel32To(puts);
  const std::uint64_t test = e.Here();
  e.Bytes({0x85, 0xC0, 0x74, 0x06});
  const std::uint64_t store = e.Here();
  e.Bytes({0xC7, 0x00, 0x01, 0x00, 0x00, 0x00});
  const std::uint64_t skip = e.Here();
  e.Bytes({0x5D, 0xC3});
  const std::uint64_t end = e.Here();

  TDisAsmHooks hooks;
  hooks.nameOf = [&](std::uint64_t a) -> std::string {
    if (a == entry) return "greet";
    if (a == puts) return "puts";
    return {};
  };
  hooks.moduleOf = [&](std::uint64_t a) -> std::string { return a == puts ? "libc.so.6" : ""; };
  TDATryRead guard = ReadGuardStart();
  TFunctionInfo info;
  std::string text = ListFunction(entry, end, guard, store, info, true, 0, hooks);
  ASSERT_TRUE(info.valid);
  const std::vector<std::string> expected = {
      A(entry) + " public greet:" + std::string(31 - 13, ' ') + "  ; function entry point",
      A(entry) + "   push    rbp",
      A(lea) + "   lea     rdi, [rip+$" + H(hello - (lea + 7)) + "]          ; 'Hello world'",
      A(call) + "   call    +$" + H(puts - (call + 5)) + " ($" + H(puts) + ")",
      A(test) + "   test    eax, eax",
      A(test + 2) + "   jz      loc_" + H(skip),
      A(store) + " > mov     dword ptr [rax], 1",
      A(skip) + " ",
      A(skip) + " loc_" + H(skip) + ":",
      A(skip) + "   pop     rbp",
      A(skip + 1) + "   ret",
  };
  std::vector<std::string> got = Lines(text);
  // The call's comment column depends on the operand's width; check it apart.
  ASSERT_EQ(got.size(), expected.size()) << text;
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (i == 3) {
      EXPECT_EQ(got[i].substr(0, expected[i].size()), expected[i]);
      EXPECT_NE(got[i].find("  ; puts (libc.so.6)"), std::string::npos) << got[i];
      continue;
    }
    std::string want = expected[i];
    if (i == 2) {
      // The comment starts at the comment column or one blank after a long operand.
      want = A(lea) + "   lea     rdi, [rip+$" + H(hello - (lea + 7)) + "]";
      while (want.size() < 16 + 32) want += ' ';
      want += "  ; 'Hello world'";
    }
    EXPECT_EQ(got[i], want) << "line " << i;
  }
}

TEST(zebDisAsmList, CaseTableLines) {
  Page page;
  ASSERT_TRUE(page.p);
  const SwitchFixture fx = BuildRelativeSwitch(page);
  TDATryRead guard = ReadGuardStart();
  TFunctionInfo info;
  std::string text = ListFunction(fx.entry, fx.end, guard, fx.entry, info, true, 0, TDisAsmHooks{});
  ASSERT_TRUE(info.valid);
  std::vector<std::string> dd;
  for (const auto& line : Lines(text))
    if (line.find("  dd loc_") != std::string::npos) dd.push_back(line.substr(17));
  ASSERT_EQ(dd.size(), 8u) << text;
  std::string first = "  dd loc_" + H(fx.cases[0]);
  first.resize(31, ' ');
  EXPECT_EQ(dd[0], first + "  ; case jump table");
  for (std::size_t k = 1; k < 8; ++k) EXPECT_EQ(dd[k], "  dd loc_" + H(fx.cases[k]));
  EXPECT_NE(text.find("public sub_" + H(fx.entry) + ":"), std::string::npos);
}

namespace {

volatile int switchSink = 0;
__attribute__((noinline)) void Note(int v) { switchSink = switchSink * 3 + v; }

// A switch the compiler turns into a jump table: every case does something
// of its own, so no lookup of constants can replace it.
__attribute__((noinline)) void EightWay(int k) {
  switch (k) {
    case 0: Note(11); break;
    case 1: switchSink = 7; break;
    case 2: Note(switchSink); break;
    case 3: switchSink += 5; break;
    case 4: Note(-3); Note(4); break;
    case 5: switchSink ^= 0x55; break;
    case 6: Note(switchSink * 2); break;
    case 7: switchSink -= 9; break;
    default: break;
  }
}

}  // namespace

// The compiler's own switch of 8 cases: 8 case areas beside the entry's, and
// eight "dd loc_" lines, the first with the comment.
TEST(zebDisAsmList, CompiledSwitchOfEightCases) {
  const auto entry = reinterpret_cast<std::uint64_t>(&EightWay);
  TDATryRead guard = ReadGuardStart();
  TFunctionInfo info;
  const std::string text = ListFunction(entry, 0, guard, entry, info, true, 0, TDisAsmHooks{});
  ASSERT_TRUE(info.valid) << info.errorText;
  std::size_t tables = 0;
  for (const TCodeArea& a : info.codeAreas) tables += a.caseTable;
  ASSERT_EQ(tables, 1u) << text;
  std::vector<std::string> dd;
  for (const auto& line : Lines(text))
    if (line.find("  dd loc_") != std::string::npos) dd.push_back(line);
  ASSERT_EQ(dd.size(), 8u) << text;
  EXPECT_NE(dd[0].find("  ; case jump table"), std::string::npos) << dd[0];
  for (std::size_t k = 1; k < 8; ++k) EXPECT_EQ(dd[k].find(';'), std::string::npos) << dd[k];
  // Every entry's target begins a code area of its own.
  for (const std::string& line : dd) {
    const std::uint64_t target = std::stoull(line.substr(line.find("loc_") + 4, 16), nullptr, 16);
    bool starts = false;
    for (const TCodeArea& a : info.codeAreas) starts |= !a.caseTable && a.begin == target;
    EXPECT_TRUE(starts) << line;
  }
  EightWay(3);  // keep it called
}

// With a limit of 5 the listing keeps 5 lines before and after the location,
// each cut side marked by "[...]"; a location near the entry cuts nothing before.
TEST(zebDisAsmList, LineLimitAroundTheLocation) {
  Page page;
  ASSERT_TRUE(page.p);
  Emitter e{page.p};
  const std::uint64_t entry = e.Here();
  for (int i = 0; i < 30; ++i) e.Bytes({0x90});
  e.Bytes({0xC3});
  TDATryRead guard = ReadGuardStart();
  TFunctionInfo info;
  auto lines = Lines(ListFunction(entry, e.Here(), guard, entry + 20, info, true, 5, TDisAsmHooks{}));
  ASSERT_EQ(lines.size(), 1u + 5u + 1u + 5u + 1u);
  EXPECT_EQ(lines.front(), "[...]");
  EXPECT_EQ(lines.back(), "[...]");
  EXPECT_EQ(lines[6], A(entry + 20) + " > nop");
  EXPECT_EQ(lines[1], A(entry + 15) + "   nop");

  lines = Lines(ListFunction(entry, e.Here(), guard, entry + 2, info, true, 5, TDisAsmHooks{}));
  EXPECT_NE(lines.front(), "[...]");
  EXPECT_EQ(lines[3], A(entry + 2) + " > nop");  // after the label line
  EXPECT_EQ(lines.back(), "[...]");
}

TEST(zebDisAsmList, TextTest) {
  struct Case {
    const char* bytes;
    bool text;
  } cases[] = {
      {"Hello world", true},
      {"abc", false},                  // too short
      {"a.b.c.d.e.f", false},          // punctuation outweighs letters
      {"\x01\x02\x03\x04\x05", false},  // control bytes
      {"Cannot open file %s\n", true},
      {"%s: %d [%x]", false},           // mostly signs
      {"\xe9\x12\x34\x56\x78\x9a", false},
  };
  TDATryRead guard = ReadGuardStart();
  for (const auto& c : cases) {
    std::string text;
    EXPECT_EQ(LooksLikeText(reinterpret_cast<std::uint64_t>(c.bytes), guard, text), c.text) << c.bytes;
  }
}

TEST(zebDisAsmList, UnreadableFunctionGivesNoText) {
  TDATryRead guard = ReadGuardFromMaps("");
  TFunctionInfo info;
  EXPECT_EQ(ListFunction(0x1000, 0x1100, guard, 0x1000, info, true, 5, TDisAsmHooks{}), "");
  EXPECT_EQ(info.errorNumber, kErrorInvalidParameter);
}
