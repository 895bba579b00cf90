// The Intel-syntax text of single instructions, checked against the system's
// objdump on an assembled fixture once number forms and size keywords are
// brought to one form.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "crashreport/zebDisAsmText.h"

using namespace zeb;

namespace {

// Lower case, no size keywords, no blanks, every number as "#" + hex, a
// displacement as a signed value, a branch as its target alone.
std::string Normalise(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (const char* cut : {"#", "<"}) {
    auto at = s.find(cut);
    if (at != std::string::npos) s.resize(at);
  }
  auto open = s.find(" ($");
  if (open != std::string::npos) {
    // Our relative form: "+$x ($target)".
    auto start = s.rfind(' ', open - 1);
    s = s.substr(0, start == std::string::npos ? 0 : start + 1) + s.substr(open + 2, s.find(')', open) - open - 2);
  }
  for (const char* keyword : {"byte ptr ", "word ptr ", "dword ptr ", "qword ptr ", "tbyte ptr ", "oword ptr ",
                              "xmmword ptr ", "yword ptr ", "ymmword ptr ", "zword ptr ", "zmmword ptr "}) {
    for (auto at = s.find(keyword); at != std::string::npos; at = s.find(keyword))
      if (at == 0 || !std::isalpha(static_cast<unsigned char>(s[at - 1]))) s.erase(at, std::string(keyword).size());
      else break;
  }
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const char c = s[i];
    const bool prevAlnum = !out.empty() && (std::isalnum(static_cast<unsigned char>(out.back())) || out.back() == '(');
    if (c == ' ') { ++i; continue; }
    unsigned long long v = 0;
    std::size_t len = 0;
    if (c == '$' || (c == '0' && i + 1 < s.size() && s[i + 1] == 'x')) {
      std::size_t from = i + (c == '$' ? 1 : 2);
      len = from - i;
      while (from + (len - (c == '$' ? 1 : 2)) < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + len]))) ++len;
      v = std::stoull(s.substr(from, i + len - from), nullptr, 16);
    } else if (std::isdigit(static_cast<unsigned char>(c)) && !prevAlnum) {
      while (i + len < s.size() && std::isdigit(static_cast<unsigned char>(s[i + len]))) ++len;
      v = std::stoull(s.substr(i, len));
    }
    if (len == 0) { out += c; ++i; continue; }
    i += len;
    // Two's complement displacements and immediates: by value.
    long long sv = static_cast<long long>(v);
    if (!out.empty() && out.back() == '+' && sv < 0) { out.back() = '-'; sv = -sv; }
    if (!out.empty() && out.back() == '-' && (out.size() < 2 || out[out.size() - 2] == ',' )) {
      out.pop_back();
      sv = -sv;
    }
    std::uint64_t canon = std::uint64_t(sv);
    if (sv >= -(1LL << 31) && sv < (1LL << 32)) canon &= 0xffffffffULL;
    char buf[24];
    std::snprintf(buf, sizeof buf, "#%llx", static_cast<unsigned long long>(canon));
    out += buf;
  }
  return out;
}

std::string Canonical(const std::string& mnemonic) {
  static const std::map<std::string, std::string> kAliases = {
      {"je", "jz"}, {"jne", "jnz"}, {"sete", "setz"}, {"setne", "setnz"}, {"cmove", "cmovz"},
      {"cmovne", "cmovnz"}, {"movabs", "mov"}, {"jae", "jnb"}, {"setae", "setnb"}};
  auto it = kAliases.find(mnemonic);
  return it == kAliases.end() ? mnemonic : it->second;
}

}  // namespace

TEST(zebDisAsmText, NumberForms) {
  EXPECT_EQ(FormatNumber(9), "9");
  EXPECT_EQ(FormatNumber(10), "$a");
  EXPECT_EQ(FormatSigned(-9), "-9");
  EXPECT_EQ(FormatSigned(-16), "-$10");
  EXPECT_EQ(RegisterName(4, 1, false), "ah");
  EXPECT_EQ(RegisterName(4, 1, true), "spl");
  EXPECT_EQ(RegisterName(13, 2, true), "r13w");
}

TEST(zebDisAsmText, AgreesWithObjdumpOnFixture) {
#ifndef HIVESCOPE_DISASM_FIXTURE
  GTEST_SKIP() << "nasm was not there to assemble the fixture";
#else
  std::ifstream in(HIVESCOPE_DISASM_FIXTURE, std::ios::binary);
  ASSERT_TRUE(in) << HIVESCOPE_DISASM_FIXTURE;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string command =
      std::string("objdump -D -b binary -m i386:x86-64 -M intel ") + HIVESCOPE_DISASM_FIXTURE + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) GTEST_SKIP() << "objdump cannot be run";
  std::vector<std::pair<std::uint64_t, std::string>> reference;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    unsigned long long at = 0;
    char hexBytes[128], text[256];
    // "   1a:\t48 89 e5             \tmov    rbp,rsp"
    if (std::sscanf(line, " %llx:\t%127[0-9a-f ]\t%255[^\n]", &at, hexBytes, text) == 3) reference.push_back({at, text});
  }
  pclose(pipe);
  if (reference.empty()) GTEST_SKIP() << "objdump gave no listing";
  std::size_t compared = 0;
  for (const auto& [at, text] : reference) {
    TDisAsmParts parts;
    CodeInfo info = DecodeBytes(std::span<const std::uint8_t>(bytes.data() + at, std::min<std::size_t>(15, bytes.size() - at)),
                                at, nullptr, nullptr, &parts);
    ASSERT_TRUE(info.valid) << text;
    const std::string mnemonic = Mnemonic(parts);
    std::string ours = mnemonic;
    auto ops = FormatOperands(parts, info, mnemonic);
    for (std::size_t i = 0; i < ops.size(); ++i) ours += (i ? "," : " ") + ops[i];
    std::string theirMnemonic = text.substr(0, text.find(' '));
    std::string theirOperands = text.find(' ') == std::string::npos ? "" : text.substr(text.find(' '));
    EXPECT_EQ(Canonical(mnemonic), Canonical(theirMnemonic)) << std::hex << at << ": " << text;
    std::string ourOperands = ours.find(' ') == std::string::npos ? "" : ours.substr(ours.find(' '));
    // Vector registers above 15 and masks of EVEX are not spelled out.
    if (parts.encoding == Encoding::Evex) continue;
    EXPECT_EQ(Normalise(ourOperands), Normalise(theirOperands))
        << std::hex << at << ": ours \"" << ours << "\", objdump \"" << text << "\"";
    ++compared;
  }
  EXPECT_GT(compared, 100u);
#endif
}
